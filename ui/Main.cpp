// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Main.h"

#include "index/DescriptionIndex.h"
#include "index/IndexUpdater.h"

#include "catalogue/DescriptionFile.h"
#include "catalogue/FolderCatalogue.h"
#include "catalogue/FolderText.h"
#include "catalogue/ProfileFile.h"
#include "common/ErrorReport.h"
#include "common/MessageDlg.h"
#include "common/PathUtils.h"
#include "common/TextCodec.h"
#include "about/QorAboutVersion.h"
#include "about/QorAboutVersionForm.h"
#include "common/Exceptions.h"
#include "settings/RegSpecial.h"
#include "system/FoldrDlg.h"
#include "system/QorUtility.h"
#include "ui/BusyWait.h"
#include "ui/CurrDirNote.h"
#include "ui/ImportOffer.h"
#include "ui/StringGrid.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDir>
#include <QKeyEvent>
#include <QFile>
#include <QFocusEvent>
#include <QMenu>
#include <QPointer>
#include <QScopeGuard>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QTimer>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>
#include <system_error>
#include <utility>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QPushButton *MakeButton(QWidget *parent, const QString &name, const QString &caption, QStyle::StandardPixmap picture)
{
    auto *button = new QPushButton(parent->style()->standardIcon(picture), caption, parent);
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

// The current folder chosen again in the picker: the same name without regard to letter case,
// and the same folder, so that a sibling whose name differs only in case is still listed.
bool IsCurrentFolderAgain(const QByteArray &chosen, const QByteArray &current)
{
    const QString chosenName = DecodeName(IncludeTrailingPathDelimiter(chosen)).toUpper();
    if (current.isEmpty() || chosenName != DecodeName(current).toUpper())
        return false;
    struct stat a {
    }, b{};
    return ::stat(chosen.constData(), &a) == 0 && ::stat(current.constData(), &b) == 0 && a.st_dev == b.st_dev
           && a.st_ino == b.st_ino;
}
} // namespace

const std::array<TFrmMain::TShortCutSetting, TFrmMain::CommandCount> TFrmMain::ShortCutSettings = {{
    {"sc_About", 0x2070, TKeyFocus::None},              // Shift+F1
    {"sc_Refresh", 0x0074, TKeyFocus::None},            // F5
    {"sc_FolderGoto", 0x400D, TKeyFocus::Folders},      // Ctrl+Enter
    {"sc_FolderGoBack", 0x4008, TKeyFocus::None},       // Ctrl+Backspace
    {"sc_FolderExplore", 0x800D, TKeyFocus::Folders},   // Alt+Enter
    {"sc_FolderDelete", 0x402E, TKeyFocus::Folders},    // Ctrl+Delete
    {"sc_FileExec", 0x400D, TKeyFocus::Files},          // Ctrl+Enter
    {"sc_FileDelete", 0x402E, TKeyFocus::Files},        // Ctrl+Delete
    {"sc_SwitchGrid", 0x4009, TKeyFocus::None},         // Ctrl+Tab
    {"sc_UndescribedOnly", 0x404E, TKeyFocus::None},    // Ctrl+N
    {"sc_Search", 0x4046, TKeyFocus::None},             // Ctrl+F
    {"sc_PrunedDescriptions", 0x4050, TKeyFocus::None}, // Ctrl+P
}};

TFrmMain::TCommand TFrmMain::KeyCommand(const std::array<TShortCut, CommandCount> &codes, TShortCut pressed,
                                        TKeyFocus focus)
{
    for (int row = 0; row < CommandCount; ++row) {
        const TKeyFocus needed = ShortCutSettings[size_t(row)].Focus;
        if (codes[size_t(row)] == pressed && (needed == TKeyFocus::None || needed == focus))
            return TCommand(row);
    }
    return CommandCount;
}

QByteArray ParentFolderPath(const QByteArray &folderPath)
{
    if (folderPath.isEmpty())
        return {};
    return ExtractFilePath(folderPath.chopped(1));
}

QByteArray StartFolder(const QByteArrayList &arguments, const QByteArray &currentDir, const QByteArray &programPath)
{
    if (!arguments.isEmpty()) {
        // Absolute from here on: the title, the parent and a later hand-off need the whole path.
        const QByteArray argument = AbsolutePath(arguments.first(), currentDir);
        const QByteArray path = ExtractFilePath(argument);
        if (AsciiUpper(ExtractFileName(argument)) == "FOLDER.DNT" && !path.isEmpty())
            return path;
        if (!argument.isEmpty() && IsExistingFolder(argument))
            return argument;
    }
    if (!currentDir.isEmpty())
        return currentDir;
    return ExtractFilePath(programPath);
}

TFrmMain::TFrmMain(const QByteArrayList &arguments, QWidget *parent) : QWidget(parent)
{
    CreateComponents();
    AttachGridHandlers(true);
    FFocusConnection = connect(qApp, &QApplication::focusChanged, this,
                               [this](QWidget *, QWidget *now) { FocusChanged(now); });
    // The key preview: every key press of the window passes eventFilter first.
    qApp->installEventFilter(this);
    CreateIndex();
    // An error in the creation steps is shown; the window opens all the same.
    ReportErrors([&] { FormCreate(arguments); });
}

TFrmMain::~TFrmMain()
{
    // Neither a hand-off nor a focus change (destroying the children moves the focus) may reach
    // a window that is half destroyed.
    disconnect(FFocusConnection);
    qApp->removeEventFilter(this);
    delete FPrevInstServer;
    FPrevInstServer = nullptr;
    delete FIndexUpdater;
    FIndexUpdater = nullptr;
    WaitReplacedListingFreed();
}

void TFrmMain::WaitReplacedListingFreed()
{
    if (FReplacedFreer.joinable())
        FReplacedFreer.join();
}

void TFrmMain::FocusChanged(QWidget *now)
{
    for (TStringGrid *grid : {StringGridFolders, StringGridFiles})
        if (now && (now == grid || grid->isAncestorOf(now)))
            FLastGrid = grid;
}

void TFrmMain::CreateComponents()
{
    setObjectName(QStringLiteral("FrmMain"));
    setWindowTitle(QStringLiteral("DirNote"));
    // Every window of the program, dialogs and boxes too, shows the program's icon. It is decoded
    // once the window is up: the first sight of the window need not wait.
    QTimer::singleShot(0, this, [] { QApplication::setWindowIcon(ProgramIcon()); });
    // The design's 8 point sans serif; every component inherits it.
    QFont designFont(QStringLiteral("Sans Serif"));
    designFont.setStyleHint(QFont::SansSerif);
    designFont.setPointSize(8);
    setFont(designFont);
    setMinimumSize(MinimumOuterSize - FrameAllowance);
    resize(DesignClientSize);

    LabelCurrFolderTxt = new QLabel(QStringLiteral("Folder:"), this);
    LabelCurrFolderTxt->setObjectName(QStringLiteral("LabelCurrFolderTxt"));
    // 32 pixels wide by design; a wider font than the design's must not cut the caption.
    LabelCurrFolderTxt->setFixedSize(
        std::max(32, LabelCurrFolderTxt->fontMetrics().horizontalAdvance(LabelCurrFolderTxt->text())), 13);
    LabelCurrFolder = new QLabel(QStringLiteral("(none)"), this);
    LabelCurrFolder->setObjectName(QStringLiteral("LabelCurrFolder"));
    LabelCurrFolder->setToolTip(QStringLiteral("(none)"));
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
    QWidget *foldersPane = makePane(QStringLiteral("F&olders"), QStringLiteral("StaticTextFolders"),
                                    QStringLiteral("StringGridFolders"), StaticTextFolders, StringGridFolders);
    QWidget *filesPane = makePane(QStringLiteral("&Files"), QStringLiteral("StaticTextFiles"),
                                  QStringLiteral("StringGridFiles"), StaticTextFiles, StringGridFiles);
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

    PanelButtons = new QFrame(this);
    PanelButtons->setObjectName(QStringLiteral("PanelButtons"));
    PanelButtons->setFrameShape(QFrame::Panel);
    PanelButtons->setFrameShadow(QFrame::Sunken);
    PanelButtons->setFixedHeight(33);
    BitBtnDirNote = MakeButton(PanelButtons, QStringLiteral("BitBtnDirNote"), QStringLiteral("Folder &info"),
                               QStyle::SP_FileDialogInfoView);
    BitBtnSelectFolder = MakeButton(PanelButtons, QStringLiteral("BitBtnSelectFolder"),
                                    QStringLiteral("&Select folder"), QStyle::SP_DirOpenIcon);
    BitBtnRefreshFolder = MakeButton(PanelButtons, QStringLiteral("BitBtnRefreshFolder"),
                                     QStringLiteral("&Refresh folder"), QStyle::SP_BrowserReload);
    BitBtnClose = MakeButton(PanelButtons, QStringLiteral("BitBtnClose"), QStringLiteral("&Close"),
                             QStyle::SP_DialogCloseButton);
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
    // The status line speaks in the button panel's free middle, so nothing moves when it does;
    // a text too long for it is cut there and shown whole as its tooltip.
    StatusLine = new QLabel(PanelButtons);
    StatusLine->setObjectName(QStringLiteral("StatusLine"));
    StatusLine->setTextFormat(Qt::PlainText);
    StatusLine->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    StatusLine->hide();
    buttonsLayout->insertWidget(2, StatusLine, 1);

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

    ResetTables();
    setTabOrder(StringGridFolders, StringGridFiles);
    setTabOrder(StringGridFiles, BitBtnDirNote);
    setTabOrder(BitBtnDirNote, BitBtnSelectFolder);
    setTabOrder(BitBtnSelectFolder, BitBtnRefreshFolder);
    setTabOrder(BitBtnRefreshFolder, BitBtnClose);

    FWindowMenu = new QMenu(this);
    FWindowMenu->setObjectName(QStringLiteral("WindowMenu"));
    AddWindowMenuItem(QStringLiteral("&Restore"), SC_RESTORE);
    AddWindowMenuItem(QStringLiteral("Mi&nimize"), SC_MINIMIZE);
    AddWindowMenuItem(QStringLiteral("Ma&ximize"), SC_MAXIMIZE);
    FWindowMenu->addSeparator();
    CreateIndexComponents();
    FWindowMenu->addSeparator();
    AddWindowMenuItem(QStringLiteral("&Close\tAlt+F4"), SC_CLOSE);
    connect(FWindowMenu, &QMenu::aboutToShow, this, [this] {
        const Qt::WindowStates state = windowState();
        for (QAction *action : FWindowMenu->actions()) {
            switch (action->data().toInt()) {
            case SC_RESTORE: action->setEnabled(state & (Qt::WindowMaximized | Qt::WindowMinimized)); break;
            case SC_MINIMIZE: action->setEnabled(!(state & Qt::WindowMinimized)); break;
            case SC_MAXIMIZE: action->setEnabled(!(state & Qt::WindowMaximized)); break;
            }
        }
    });
    // Alt+Space opens it where the window manager passes the key on.
    auto *menuKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
    connect(menuKey, &QShortcut::activated, this, [this] { PopupWindowMenu(mapToGlobal(QPoint(0, 0))); });
}

QAction *TFrmMain::AddWindowMenuItem(const QString &text, int command)
{
    QAction *action = FWindowMenu->addAction(text);
    action->setData(command);
    connect(action, &QAction::triggered, this, [this, command] { ReportErrors([&] { WMSysCommand(command); }); });
    return action;
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

void TFrmMain::FormCreate(const QByteArrayList &arguments)
{
    // The stored outer size, never below the minimum nor beyond the screen (a damaged value
    // would otherwise ask for a window too large to draw).
    const QSize available = screen() ? screen()->availableGeometry().size() : QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    auto outerLength = [&](const char *name, int current, int minimum, int most) {
        const qint32 stored = ReadRegValue(HKEY_CURRENT_USER, RegProgramKey, QString::fromLatin1(name),
                                           RegValue::FromInteger(current))
                                  .AsInteger();
        return std::clamp(stored, minimum, std::max(minimum, most));
    };
    resize(outerLength("MainWidth", width() + FrameAllowance.width(), MinimumOuterSize.width(), available.width())
               - FrameAllowance.width(),
           height());
    resize(width(),
           outerLength("MainHeight", height() + FrameAllowance.height(), MinimumOuterSize.height(), available.height())
               - FrameAllowance.height());

    for (size_t command = 0; command < CommandCount; ++command) {
        const TShortCutSetting &setting = ShortCutSettings[command];
        FShortCuts[command] = ReadRegValue(HKEY_CURRENT_USER, RegProgramKey, QString::fromLatin1(setting.Name),
                                           RegValue::FromWord(setting.Default))
                                  .AsWord();
    }

    ShowIndexShortCuts();

    FDescFilePath.clear();
    ResetTables();

    LoadFolder(StartFolder(arguments, WorkingFolder(), QFile::encodeName(QCoreApplication::applicationFilePath())));

    // The About item comes last, right after Close, with the About shortcut's key text.
    AddWindowMenuItem(QStringLiteral("&About ...\t") + ShortCutToText(FShortCuts[cmdAbout]), CmdAbout);

    // From now on a second start hands its folder to this window. Without a socket the program
    // still works, only without the hand-off: that is not worth a box at every start.
    FPrevInstServer = new TPrevInstServer(QStringLiteral("TFrmMain"), AppId, this, this);
    if (!FPrevInstServer->Listen())
        std::fprintf(stderr, "dirnote: no hand-off from a second start: %s\n",
                     qPrintable(FPrevInstServer->ErrorString()));
}

void TFrmMain::PopupWindowMenu(const QPoint &globalPos)
{
    FWindowMenu->popup(globalPos);
}

void TFrmMain::WMSysCommand(int command)
{
    switch (command & 0xFFF0) {
    case SC_RESTORE: showNormal(); break;
    case SC_MINIMIZE: showMinimized(); break;
    case SC_MAXIMIZE: showMaximized(); break;
    case SC_CLOSE: close(); break;
    }
    switch (command) {
    case CmdAbout: ShowAbout(); break;
    case CmdUndescribedOnly: SetUndescribedOnly(!UndescribedOnly()); break;
    case CmdSearch: ShowSearch(); break;
    case CmdPrunedDescriptions: ShowPrunedDescriptions(); break;
    case CmdIndexTree: IndexFolderTree(); break;
    }
}

void TFrmMain::ShowAbout()
{
    ShowAboutBox(
        this,
        {QStringLiteral("Programmers=Programmers"), QStringLiteral("HTTP=Homepage"), QStringLiteral("SMTP=E-Mail")},
        true);
}

void TFrmMain::contextMenuEvent(QContextMenuEvent *event)
{
    // A right click on the window outside the tables; the tables pass their own clicks up here.
    QWidget *target = childAt(event->pos());
    for (TStringGrid *grid : {StringGridFolders, StringGridFiles})
        if (target && (target == grid || grid->isAncestorOf(target)))
            return;
    if (event->reason() != QContextMenuEvent::Mouse)
        return;
    PopupWindowMenu(event->globalPos());
    event->accept();
}

void TFrmMain::showEvent(QShowEvent *event)
{
    // Centred on the screen at the first show, frame included.
    if (!FShown && !event->spontaneous()) {
        FShown = true;
        if (QScreen *where = screen()) {
            const QRect area = where->availableGeometry();
            const QSize outer = size() + FrameAllowance;
            move(area.x() + (area.width() - outer.width()) / 2, area.y() + (area.height() - outer.height()) / 2);
        }
    }
    QWidget::showEvent(event);
}

void TFrmMain::PrevInstRestore()
{
    RestoreApplication(this);
}

void TFrmMain::PrevInstParm(const QByteArray &text)
{
    // An empty text is what an unreadable one comes to: the system's failure, without a code.
    if (text.isEmpty())
        throw TOSError(0);
    // The server calls this from the event loop, never from inside its socket's signals, so the
    // boxes of the listing below may run their event loops here.
    const QByteArray folder = HandedOverFolder(text);
    if (FListing) {
        // Arrived while a listing is read (queued before it began): it follows that one.
        LoadFolder(folder);
        return;
    }
    // What was typed in the folder listed so far is stored before another one replaces it, in
    // an open folder text dialog as in a cell. Should that fail, the dialogs stay as they are.
    if (FStoreOpenFolderText)
        FStoreOpenFolderText();
    CommitPendingDescription();
    // A dialog of this program closes as cancelled, so that the listing below is the last word.
    // This runs in the event loop of the topmost one; each returns once this has.
    CloseModalDialogs();
    // The text names a folder as the command line does: "dirnote /data/Sub" lists Sub, whether
    // or not an instance was running.
    LoadFolder(folder);
    RestoreApplication(this);
}

void TFrmMain::AttachGridHandlers(bool attach)
{
    if (!attach) {
        for (TStringGrid *grid : {StringGridFolders, StringGridFiles}) {
            grid->OnSelectCell = nullptr;
            grid->OnExit = nullptr;
        }
        return;
    }
    StringGridFolders->OnSelectCell = [this](int col, int row) { return StringGridFoldersSelectCell(col, row); };
    StringGridFiles->OnSelectCell = [this](int col, int row) { return StringGridFilesSelectCell(col, row); };
    StringGridFolders->OnExit = [this] { StringGridFoldersExit(); };
    StringGridFiles->OnExit = [this] { StringGridFilesExit(); };
}

void TFrmMain::KeepFocusOffEditors()
{
    // Replacing the rows closes an open cell editor; a focused editor that closes hands the focus
    // on to the next control in the tab order. Its table takes the focus back first instead.
    QWidget *focus = focusWidget();
    for (TStringGrid *grid : {StringGridFolders, StringGridFiles}) {
        if (focus && focus != grid && grid->isAncestorOf(focus)) {
            grid->setFocus();
            grid->closePersistentEditor(grid->currentIndex());
        }
    }
}

QByteArray TFrmMain::CurrentFolderPath() const
{
    return ExtractFilePath(FDescFilePath);
}

bool TFrmMain::LoadFolder(const QByteArray &folder)
{
    std::shared_ptr<TFolderCatalogue> catalogue;
    if (!ListFolder(folder, catalogue))
        return false;
    // A folder described only by a descript.ion is offered its import once, after the listing
    // has ended (a listing asked for during one would only follow it).
    if (!catalogue || catalogue->DescPath.isEmpty())
        return true;
    const QByteArray listed = CurrentFolderPath();
    if (OfferDescriptIonImport(*catalogue, this, [this, listed] { return CurrentFolderPath() == listed; }))
        return ListFolder(folder, catalogue);
    return true;
}

bool TFrmMain::ListFolder(const QByteArray &asked, std::shared_ptr<TFolderCatalogue> &catalogue)
{
    // Whatever asks, the listed folder is absolute and clean, so its parent is always known.
    if (asked.isEmpty())
        return false;
    const QByteArray folder = AbsolutePath(asked, asked.startsWith('/') ? QByteArray() : WorkingFolder());
    if (!IsExistingFolder(folder))
        return false;
    if (FListing) {
        // Asked for while a listing is read (by a timer): it follows that one.
        FListAfterListing = folder;
        return true;
    }
    // What the status line said was about the listing this one replaces; what this listing
    // has to say comes after. An index problem is said once a run, and stays.
    if (!FStatusIsIndexProblem)
        ShowStatus({});
    // Listed on a worker thread while the window waits; it lives until the tables are filled.
    TBusyWait busy(this);
    // The cursor moves below commit nothing; whatever happens, each table has a current cell
    // (typing always reaches a cell), is enabled exactly when it lists entries, and gets its
    // handlers back.
    AttachGridHandlers(false);
    KeepFocusOffEditors();
    struct TRestore {
        TFrmMain *Self;
        ~TRestore()
        {
            for (TStringGrid *grid : {Self->StringGridFolders, Self->StringGridFiles})
                if (!grid->currentIndex().isValid())
                    grid->SetCurrentCell(TStringGridModel::ColDesc, 0);
            Self->EnableTables();
            Self->AttachGridHandlers(true);
        }
    } restore{this};

    catalogue = std::make_shared<TFolderCatalogue>();
    FListingFolder = IncludeTrailingPathDelimiter(folder);
    FListing = true;
    struct TListingEnd {
        TFrmMain *Self;
        ~TListingEnd()
        {
            Self->FListing = false;
            // From the event loop, once this listing has finished.
            if (const QByteArray next = std::exchange(Self->FListAfterListing, {}); !next.isEmpty())
                QTimer::singleShot(0, Self, [self = Self, next] { ReportErrors([&] { self->LoadFolder(next); }); });
            if (std::exchange(Self->FCloseAfterListing, false))
                QTimer::singleShot(0, Self, [self = Self] { self->close(); });
        }
    } listingEnd{this};
    // The window touches its index connection nowhere else while it waits here.
    busy.Run([&] { *catalogue = ListAndPruneFolder(folder, {.Reader = DirectoryReader, .Follower = FIndex.get()}); });
    const std::pair<TStringGrid *, const std::vector<TCatalogueEntry> *> tables[] = {
        {StringGridFolders, &catalogue->Folders}, {StringGridFiles, &catalogue->Files}};
    std::array<std::shared_ptr<const std::vector<TCatalogueEntry>>, 2> replaced;
    for (size_t table = 0; table < 2; ++table) {
        const auto &[grid, entries] = tables[table];
        // The rows share the listing (and keep it) rather than copy its entries.
        replaced[table] = grid->GridModel()->SetEntries(
            std::shared_ptr<const std::vector<TCatalogueEntry>>(catalogue, entries));
        grid->FitListedColumns();
    }
    // The listing replaced, when it was large, is freed on a thread of its own (as the index
    // updater may still hold it, the last holder frees it).
    constexpr size_t kFreeApartFrom = 10000;
    if ((replaced[0] ? replaced[0]->size() : 0) + (replaced[1] ? replaced[1]->size() : 0) >= kFreeApartFrom) {
        WaitReplacedListingFreed();
        try {
            FReplacedFreer = std::thread([replaced = std::move(replaced)]() mutable { replaced = {}; });
        } catch (const std::system_error &) { // no thread to be had: freed here
        }
    }
    replaced = {};

    FDescFilePath = catalogue->DescPath;
    const QString shown = DecodeName(CurrentFolderPath());
    LabelCurrFolder->setText(shown);
    LabelCurrFolder->setToolTip(shown);

    CreateDescriptionFile(FDescFilePath);
    IndexListed(catalogue);

    for (TStringGrid *grid : {StringGridFolders, StringGridFiles}) {
        const int row = grid->GridModel()->FirstUndescribed();
        grid->SetCurrentCell(1, row >= 0 ? row : 0);
    }
    // What could be listed is shown; the user learns that the folder was not listed whole.
    if (!catalogue->Error.isEmpty())
        throw TException(catalogue->Error);
    return true;
}

void TFrmMain::EnableTables()
{
    for (TStringGrid *grid : {StringGridFolders, StringGridFiles}) {
        const bool enable = grid->GridModel()->HasShownEntries();
        // A disabled table cannot keep the focus; the window takes it rather than the next
        // control, so that no key goes astray to a button.
        if (!enable && focusWidget() == grid)
            setFocus();
        grid->setEnabled(enable);
    }
}

bool TFrmMain::StringGridFoldersSelectCell(int col, int row)
{
    if (row != StringGridFolders->Row())
        CommitCurrentRow(StringGridFolders, kSectionFolders);
    return col == 1;
}

bool TFrmMain::StringGridFilesSelectCell(int col, int row)
{
    if (row != StringGridFiles->Row())
        CommitCurrentRow(StringGridFiles, kSectionFiles);
    return col == 1;
}

void TFrmMain::StringGridFoldersExit()
{
    CommitCurrentRow(StringGridFolders, kSectionFolders);
}

void TFrmMain::StringGridFilesExit()
{
    CommitCurrentRow(StringGridFiles, kSectionFiles);
}

void TFrmMain::CommitCurrentRow(TStringGrid *grid, const char *section)
{
    TStringGridModel *model = grid->GridModel();
    const int row = grid->Row();
    const QString text = model->Description(row);
    const QString stored = model->Stored(row);
    if (text.isEmpty()) {
        // A stored description cannot be removed by emptying its cell.
        if (!stored.isEmpty())
            model->SetDescription(row, stored);
        return;
    }
    if (text == stored)
        return;
    // A stored text in Windows-1252 can read as more UTF-8 than the file reads back: not saved.
    const QByteArray bytes = EncodeText(text);
    if (bytes.size() > kValueByteLimit)
        throw TException(TooLongMessage(bytes.size()));
    StoreDescription(grid, section, row, text, bytes);
}

void TFrmMain::StoreDescription(TStringGrid *grid, const char *section, int row, const QString &text,
                                const QByteArray &bytes)
{
    TStringGridModel *model = grid->GridModel();
    ProfileFile profile(FDescFilePath);
    const QByteArray name = model->Name(row);
    // The names are copied only when the file leaves the key to the name rule.
    WriteDescription(profile, section, name, TTableNames([model] { return model->Names(); }), bytes);
    model->SetStored(row, text, bytes);
    if (FIndexUpdater)
        FIndexUpdater->Written(CurrentFolderPath(), std::strcmp(section, kSectionFolders) == 0, name, bytes);
    const int width = grid->TextWidth(text) + 6;
    if (width > grid->ColumnRuleWidth(1))
        grid->SetColumnRuleWidth(1, width);
}

void TFrmMain::CommitPendingDescription()
{
    if (FLastGrid == StringGridFolders)
        StringGridFoldersExit();
    else if (FLastGrid == StringGridFiles)
        StringGridFilesExit();
}

void TFrmMain::BitBtnRefreshFolderClick()
{
    CommitPendingDescription();
    RefreshFolder();
}

void TFrmMain::RefreshFolder()
{
    const QByteArray folderName = StringGridFolders->GridModel()->Name(StringGridFolders->Row());
    const QByteArray fileName = StringGridFiles->GridModel()->Name(StringGridFiles->Row());
    if (!LoadFolder(CurrentFolderPath()))
        return;
    for (const auto &[grid, name] : {std::pair{StringGridFolders, folderName}, std::pair{StringGridFiles, fileName}}) {
        const int row = grid->GridModel()->FindName(name);
        if (row >= 0)
            grid->SetCurrentCell(grid->Col(), row);
    }
}

void TFrmMain::BitBtnDirNoteClick()
{
    CommitPendingDescription();
    // Before the first listing there is no file to read or write: say so instead of showing an
    // empty text that could never be saved.
    if (FDescFilePath.isEmpty()) {
        MessageDlg(QStringLiteral("No folder is listed yet, so there is no folder text to edit."),
                   TMsgDlgType::mtInformation, mbOK, this);
        return;
    }
    TFrmCurrDirNote dialog(this);
    // The folder the text belongs to, also should a hand-off list another one meanwhile.
    const QByteArray descPath = FDescFilePath;
    const QList<QByteArray> original = ReadFolderText(descPath);
    dialog.SetLines(original);
    // A hand-off stores what was typed before it closes the dialog as cancelled.
    FStoreOpenFolderText = [&] {
        const QList<QByteArray> lines = FolderTextLines(dialog.Text(), original);
        if (lines != original)
            WriteFolderText(descPath, lines);
    };
    const auto forget = qScopeGuard([this] { FStoreOpenFolderText = nullptr; });
    if (dialog.exec() != QDialog::Accepted)
        return;
    WriteFolderText(descPath, FolderTextLines(dialog.Text(), original));
}

void TFrmMain::BitBtnSelectFolderClick()
{
    CommitPendingDescription();
    FolderDialog->SetDirectory(DecodeName(CurrentFolderPath()));
    if (!FolderDialog->Browse())
        return;
    const QByteArray chosen = EncodeName(FolderDialog->Directory());
    if (!IsExistingFolder(chosen) || IsCurrentFolderAgain(chosen, CurrentFolderPath()))
        return;
    LoadFolder(chosen);
}

void TFrmMain::CreateIndex()
{
    if (qEnvironmentVariableIntValue("DIRNOTE_NO_INDEX") == 1)
        return;
    // The window's own connection follows renames inside a listing; the rest of the index's
    // work runs on the updater's thread after the rows are shown.
    FIndex = std::make_unique<TDescriptionIndex>();
    if (const QString problem = FIndex->TakeProblem(); !problem.isEmpty())
        ShowIndexProblem(problem);
    if (!FIndex->IsUsable())
        return;
    FIndexUpdater = new TIndexUpdater(FIndex->Path());
    connect(FIndexUpdater, &TIndexUpdater::Problem, this, &TFrmMain::ShowIndexProblem);
    connect(FIndexUpdater, &TIndexUpdater::Updated, this, &TFrmMain::IndexUpdated);
}

void TFrmMain::ShowIndexProblem(const QString &message)
{
    if (FIndexProblemShown)
        return;
    FIndexProblemShown = true;
    ShowStatus(message);
    FStatusIsIndexProblem = true;
}

void TFrmMain::ShowStatus(const QString &text)
{
    FStatusIsIndexProblem = false;
    StatusLine->setText(text);
    StatusLine->setToolTip(text);
    StatusLine->setVisible(!text.isEmpty());
}

void TFrmMain::IndexListed(const std::shared_ptr<const TFolderCatalogue> &catalogue)
{
    if (!FIndex)
        return;
    if (const QString problem = FIndex->TakeProblem(); !problem.isEmpty())
        ShowIndexProblem(problem);
    if (!catalogue->Renamed.empty())
        ShowStatus(FollowedRenamesMessage(catalogue->Renamed));
    if (FIndexUpdater)
        FIndexUpdater->Listed(catalogue);
}

void TFrmMain::IndexUpdated(const QByteArray &folder, const TFolderUpdate &update)
{
    // A report about a folder the user has left is of no use: it would list the wrong folder
    // again and speak of another. While a listing is read, its folder is the one shown next.
    const QByteArray shown = FListing ? FListingFolder : CurrentFolderPath();
    if (IncludeTrailingPathDelimiter(folder) != shown)
        return;
    if (!update.Moved.empty()) {
        // The descriptions were written after the rows were shown: list the folder again (after
        // the listing being read, which may have read the file before).
        if (FListing)
            LoadFolder(folder);
        else
            ReportErrors([this] { BitBtnRefreshFolderClick(); });
        ShowStatus(FollowedMovesMessage(update.Moved));
    }
    if (!update.Error.isEmpty())
        ShowStatus(update.Error);
}

void TFrmMain::FormClose()
{
    // A description still in its cell editor is committed too, also when another window is
    // active: closing must not lose typing.
    CommitPendingDescription();
    // A maximised window keeps the last stored size for the next start. A minimised one has
    // kept its normal size, which is stored.
    if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return;
    const QSize outer = size() + FrameAllowance;
    // The size is no data of the user's: a settings file that cannot take it (a full disk, a
    // damaged file) is reported, and the window closes all the same rather than never.
    ReportErrors([&] {
        WriteRegValue(HKEY_CURRENT_USER, RegProgramKey, QStringLiteral("MainWidth"),
                      RegValue::FromInteger(outer.width()));
        WriteRegValue(HKEY_CURRENT_USER, RegProgramKey, QStringLiteral("MainHeight"),
                      RegValue::FromInteger(outer.height()));
    });
}

void TFrmMain::closeEvent(QCloseEvent *event)
{
    if (FListing) {
        FCloseAfterListing = true;
        event->ignore();
        return;
    }
    // A description that cannot be written keeps the window open; the next attempt tries again.
    // (A size that cannot be stored does not: FormClose reports it itself.)
    if (!ReportErrors([this] { FormClose(); }))
        event->ignore();
    else
        event->accept();
}

// ---- keyboard commands ----

namespace {
// A file as the file table lists it: anything but a folder, a dangling link included.
bool IsListedFile(const QByteArray &path)
{
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0)
        return false;
    return ::stat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode);
}
} // namespace

void TFrmMain::WatchFocusAndDialogs(QWidget *widget, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        // A button's accelerator or a click moves the focus to it only on the way to its
        // dialog: the control to return to is the one before (else a space opens it again).
        const auto reason = static_cast<QFocusEvent *>(event)->reason();
        const bool passing = (reason == Qt::ShortcutFocusReason || reason == Qt::MouseFocusReason)
                             && qobject_cast<QAbstractButton *>(widget);
        if (widget->window() == this && !passing)
            FFocusToReturnTo = widget;
        return;
    }
    // Without a window manager nobody activates this window again once a dialog over it has
    // gone: typed text would go nowhere, or to a button. It takes the focus back itself.
    if (widget != this && widget->isWindow() && (widget->windowType() == Qt::Dialog || widget->isModal()))
        QTimer::singleShot(0, this, [this] { ReportErrors([this] { TakeFocusBack(); }); });
}

void TFrmMain::TakeFocusBack()
{
    if (!isVisible())
        return;
    // A dialog still open (the one that opened the closed one) gets it instead.
    if (QWidget *modal = QApplication::activeModalWidget()) {
        if (modal->isVisible() && !modal->isActiveWindow())
            modal->activateWindow();
        return;
    }
    activateWindow();
    if (FFocusToReturnTo && FFocusToReturnTo->isVisible() && FFocusToReturnTo->isEnabled())
        FFocusToReturnTo->setFocus(Qt::ActiveWindowFocusReason);
}

bool TFrmMain::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if ((type == QEvent::FocusIn || type == QEvent::Hide) && watched->isWidgetType())
        WatchFocusAndDialogs(static_cast<QWidget *>(watched), event);
    if ((type != QEvent::KeyPress && type != QEvent::ShortcutOverride) || !watched->isWidgetType())
        return QWidget::eventFilter(watched, event);
    auto *target = static_cast<QWidget *>(watched);
    if (target->window() != this)
        return false;
    // A key the focused control ignores travels on to its parents; the preview has seen it at
    // the control already.
    const QWidget *focus = QApplication::focusWidget();
    if (focus && focus != target && target->isAncestorOf(focus))
        return false;
    auto *keyEvent = static_cast<QKeyEvent *>(event);
    const TShortCut pressed = ShortCutOfKeyPress(keyEvent->key(), keyEvent->modifiers());
    // A key without a virtual-key code (text from an input method) runs no command.
    if (pressed == 0)
        return false;
    if (type == QEvent::ShortcutOverride) {
        // A key that runs a command is not a shortcut (a heading's or button's accelerator, the
        // window menu's key): it is delivered as a key press, to the preview first.
        if (KeyCommand(FShortCuts, pressed, FocusedTable()) == CommandCount)
            return false;
        event->accept();
        return true;
    }
    quint16 key = pressed & 0xFF;
    Qt::KeyboardModifiers shift = keyEvent->modifiers();
    if (pressed & scShift)
        shift |= Qt::ShiftModifier; // Backtab
    FormKeyDown(key, shift);
    if (key != 0)
        return false;
    event->accept();
    return true;
}

void TFrmMain::FormKeyDown(quint16 &key, Qt::KeyboardModifiers shift)
{
    if (key == 0)
        return;
    TShortCut pressed = key;
    if (shift & Qt::ShiftModifier)
        pressed += scShift;
    if (shift & Qt::ControlModifier)
        pressed += scCtrl;
    if (shift & Qt::AltModifier)
        pressed += scAlt;
    const TCommand command = KeyCommand(FShortCuts, pressed, FocusedTable());
    if (command == CommandCount)
        return;
    key = 0;
    ReportErrors([&] { RunCommand(command); });
}

TFrmMain::TKeyFocus TFrmMain::FocusedTable() const
{
    const QWidget *focus = QApplication::focusWidget();
    if (focus && focus == StringGridFolders)
        return TKeyFocus::Folders;
    if (focus && focus == StringGridFiles)
        return TKeyFocus::Files;
    return TKeyFocus::None;
}

void TFrmMain::RunCommand(TCommand command)
{
    switch (command) {
    case cmdAbout: ShowAbout(); break;
    case cmdRefresh: RefreshFolder(); break;
    case cmdFolderGoto: FolderGoto(); break;
    case cmdFolderGoBack: FolderGoBack(); break;
    case cmdFolderExplore: break; // consuming the key is all it does
    case cmdFolderDelete: FolderDelete(); break;
    case cmdFileExec: FileExec(); break;
    case cmdFileDelete: FileDelete(); break;
    case cmdSwitchTable: SwitchTable(); break;
    case cmdUndescribedOnly: SetUndescribedOnly(!UndescribedOnly()); break;
    case cmdSearch: ShowSearch(); break;
    case cmdPrunedDescriptions: ShowPrunedDescriptions(); break;
    case CommandCount: break;
    }
}

void TFrmMain::FolderGoto()
{
    const QByteArray name = StringGridFolders->GridModel()->Name(StringGridFolders->Row());
    if (!name.isEmpty())
        LoadFolder(CurrentFolderPath() + name + '/');
}

void TFrmMain::FolderGoBack()
{
    const QByteArray parent = ParentFolderPath(CurrentFolderPath());
    if (!parent.isEmpty())
        LoadFolder(parent);
}

void TFrmMain::PlaceCursorAfterDeletion(TStringGrid *grid, int row)
{
    // The entry that followed the deleted one, or the new last entry.
    if (grid->isEnabled())
        grid->setFocus();
    const int count = grid->GridModel()->rowCount();
    grid->SetCurrentCell(grid->Col(), row < count ? row : count - 1);
}

void TFrmMain::FolderDelete()
{
    const QByteArray name = StringGridFolders->GridModel()->Name(StringGridFolders->Row());
    const QByteArray folder = CurrentFolderPath() + name + '/';
    if (name.isEmpty() || !IsExistingFolder(folder))
        return;
    if (MessageDlg(QStringLiteral("Are you absolutely sure that you permanently want to remove the selected "
                                  "folder and it's subfolders ?"),
                   TMsgDlgType::mtConfirmation, mbYes | mbNo, this)
        != mrYes)
        return;
    if (!DeleteFolderTree(folder, false)) {
        MessageDlg(QStringLiteral("Unable to delete the selected folder and it's subfolders !"), TMsgDlgType::mtError,
                   mbAbort, this);
        return;
    }
    const int row = StringGridFolders->Row();
    RefreshFolder();
    PlaceCursorAfterDeletion(StringGridFolders, row);
}

void TFrmMain::FileExec()
{
    const QByteArray name = StringGridFiles->GridModel()->Name(StringGridFiles->Row());
    const QByteArray file = CurrentFolderPath() + name;
    if (name.isEmpty() || !IsListedFile(file))
        return;
    // The opened program runs on its own; neither its result nor its process is looked at.
    TProcessHandle process = 0;
    ExecuteFile(file, {}, {}, false, process, SW_SHOWNORMAL, false);
}

void TFrmMain::FileDelete()
{
    const int row = StringGridFiles->Row();
    const QByteArray name = StringGridFiles->GridModel()->Name(row);
    const QByteArray file = CurrentFolderPath() + name;
    if (name.isEmpty() || !IsListedFile(file))
        return;
    // At once and for good, by the name's bytes (a name that is not text is deleted all the same).
    if (::unlink(file.constData()) != 0) {
        MessageDlg(QStringLiteral("Unable to delete the selected file !"), TMsgDlgType::mtError, mbCancel, this);
        return;
    }
    RefreshFolder();
    PlaceCursorAfterDeletion(StringGridFiles, row);
}

void TFrmMain::SwitchTable()
{
    if (FocusedTable() == TKeyFocus::Folders) {
        if (StringGridFiles->isEnabled())
            StringGridFiles->setFocus();
        return;
    }
    if (StringGridFolders->isEnabled())
        StringGridFolders->setFocus();
    else if (StringGridFiles->isEnabled())
        StringGridFiles->setFocus();
}
