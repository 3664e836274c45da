// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/CurrDirNote.h"

#include "common/TextCodec.h"
#include "ui/StringGrid.h"

#include <QApplication>
#include <QToolTip>

#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

TFrmCurrDirNote::TFrmCurrDirNote(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FrmCurrDirNote"));
    setWindowTitle(tr("Folder information"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);
    resize(365, 265);

    PanelClient = new QFrame(this);
    PanelClient->setObjectName(QStringLiteral("PanelClient"));
    MemoInfo = new QPlainTextEdit(PanelClient);
    MemoInfo->setObjectName(QStringLiteral("MemoInfo"));
    MemoInfo->setAccessibleName(tr("Folder text"));
    MemoInfo->setAccessibleDescription(tr("The text about the folder itself, as many lines as needed"));
    MemoInfo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    MemoInfo->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    MemoInfo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    MemoInfo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    MemoInfo->setTabChangesFocus(true);
    MemoInfo->installEventFilter(this);
    auto *clientLayout = new QVBoxLayout(PanelClient);
    clientLayout->setContentsMargins(4, 4, 4, 4);
    clientLayout->addWidget(MemoInfo);

    PanelButtons = new QFrame(this);
    PanelButtons->setObjectName(QStringLiteral("PanelButtons"));
    PanelButtons->setFrameShape(QFrame::Panel);
    PanelButtons->setFrameShadow(QFrame::Sunken);
    PanelButtons->setFixedHeight(33);
    BitBtnOk = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), tr("OK"), PanelButtons);
    BitBtnOk->setObjectName(QStringLiteral("BitBtnOk"));
    BitBtnCancel = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), tr("Cancel"), PanelButtons);
    BitBtnCancel->setObjectName(QStringLiteral("BitBtnCancel"));
    for (QPushButton *button : {BitBtnOk, BitBtnCancel}) {
        button->setFixedSize(75, 25);
        button->setCursor(Qt::PointingHandCursor);
    }
    BitBtnOk->setDefault(true);
    auto *buttonsLayout = new QHBoxLayout(PanelButtons);
    buttonsLayout->setContentsMargins(4, 4, 4, 4);
    buttonsLayout->setSpacing(1);
    buttonsLayout->addStretch(1);
    buttonsLayout->addWidget(BitBtnOk);
    buttonsLayout->addWidget(BitBtnCancel);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(3);
    layout->addWidget(PanelClient, 1);
    layout->addWidget(PanelButtons);

    connect(MemoInfo, &QPlainTextEdit::textChanged, this, &TFrmCurrDirNote::LimitLines);
    connect(BitBtnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TFrmCurrDirNote::SetLines(const QList<QByteArray> &lines)
{
    QStringList shown;
    for (const QByteArray &line : lines)
        shown.append(DecodeText(line));
    FShown = shown.join(u'\n');
    MemoInfo->setPlainText(FShown);
    FShownRaw = MemoInfo->document()->toRawText();
    FLast = FShownRaw;
}

QString TFrmCurrDirNote::LimitNote()
{
    return tr("A line of the folder text holds at most %1 bytes; the rest was not taken.").arg(kValueByteLimit);
}

void TFrmCurrDirNote::LimitLines()
{
    if (FLimiting)
        return;
    const QString raw = MemoInfo->document()->toRawText();
    const TLimitedEdit limited = LimitEdit(FLast, raw);
    if (limited.Cut) {
        FLimiting = true;
        if (limited.Refused) {
            MemoInfo->undo(); // a deletion that joined two lines too long for one
        } else {
            // Only the insertion is replaced by what was kept of it; the rest of the edit stays.
            QTextCursor cursor(MemoInfo->document());
            cursor.setPosition(int(limited.Start));
            cursor.setPosition(int(limited.Start + limited.Inserted), QTextCursor::KeepAnchor);
            cursor.insertText(limited.Taken);
            MemoInfo->setTextCursor(cursor);
        }
        FLimiting = false;
        QApplication::beep();
        QToolTip::showText(MemoInfo->viewport()->mapToGlobal(MemoInfo->cursorRect().bottomLeft()), LimitNote(),
                           MemoInfo, {}, 5000);
    }
    FLast = MemoInfo->document()->toRawText();
}

QString TFrmCurrDirNote::Text() const
{
    // The plain-text view turns no-break spaces into spaces; the raw text keeps them.
    QString text = MemoInfo->document()->toRawText();
    // The document cannot hold a stored U+2029 (it separates its paragraphs): an untouched text
    // is given back as it was set.
    if (text == FShownRaw)
        return FShown;
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text;
}

void TFrmCurrDirNote::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    MemoInfo->setFocus();
}

bool TFrmCurrDirNote::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == MemoInfo && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            // Enter presses OK; a line break is typed with Ctrl+Enter.
            if (key->modifiers() & Qt::ControlModifier)
                MemoInfo->insertPlainText(QStringLiteral("\n"));
            else
                BitBtnOk->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
