// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/QorSplash.h"

#include "common/AppTitle.h"
#include "common/RegisteredMessages.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QScreen>
#include <QThread>
#include <QWindow>

#include <algorithm>

namespace {
TFrmQorSplash *GSplash = nullptr;
// Grows only, and outlives every splash, so a later splash is never narrower.
int GContentWidth = 0;

const QColor SplashBackground(0, 0, 99);
const QColor Aqua(0, 255, 255);
const QColor Yellow(255, 255, 0);

QFont SplashFont(int pixelSize, bool bold)
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

QFont TitleFont()
{
    QFont font(QStringLiteral("Times New Roman"));
    font.setStyleHint(QFont::Serif);
    font.setPixelSize(19);
    font.setBold(true);
    font.setItalic(true);
    return font;
}

// A panel with a raised outer and a lowered inner bevel, one pixel each.
class TBevelPanel : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const QColor light(255, 255, 255);
        const QColor dark(128, 128, 128);
        DrawFrame(painter, rect(), light, dark);
        DrawFrame(painter, rect().adjusted(1, 1, -1, -1), dark, light);
    }

private:
    static void DrawFrame(QPainter &painter, const QRect &r, const QColor &topLeft, const QColor &bottomRight)
    {
        painter.setPen(topLeft);
        painter.drawLine(r.left(), r.top(), r.right(), r.top());
        painter.drawLine(r.left(), r.top(), r.left(), r.bottom());
        painter.setPen(bottomRight);
        painter.drawLine(r.right(), r.top(), r.right(), r.bottom());
        painter.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    }
};

// A raised line: light above, shadow below.
class TBevelLine : public QFrame {
public:
    using QFrame::QFrame;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setPen(QColor(255, 255, 255));
        painter.drawLine(0, 0, width() - 1, 0);
        painter.setPen(QColor(128, 128, 128));
        painter.drawLine(0, 1, width() - 1, 1);
    }
};

QLabel *MakeLabel(QWidget *parent, const char *name, const QFont &font, const QColor &colour, const QString &text)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    label->setTextFormat(Qt::PlainText);
    label->adjustSize();
    return label;
}

// Lets the window system put the splash on screen: the message loop is not running yet at
// start-up, and a window that was never exposed cannot be painted.
void WaitUntilExposed(QWidget *window)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 500) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (window->windowHandle() && window->windowHandle()->isExposed())
            return;
        QThread::msleep(5);
    }
}
} // namespace

TFrmQorSplash::TFrmQorSplash(QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("FrmQorSplash"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    // The splash stays on top of everything: a box shown meanwhile (an error while the main
    // window is built) would open under it, unseen, waiting for a key.
    qApp->installEventFilter(this);
    setWindowOpacity(200.0 / 255.0);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, SplashBackground);
    palette.setColor(QPalette::WindowText, Aqua);
    setPalette(palette);
    setFont(SplashFont(11, false));
    setCursor(Qt::WaitCursor);
    resize(338, 178);

    PanelMain = new TBevelPanel(this);
    PanelMain->setObjectName(QStringLiteral("PanelMain"));
    PanelMain->setGeometry(rect());

    ImageAppLogo = new QLabel(PanelMain);
    ImageAppLogo->setObjectName(QStringLiteral("ImageAppLogo"));
    ImageAppLogo->setAlignment(Qt::AlignCenter);
    ImageAppLogo->setAttribute(Qt::WA_TranslucentBackground);
    ImageAppLogo->move(8, 8);
    SetLogo(BuiltInSplashLogo());

    LabelAppTitle = MakeLabel(PanelMain, "LabelAppTitle", TitleFont(), Yellow, QStringLiteral("My application"));
    LabelAppTitle->move(108, 121);

    BevelButtom = new TBevelLine(PanelMain);
    BevelButtom->setObjectName(QStringLiteral("BevelButtom"));
    BevelButtom->setGeometry(8, 146, 321, 2);

    LabelAppAction = MakeLabel(PanelMain, "LabelAppAction", SplashFont(13, true), Aqua,
                               QStringLiteral("Initializing..."));
    LabelAppAction->move(124, 154);

    FormCreate();
}

TFrmQorSplash::~TFrmQorSplash()
{
    // FormDestroy: the default cursor again.
    QApplication::restoreOverrideCursor();
    if (GSplash == this)
        GSplash = nullptr;
}

void TFrmQorSplash::FormCreate()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    SetTitle(ApplicationTitle());
    FMsgAction = RegisterWindowMessage(QStringLiteral("sc_SplashAction"));
    FMsgTitle = RegisterWindowMessage(QStringLiteral("sc_SplashTitle"));
    FMsgLogo = RegisterWindowMessage(QStringLiteral("sc_SplashLogo"));
}

void TFrmQorSplash::SetTitle(const QString &title)
{
    LabelAppTitle->setText(title);
    LabelAppTitle->adjustSize();
}

void TFrmQorSplash::SetAction(const QString &action)
{
    LabelAppAction->setText(action);
    LabelAppAction->adjustSize();
}

void TFrmQorSplash::SetLogo(const QPixmap &logo)
{
    if (logo.isNull())
        return;
    ImageAppLogo->setPixmap(logo);
    ImageAppLogo->resize(logo.size());
}

void TFrmQorSplash::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    LayoutSplash();
}

bool TFrmQorSplash::eventFilter(QObject *watched, QEvent *event)
{
    // The show event comes before the window is mapped: the splash is gone before the box is up.
    if (event->type() == QEvent::Show && isVisible()) {
        auto *window = qobject_cast<QWidget *>(watched);
        if (window && window != this && window->isWindow() && (window->windowType() == Qt::Dialog || window->isModal()))
            hide();
    }
    return QWidget::eventFilter(watched, event);
}

bool TFrmQorSplash::event(QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != FMsgAction && type != FMsgTitle && type != FMsgLogo)
        return QWidget::event(event);
    auto *message = dynamic_cast<TMessageEvent *>(event);
    if (!message)
        return QWidget::event(event);
    if (type == FMsgAction) {
        SetAction(message->Data.toString());
    } else if (type == FMsgTitle) {
        SetTitle(message->Data.toString());
        setWindowTitle(LabelAppTitle->text());
    } else {
        // No picture leaves the logo alone; the layout runs all the same.
        if (message->Data.canConvert<QPixmap>())
            SetLogo(message->Data.value<QPixmap>());
        else if (message->Data.canConvert<QImage>())
            SetLogo(QPixmap::fromImage(message->Data.value<QImage>()));
    }
    LayoutSplash();
    message->Result = 0;
    return true;
}

void ShowSplash(const QString &title, const QString &action, bool setApplicationTitle, const QPixmap &logo)
{
    if (GSplash)
        HideSplash(QString());
    if (setApplicationTitle)
        SetApplicationTitle(title);
    GSplash = new TFrmQorSplash();
    if (!logo.isNull())
        GSplash->SetLogo(logo);
    if (!title.isEmpty()) {
        GSplash->SetTitle(title);
        GSplash->setWindowTitle(GSplash->LabelAppTitle->text());
    }
    if (!action.isEmpty())
        GSplash->SetAction(action);
    GSplash->show();
    WaitUntilExposed(GSplash);
    if (GSplash) {
        GSplash->repaint();
        LayoutSplash();
    }
}

void HideSplash(const QString &mainCaption)
{
    if (!mainCaption.isEmpty()) {
        const QWidgetList windows = QApplication::topLevelWidgets();
        const auto main = std::find_if(windows.begin(), windows.end(),
                                       [](QWidget *w) { return w->inherits("TFrmMain"); });
        if (main != windows.end())
            (*main)->setWindowTitle(mainCaption);
    }
    if (TFrmQorSplash *splash = GSplash) {
        GSplash = nullptr;
        splash->hide();
        delete splash;
    }
}

void LayoutSplash()
{
    TFrmQorSplash *splash = GSplash;
    if (!splash)
        return;
    splash->setUpdatesEnabled(false);

    QLabel *logo = splash->ImageAppLogo;
    QLabel *title = splash->LabelAppTitle;
    QLabel *action = splash->LabelAppAction;
    QFrame *bevel = splash->BevelButtom;

    GContentWidth = std::max({GContentWidth, logo->width(), title->width(), action->width()});
    const int clientWidth = GContentWidth + 20;
    bevel->resize(GContentWidth, bevel->height());

    // Integer halving truncates towards zero, as the original arithmetic does.
    for (QWidget *item : {static_cast<QWidget *>(logo), static_cast<QWidget *>(title), static_cast<QWidget *>(action),
                          static_cast<QWidget *>(bevel)})
        item->move(clientWidth / 2 - item->width() / 2, item->y());

    logo->move(logo->x(), 8);
    title->move(title->x(), logo->y() + logo->height() + 5);
    bevel->move(bevel->x(), title->y() + title->height() + 5);
    action->move(action->x(), bevel->y() + bevel->height() + 5);
    const int clientHeight = action->y() + action->height() + 10;

    splash->resize(clientWidth, clientHeight);
    splash->PanelMain->setGeometry(0, 0, clientWidth, clientHeight);

    const QScreen *screen = splash->screen() ? splash->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->geometry();
        const QSize outer = splash->frameGeometry().size();
        splash->move(area.x() + area.width() / 2 - outer.width() / 2,
                     area.y() + area.height() / 2 - outer.height() / 2);
    }

    splash->setUpdatesEnabled(true);
    if (splash->isVisible())
        splash->repaint();
}

TFrmQorSplash *CurrentSplash()
{
    return GSplash;
}

int SplashContentWidth()
{
    return GContentWidth;
}

QPixmap BuiltInSplashLogo()
{
    QImage image(321, 94, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // Card: deep blue into teal, with a soft gloss on the upper half.
    const QRectF card(0.5, 0.5, 320, 93);
    QLinearGradient cardFill(card.topLeft(), card.bottomRight());
    cardFill.setColorAt(0.0, QColor(8, 30, 110));
    cardFill.setColorAt(1.0, QColor(0, 118, 150));
    p.setPen(QPen(QColor(120, 200, 255, 160), 1));
    p.setBrush(cardFill);
    p.drawRoundedRect(card, 12, 12);
    QLinearGradient gloss(0, 0, 0, 47);
    gloss.setColorAt(0.0, QColor(255, 255, 255, 70));
    gloss.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(gloss);
    p.drawRoundedRect(QRectF(3, 3, 315, 44), 10, 10);

    // A folder with a note sheet tucked into it.
    QPainterPath back;
    back.moveTo(16, 26);
    back.lineTo(38, 26);
    back.lineTo(44, 32);
    back.lineTo(82, 32);
    back.quadTo(86, 32, 86, 36);
    back.lineTo(86, 78);
    back.lineTo(16, 78);
    back.closeSubpath();
    QLinearGradient backFill(0, 26, 0, 78);
    backFill.setColorAt(0.0, QColor(230, 160, 30));
    backFill.setColorAt(1.0, QColor(190, 115, 10));
    p.setBrush(backFill);
    p.drawPath(back);

    p.save();
    p.translate(48, 44);
    p.rotate(-8);
    p.setBrush(QColor(255, 255, 250));
    p.setPen(QPen(QColor(150, 150, 150), 0.8));
    p.drawRect(QRectF(-20, -26, 40, 44));
    p.setPen(QPen(QColor(40, 90, 200), 1.6));
    for (int i = 0; i < 4; ++i)
        p.drawLine(QPointF(-14, -18 + i * 8), QPointF(i == 3 ? 4 : 14, -18 + i * 8));
    p.restore();

    QPainterPath front;
    front.moveTo(12, 46);
    front.lineTo(90, 46);
    front.lineTo(84, 80);
    front.lineTo(18, 80);
    front.closeSubpath();
    QLinearGradient frontFill(0, 46, 0, 80);
    frontFill.setColorAt(0.0, QColor(255, 214, 80));
    frontFill.setColorAt(1.0, QColor(240, 170, 30));
    p.setPen(QPen(QColor(150, 95, 10), 1));
    p.setBrush(frontFill);
    p.drawPath(front);

    // The name with a soft shadow, and a line of what it does.
    QFont name(QStringLiteral("DejaVu Serif"));
    name.setStyleHint(QFont::Serif);
    name.setPixelSize(40);
    name.setBold(true);
    name.setItalic(true);
    p.setFont(name);
    const QRectF nameBox(102, 10, 212, 52);
    p.setPen(QColor(0, 0, 40, 150));
    p.drawText(nameBox.translated(2, 2), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("DirNote"));
    QLinearGradient nameFill(0, 18, 0, 56);
    nameFill.setColorAt(0.0, QColor(255, 255, 255));
    nameFill.setColorAt(1.0, QColor(170, 235, 255));
    p.setPen(QPen(QBrush(nameFill), 1));
    p.drawText(nameBox, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("DirNote"));

    QFont tagline(QStringLiteral("DejaVu Sans"));
    tagline.setStyleHint(QFont::SansSerif);
    tagline.setPixelSize(12);
    p.setFont(tagline);
    p.setPen(QColor(0, 255, 255));
    p.drawText(QRectF(104, 60, 210, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("notes on folders and files"));
    p.end();
    return QPixmap::fromImage(image);
}
