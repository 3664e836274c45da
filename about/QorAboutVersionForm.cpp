// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/QorAboutVersionForm.h"

#include "about/QorAboutVersion.h"
#include "about/QorMemoryStatus.h"

#include "common/AppTitle.h"
#include "common/StringList.h"

#include <QApplication>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QStyle>
#include <QTreeWidget>

#include <algorithm>
#include <exception>

namespace {

using TTexts = std::array<const char16_t *, TFrmQorVersionAbout::kTextCount>;

constexpr TTexts kDanishTexts = {
    u"Om",
    u"Version",
    u"Produkt navn",
    u"Beskrivelse",
    u"&Version",
    u"&Hukommelse",
    u"Ok",
    u"Ressource",
    u"Værdi",
    u"Hukommelse",
    u"Bytes",
    u"Ikke tilgængelig",
    u"Kommentarer",
    u"Firma navn",
    u"Internt navn",
    u"Kopirettigheder",
    u"Trade rettigheder",
    u"Originalt filnavn",
    u"Produkt version",
    u"Fysisk total",
    u"Fysisk ledig",
    u"Sidefil total",
    u"Sidefil ledig",
    u"Virtuel total",
    u"Virtuel ledig",
};

constexpr TTexts kEnglishTexts = {
    u"About",
    u"Version",
    u"Product name",
    u"Description",
    u"&Version",
    u"&Memory",
    u"Ok",
    u"Resource",
    u"Value",
    u"Memory",
    u"Bytes",
    u"Not available",
    u"Comments",
    u"Company name",
    u"Internal name",
    u"Copyrights",
    u"Legal trademarks",
    u"Original filename",
    u"Product version",
    u"Total physical",
    u"Available physical",
    u"Total pagefile",
    u"Available pagefile",
    u"Total virtual",
    u"Available virtual",
};

// The version keys with a caption of their own, in the order of texts 13 to 19.
constexpr std::array<const char16_t *, 7> kKnownKeys = {
    u"Comments",        u"CompanyName",      u"InternalName",   u"LegalCopyright",
    u"LegalTrademarks", u"OriginalFilename", u"ProductVersion",
};

constexpr int kFirstKnownKeyText = 13;
constexpr int kFirstMemoryText = 20;
constexpr int kNotAvailableText = 12;

QFrame *MakePanel(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *panel = new QFrame(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setContentsMargins(3, 3, 3, 3);
    if (geometry.isValid())
        panel->setGeometry(geometry);
    return panel;
}

QLabel *MakeLabel(QWidget *parent, const char *name, QPoint at)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText); // version values are data, never markup
    label->move(at);
    return label;
}

QPushButton *MakeButton(QWidget *parent, const char *name, const QRect &geometry, QStyle::StandardPixmap glyph)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    button->setCursor(Qt::PointingHandCursor);
    button->setIcon(parent->style()->standardIcon(glyph));
    button->setIconSize(QSize(16, 16));
    return button;
}

void SetAutoSizedText(QLabel *label, const QString &text)
{
    label->setText(text);
    label->adjustSize();
}

} // namespace

QPoint AboutBoxPosition(QSize dialog, const QRect &screen, const std::optional<QRect> &reference)
{
    // C++ division truncates towards zero, as the placement wants.
    int left = screen.width() / 2 - dialog.width() / 2;
    int top = screen.height() / 2 - dialog.height() / 2;
    if (!reference)
        return {screen.left() + left, screen.top() + top};
    left = reference->left() + reference->width() / 2 - dialog.width() / 2;
    top = reference->top() + reference->height() / 2 - dialog.height() / 2;
    if (left < screen.left())
        left = screen.left();
    else if (left + dialog.width() > screen.left() + screen.width())
        left = screen.left() + screen.width() - dialog.width();
    if (top < screen.top())
        top = screen.top();
    else if (top + dialog.height() > screen.top() + screen.height())
        top = screen.top() + screen.height() - dialog.height();
    return {left, top};
}

TFrmQorVersionAbout::TFrmQorVersionAbout(QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                         | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("FrmQorVersionAbout"));
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    setFont(font);
    setFixedSize(313, 325);

    PanelMain = MakePanel(this, "PanelMain", QRect(0, 0, 313, 325));
    PanelInfo = MakePanel(PanelMain, "PanelInfo", QRect(8, 8, 297, 101));
    LabelVersionTxt = MakeLabel(PanelInfo, "LabelVersionTxt", {12, 12});
    LabelVersion = MakeLabel(PanelInfo, "LabelVersion", {100, 12});
    LabelProductTxt = MakeLabel(PanelInfo, "LabelProductTxt", {12, 28});
    LabelProduct = MakeLabel(PanelInfo, "LabelProduct", {100, 28});
    LabelDescriptionTxt = MakeLabel(PanelInfo, "LabelDescriptionTxt", {12, 44});
    LabelDescription = MakeLabel(PanelInfo, "LabelDescription", {100, 44});
    LabelDescription->resize(189, 29);
    LabelDescription->setWordWrap(true);
    LabelDescription->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ImageAppIcon = MakeLabel(PanelInfo, "ImageAppIcon", {252, 12});
    ImageAppIcon->resize(32, 32);
    ImageAppIcon->setAlignment(Qt::AlignCenter);

    PanelAdditionalInfo = MakePanel(PanelMain, "PanelAdditionalInfo", QRect(8, 112, 297, 161));
    ListViewVersion = new QTreeWidget(PanelAdditionalInfo);
    ListViewVersion->setObjectName(QStringLiteral("ListViewVersion"));
    ListViewVersion->setGeometry(8, 8, 281, 145);
    ListViewVersion->setColumnCount(2);
    ListViewVersion->setRootIsDecorated(false);
    ListViewVersion->setItemsExpandable(false);
    ListViewVersion->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListViewVersion->setSelectionMode(QAbstractItemView::SingleSelection);
    ListViewVersion->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListViewVersion->header()->setSectionsClickable(false);
    ListViewVersion->header()->setSectionsMovable(false);
    ListViewVersion->header()->setStretchLastSection(true);

    PanelButtons = MakePanel(PanelMain, "PanelButtons", QRect(8, 276, 297, 41));
    BitBtnMemory = MakeButton(PanelButtons, "BitBtnMemory", QRect(8, 8, 137, 25), QStyle::SP_DriveHDIcon);
    BitBtnVersion = MakeButton(PanelButtons, "BitBtnVersion", QRect(8, 8, 137, 25), QStyle::SP_FileDialogInfoView);
    BitBtnVersion->hide();
    BitBtnOK = MakeButton(PanelButtons, "BitBtnOK", QRect(151, 8, 137, 25), QStyle::SP_DialogOkButton);
    BitBtnOK->setDefault(true);

    connect(BitBtnMemory, &QPushButton::clicked, this, &TFrmQorVersionAbout::BitBtnMemoryClick);
    connect(BitBtnVersion, &QPushButton::clicked, this, &TFrmQorVersionAbout::BitBtnVersionClick);
    connect(BitBtnOK, &QPushButton::clicked, this, &QDialog::accept);

    setTabOrder(ListViewVersion, BitBtnMemory);
    setTabOrder(BitBtnMemory, BitBtnVersion);
    setTabOrder(BitBtnVersion, BitBtnOK);
    BitBtnOK->setFocus();

    FormCreate();
}

void TFrmQorVersionAbout::FormCreate()
{
    const QScreen *screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    QWidget *reference = parentWidget();
    if (!reference && QApplication::activeWindow() != this)
        reference = QApplication::activeWindow();
    if (screen) {
        std::optional<QRect> referenceRect;
        if (reference)
            referenceRect = reference->frameGeometry();
        move(AboutBoxPosition(size(), screen->geometry(), referenceRect));
    }

    FExtraLabels.clear();
    LoadTexts(false);
    ApplyTexts();
    FExeName = QCoreApplication::applicationFilePath();
    BitBtnVersionClick();
    if (!QApplication::windowIcon().isNull())
        SetIcon(QApplication::windowIcon());
}

void TFrmQorVersionAbout::LoadTexts(bool english)
{
    const TTexts &source = english ? kEnglishTexts : kDanishTexts;
    for (size_t i = 0; i < FTexts.size(); ++i)
        FTexts[i] = QString::fromUtf16(source[i]);
}

void TFrmQorVersionAbout::ApplyTexts()
{
    setWindowTitle(Text(1) + QStringLiteral(" - ") + ApplicationTitle());
    SetAutoSizedText(LabelVersionTxt, Text(2));
    SetAutoSizedText(LabelProductTxt, Text(3));
    SetAutoSizedText(LabelDescriptionTxt, Text(4));
    BitBtnVersion->setText(Text(5));
    BitBtnMemory->setText(Text(6));
    BitBtnOK->setText(Text(7));
}

void TFrmQorVersionAbout::SetExtraLabels(const QStringList &labels)
{
    FExtraLabels.clear();
    for (const QString &line : labels)
        AddExtraLabel(line);
}

void TFrmQorVersionAbout::AddExtraLabel(const QString &line)
{
    // After any equal lines, so duplicates keep the order they were given in.
    const auto at = std::upper_bound(
        FExtraLabels.begin(), FExtraLabels.end(), line,
        [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    FExtraLabels.insert(at, line);
}

void TFrmQorVersionAbout::SetIcon(const QIcon &icon)
{
    ImageAppIcon->setPixmap(icon.pixmap(ImageAppIcon->size())
                                .scaled(ImageAppIcon->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

QTreeWidgetItem *TFrmQorVersionAbout::MakeRow(const QString &label, const QString &value,
                                              Qt::Alignment valueAlignment) const
{
    auto *item = new QTreeWidgetItem({label, value});
    item->setTextAlignment(1, valueAlignment | Qt::AlignVCenter);
    return item;
}

void TFrmQorVersionAbout::PrepareTable(const QString &firstHeader, const QString &secondHeader,
                                       Qt::Alignment valueAlignment)
{
    ListViewVersion->clear();
    ListViewVersion->setHeaderLabels({firstHeader, secondHeader});
    ListViewVersion->headerItem()->setTextAlignment(0, Qt::AlignLeft | Qt::AlignVCenter);
    ListViewVersion->headerItem()->setTextAlignment(1, valueAlignment | Qt::AlignVCenter);
}

void TFrmQorVersionAbout::AddSortedRow(const QString &label, const QString &value)
{
    // Ordered by label with the user's collation, case-sensitive; equal labels keep their order.
    int at = ListViewVersion->topLevelItemCount();
    for (int i = 0; i < ListViewVersion->topLevelItemCount(); ++i) {
        if (QString::localeAwareCompare(label, ListViewVersion->topLevelItem(i)->text(0)) < 0) {
            at = i;
            break;
        }
    }
    ListViewVersion->insertTopLevelItem(at, MakeRow(label, value, Qt::AlignLeft));
}

void TFrmQorVersionAbout::BitBtnVersionClick()
{
    BitBtnMemory->show();
    if (focusWidget() == BitBtnVersion)
        BitBtnMemory->setFocus();
    BitBtnVersion->hide();

    LabelVersion->setText(Text(kNotAvailableText));
    LabelProduct->clear();
    LabelDescription->clear();
    PrepareTable(Text(8), Text(9), Qt::AlignLeft);
    // The table is named in the box's own language, by the button that shows it.
    ListViewVersion->setAccessibleName(Text(5));
    try {
        FillVersionView();
    } catch (const std::exception &) {
        // A damaged resource shows what was read before it; there is nothing the user could do.
    }
    LabelVersion->adjustSize();
    LabelProduct->adjustSize();
    ListViewVersion->resizeColumnToContents(0);
}

void TFrmQorVersionAbout::FillVersionView()
{
    const QStringList lines = ReadVersionInfo(FExeName);
    SetIcon(ProgramIcon());
    for (const QString &line : lines) {
        const QString name = NameOfLine(line);
        const QString value = ValueOfName(lines, name);
        if (name == u"FileDescription") {
            LabelDescription->setText(value);
        } else if (name == u"ProductName") {
            LabelProduct->setText(value);
        } else if (name == u"FileVersion") {
            LabelVersion->setText(value);
        } else if (!value.isEmpty()) {
            const auto known = std::find_if(kKnownKeys.begin(), kKnownKeys.end(),
                                            [&](const char16_t *key) { return name == QStringView(key); });
            QString label;
            if (known != kKnownKeys.end()) {
                label = Text(kFirstKnownKeyText + int(known - kKnownKeys.begin()));
            } else {
                label = ValueOfName(FExtraLabels, name);
                if (label.isEmpty())
                    label = name;
            }
            AddSortedRow(label, value);
        }
    }
}

void TFrmQorVersionAbout::BitBtnMemoryClick()
{
    BitBtnVersion->show();
    if (focusWidget() == BitBtnMemory)
        BitBtnVersion->setFocus();
    BitBtnMemory->hide();

    PrepareTable(Text(10), Text(11), Qt::AlignRight);
    ListViewVersion->setAccessibleName(Text(6));
    const TMemoryStatus status = GlobalMemoryStatus();
    const quint64 figures[] = {status.TotalPhys,     status.AvailPhys,    status.TotalPageFile,
                               status.AvailPageFile, status.TotalVirtual, status.AvailVirtual};
    for (int i = 0; i < 6; ++i) {
        ListViewVersion->addTopLevelItem(
            MakeRow(Text(kFirstMemoryText + i), FormatByteCount(figures[i]), Qt::AlignRight));
    }
    ListViewVersion->resizeColumnToContents(0);
}

void TFrmQorVersionAbout::keyPressEvent(QKeyEvent *event)
{
    // Esc presses Ok too: the box has nothing to cancel.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        BitBtnOK->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void ShowAboutBox(QWidget *owner, const QStringList &extraLabels, bool english)
{
    // Held by pointer: should the owner go away during the modal loop, it takes the box with it.
    QPointer<TFrmQorVersionAbout> dialog = new TFrmQorVersionAbout(owner);
    const auto release = qScopeGuard([&] { delete dialog.data(); });
    if (english) {
        dialog->LoadTexts(true);
        dialog->ApplyTexts();
    }
    dialog->SetExtraLabels(extraLabels);
    if (english || !extraLabels.isEmpty())
        dialog->BitBtnVersionClick();
    dialog->exec();
}
