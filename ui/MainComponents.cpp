// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's components: created step by step, laid out as the design places them.
#include "ui/Main.h"

#include "about/ProgramIcon.h"
#include "common/ErrorReport.h"
#include "system/FoldrDlg.h"
#include "ui/StringGrid.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace {
// The buttons' pictures come after the window's first paint (ShowPictures): a style may look
// them up in the desktop's icon theme, some 5 ms at every start. Meanwhile a blank picture of the
// same size keeps each caption where it stays.
QPushButton *MakeButton(QWidget *parent, const QString &name, const QString &caption)
{
    auto *button = new QPushButton(caption, parent);
    QPixmap blank(button->iconSize());
    blank.fill(Qt::transparent);
    button->setIcon(QIcon(blank));
    button->setObjectName(name);
    button->setCursor(Qt::PointingHandCursor);
    button->setFixedSize(105, 25);
    return button;
}

QLabel *MakeHeading(QWidget *parent, const QString &name, const QString &caption)
{
    auto *heading = new QLabel(caption, parent);
    heading->setObjectName(name);
    heading->setAlignment(Qt::AlignCenter);
    heading->setFixedHeight(17);
    QFont font = heading->font();
    font.setBold(true);
    heading->setFont(font);
    heading->setAutoFillBackground(true);
    QPalette palette = heading->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::ToolTipBase));
    palette.setColor(QPalette::WindowText, palette.color(QPalette::ToolTipText));
    heading->setPalette(palette);
    return heading;
}
} // namespace

void TFrmMain::CreateComponents()
{
    SetUpWindow();
    CreateFolderLabels();
    CreateTables();
    CreateButtons();
    LayOutWindow();
    CreateStatusLine();
    ConnectButtons();
    ResetTables();
    SetTabOrder();
    CreateWindowMenu();
}

void TFrmMain::SetUpWindow()
{
    setObjectName(QStringLiteral("FrmMain"));
    setWindowTitle(QStringLiteral("DirNote"));
    // The design's 8 point sans serif; every component inherits it.
    QFont designFont(QStringLiteral("Sans Serif"));
    designFont.setStyleHint(QFont::SansSerif);
    designFont.setPointSize(8);
    setFont(designFont);
    setMinimumSize(MinimumOuterSize - FrameAllowance);
    resize(DesignClientSize);
}

void TFrmMain::CreateFolderLabels()
{
    LabelCurrFolderTxt = new QLabel(tr("Folder:"), this);
    LabelCurrFolderTxt->setObjectName(QStringLiteral("LabelCurrFolderTxt"));
    // 32 pixels wide by design; a wider font than the design's must not cut the caption.
    LabelCurrFolderTxt->setFixedSize(
        std::max(32, LabelCurrFolderTxt->fontMetrics().horizontalAdvance(LabelCurrFolderTxt->text())), 13);
    LabelCurrFolder = new QLabel(tr("(none)"), this);
    LabelCurrFolder->setObjectName(QStringLiteral("LabelCurrFolder"));
    LabelCurrFolder->setToolTip(LabelCurrFolder->text());
    // Ignored width: a long path is cut at the label's right edge instead of widening the window.
    LabelCurrFolder->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    LabelCurrFolder->setFixedHeight(13);
    LabelCurrFolder->setAutoFillBackground(true);
    {
        QFont font = LabelCurrFolder->font();
        font.setBold(true);
        LabelCurrFolder->setFont(font);
        QPalette palette = LabelCurrFolder->palette();
        palette.setColor(QPalette::Window, palette.color(QPalette::Highlight));
        palette.setColor(QPalette::WindowText, palette.color(QPalette::HighlightedText));
        LabelCurrFolder->setPalette(palette);
    }
}

void TFrmMain::CreateTables()
{
    PanelClient = new QWidget(this);
    PanelClient->setObjectName(QStringLiteral("PanelClient"));
    SplitterFolderFile = new QSplitter(Qt::Vertical, PanelClient);
    SplitterFolderFile->setObjectName(QStringLiteral("SplitterFolderFile"));
    SplitterFolderFile->setHandleWidth(8);
    SplitterFolderFile->setChildrenCollapsible(false);
    SplitterFolderFile->setOpaqueResize(true);

    // A heading over its table; the heading's accelerator focuses the table.
    auto makePane = [this](const QString &heading, const QString &headingName, const QString &gridName, QLabel *&label,
                           TStringGrid *&grid) {
        auto *pane = new QWidget(SplitterFolderFile);
        label = MakeHeading(pane, headingName, heading);
        grid = new TStringGrid(pane);
        grid->setObjectName(gridName);
        label->setBuddy(grid);
        auto *paneLayout = new QVBoxLayout(pane);
        paneLayout->setContentsMargins(0, 0, 0, 0);
        paneLayout->setSpacing(0);
        paneLayout->addWidget(label);
        paneLayout->addWidget(grid);
        return pane;
    };
    QWidget *foldersPane = makePane(tr("F&olders"), QStringLiteral("StaticTextFolders"),
                                    QStringLiteral("StringGridFolders"), StaticTextFolders, StringGridFolders);
    QWidget *filesPane = makePane(tr("&Files"), QStringLiteral("StaticTextFiles"), QStringLiteral("StringGridFiles"),
                                  StaticTextFiles, StringGridFiles);
    StringGridFolders->setAccessibleName(tr("Folders"));
    StringGridFolders->setAccessibleDescription(tr(
        "The subfolders of the listed folder, each with its description. Typing edits the current row's description."));
    StringGridFiles->setAccessibleName(tr("Files"));
    StringGridFiles->setAccessibleDescription(
        tr("The files of the listed folder, each with its description. Typing edits the current row's description."));
    SplitterFolderFile->addWidget(foldersPane);
    SplitterFolderFile->addWidget(filesPane);
    // The folder table keeps its height when the window grows; the file table takes the rest.
    SplitterFolderFile->setStretchFactor(0, 0);
    SplitterFolderFile->setStretchFactor(1, 1);
    // Client height less the label row, the button panel, the spacing and the panel's border.
    const int panesHeight = DesignClientSize.height() - 20 - 3 - 33 - 4 - 2 * 4;
    SplitterFolderFile->resize(DesignClientSize.width() - 2 * 4 - 2 * 4, panesHeight);
    SplitterFolderFile->setSizes({17 + 175, panesHeight - 17 - 175 - 8});

    auto *clientLayout = new QVBoxLayout(PanelClient);
    clientLayout->setContentsMargins(4, 4, 4, 4);
    clientLayout->addWidget(SplitterFolderFile);
}

void TFrmMain::CreateButtons()
{
    PanelButtons = new QFrame(this);
    PanelButtons->setObjectName(QStringLiteral("PanelButtons"));
    PanelButtons->setFrameShape(QFrame::Panel);
    PanelButtons->setFrameShadow(QFrame::Sunken);
    PanelButtons->setFixedHeight(33);
    BitBtnDirNote = MakeButton(PanelButtons, QStringLiteral("BitBtnDirNote"), tr("Folder &info"));
    BitBtnSelectFolder = MakeButton(PanelButtons, QStringLiteral("BitBtnSelectFolder"), tr("&Select folder"));
    BitBtnRefreshFolder = MakeButton(PanelButtons, QStringLiteral("BitBtnRefreshFolder"), tr("&Refresh folder"));
    BitBtnClose = MakeButton(PanelButtons, QStringLiteral("BitBtnClose"), tr("&Close"));
    BitBtnDirNote->setAccessibleDescription(tr("Edits the text about the listed folder itself"));
    BitBtnSelectFolder->setAccessibleDescription(tr("Picks another folder to list"));
    BitBtnRefreshFolder->setAccessibleDescription(tr("Lists the folder again"));
    BitBtnClose->setAccessibleDescription(tr("Ends the program"));
    auto *buttonsLayout = new QHBoxLayout(PanelButtons);
    // The buttons sit 4 pixels inside the panel's outer edge, bevel included.
    const int inset = 4 - PanelButtons->frameWidth();
    buttonsLayout->setContentsMargins(inset, inset, inset, inset);
    buttonsLayout->setSpacing(3);
    buttonsLayout->addWidget(BitBtnDirNote);
    buttonsLayout->addWidget(BitBtnSelectFolder);
    buttonsLayout->addStretch(1);
    buttonsLayout->addWidget(BitBtnRefreshFolder);
    buttonsLayout->addWidget(BitBtnClose);
}

void TFrmMain::ShowPictures()
{
    // Every window of the program, dialogs and boxes too, shows the program's icon.
    QApplication::setWindowIcon(ProgramIcon());
    const std::pair<QPushButton *, QStyle::StandardPixmap> pictures[] = {
        {BitBtnDirNote, QStyle::SP_FileDialogInfoView},
        {BitBtnSelectFolder, QStyle::SP_DirOpenIcon},
        {BitBtnRefreshFolder, QStyle::SP_BrowserReload},
        {BitBtnClose, QStyle::SP_DialogCloseButton}};
    for (const auto &[button, picture] : pictures)
        button->setIcon(style()->standardIcon(picture));
}

void TFrmMain::LayOutWindow()
{
    auto *labelRow = new QHBoxLayout;
    labelRow->setSpacing(4);
    labelRow->addWidget(LabelCurrFolderTxt);
    labelRow->addWidget(LabelCurrFolder, 1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(3);
    layout->addLayout(labelRow);
    layout->addWidget(PanelClient, 1);
    layout->addWidget(PanelButtons);
}

void TFrmMain::CreateStatusLine()
{
    // The status line speaks in the button panel's free middle, so nothing moves when it does;
    // a text too long for it is cut there and shown whole as its tooltip.
    StatusLine = new QLabel(PanelButtons);
    StatusLine->setObjectName(QStringLiteral("StatusLine"));
    StatusLine->setTextFormat(Qt::PlainText);
    StatusLine->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    StatusLine->hide();
    static_cast<QHBoxLayout *>(PanelButtons->layout())->insertWidget(2, StatusLine, 1);
}

void TFrmMain::ConnectButtons()
{
    FolderDialog = new TFolderDialog(this);
    FolderDialog->setObjectName(QStringLiteral("FolderDialog"));
    FolderDialog->SetLeft(360);
    // Errors are reported here: an exception must not unwind through the toolkit's frames.
    connect(BitBtnSelectFolder, &QPushButton::clicked, this,
            [this] { ReportErrors([this] { BitBtnSelectFolderClick(); }); });
    connect(BitBtnRefreshFolder, &QPushButton::clicked, this,
            [this] { ReportErrors([this] { BitBtnRefreshFolderClick(); }); });
    connect(BitBtnDirNote, &QPushButton::clicked, this, [this] { ReportErrors([this] { BitBtnDirNoteClick(); }); });
    connect(BitBtnClose, &QPushButton::clicked, this, &QWidget::close);
}

void TFrmMain::SetTabOrder()
{
    setTabOrder(StringGridFolders, StringGridFiles);
    setTabOrder(StringGridFiles, BitBtnDirNote);
    setTabOrder(BitBtnDirNote, BitBtnSelectFolder);
    setTabOrder(BitBtnSelectFolder, BitBtnRefreshFolder);
    setTabOrder(BitBtnRefreshFolder, BitBtnClose);
}

void TFrmMain::CreateWindowMenu()
{
    FWindowMenu = new TWindowMenu(this, [this](int command) { ReportErrors([&] { WMSysCommand(command); }); });
    AddWindowMenuItem(tr("&Restore"), SC_RESTORE);
    AddWindowMenuItem(tr("Mi&nimize"), SC_MINIMIZE);
    AddWindowMenuItem(tr("Ma&ximize"), SC_MAXIMIZE);
    FWindowMenu->AddSeparator();
    CreateIndexComponents();
    CreateMirrorItem();
    FWindowMenu->AddSeparator();
    AddWindowMenuItem(tr("&Close\tAlt+F4"), SC_CLOSE);
    // Alt+Space opens it where the window manager passes the key on.
    auto *menuKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
    connect(menuKey, &QShortcut::activated, this, [this] { PopupWindowMenu(mapToGlobal(QPoint(0, 0))); });
}

QAction *TFrmMain::AddWindowMenuItem(const QString &text, int command)
{
    return FWindowMenu->AddItem(text, command);
}

void TFrmMain::ResetTables()
{
    for (TStringGrid *grid : {StringGridFolders, StringGridFiles}) {
        grid->GridModel()->Clear();
        grid->SetColumnRuleWidth(TStringGridModel::ColName, TStringGrid::DefaultColWidth);
        grid->SetColumnRuleWidth(TStringGridModel::ColDesc, TStringGrid::DefaultColWidth);
        grid->setEnabled(false);
    }
}
