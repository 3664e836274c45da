// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Main.h"
#include "exchange/CommentMirror.h"
#include "exchange/Import.h"

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
#include "ui/FolderWatch.h"
#include "ui/FreeApart.h"
#include "ui/ImportOffer.h"
#include "ui/StartListing.h"
#include "ui/StringGrid.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QFile>
#include <QFocusEvent>
#include <QMenu>
#include <QPointer>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
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

QByteArray ParentFolderPath(const QByteArray &folderPath)
{
    if (folderPath.isEmpty())
        return {};
    return ExtractFilePath(folderPath.chopped(1));
}

TFrmMain::TFrmMain(const QByteArrayList &arguments, QWidget *parent)
    : TFrmMain(arguments, std::make_unique<TStartListing>(arguments), parent)
{
}

TFrmMain::TFrmMain(const QByteArrayList &arguments, std::unique_ptr<TStartListing> start, QWidget *parent)
    : QWidget(parent)
{
    FMainIndex = new TMainIndex(*this);
    CreateComponents();
    FListings = new TListingController(this, *static_cast<TListingSteps *>(this));
    FCommit = std::make_unique<TDescriptionCommit>(StringGridFolders, StringGridFiles, [this] {
        return TCommitPlace{FDescFilePath, FIndexUpdater, FListings->FolderWatch(),
                            [this](const QByteArray &folder, const QByteArray &name, const QByteArray &text) {
                                MirrorWritten(folder, {{name, text}});
                            }};
    });
    FEntryActions = std::make_unique<TEntryActions>(static_cast<TEntryActionsHost &>(*this), StringGridFolders,
                                                    StringGridFiles);
    AttachGridHandlers(true);
    FFocusConnection = connect(qApp, &QApplication::focusChanged, this,
                               [this](QWidget *, QWidget *now) { FocusChanged(now); });
    // The key preview: every key press of the window passes eventFilter first.
    qApp->installEventFilter(this);
    // The index was opened and the start folder read while the window was built.
    TStartListing::TResult started;
    {
        TBusyWait busy(this);
        busy.Run([&] { started = start->Take(); });
    }
    CreateIndex(std::move(started.Index));
    if (!started.Listing.Folder.isEmpty())
        FListings->AdoptStarted(std::move(started.Listing));
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
    // Closing waits for no listing to be freed, neither the shown one nor one still being freed.
    // (The rows emptied here must not reach the tables' handlers.)
    AttachGridHandlers(false);
    FListings->AbandonReplacedFreeing();
    for (TStringGrid *grid : {StringGridFolders, StringGridFiles})
        FreeApart(grid->GridModel()->SetEntries({}));
}

void TFrmMain::WaitReplacedListingFreed()
{
    FListings->WaitReplacedListingFreed();
}

void TFrmMain::FocusChanged(QWidget *now)
{
    FCommit->FocusChanged(now);
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

    FCreating = true;
    const auto created = qScopeGuard([this] { FCreating = false; });
    ListTarget(StartTarget(arguments, WorkingFolder(), QFile::encodeName(QCoreApplication::applicationFilePath())));

    // The About item comes last, right after Close, with the About shortcut's key text.
    AddWindowMenuItem(tr("&About ...") + u'\t' + ShortCutToText(FShortCuts[cmdAbout]), CmdAbout);

    // From now on a second start hands its folder to this window. Without a socket the program
    // still works, only without the hand-off: that is not worth a box at every start.
    FPrevInstServer = new TPrevInstServer(QStringLiteral("TFrmMain"), AppId, this, this);
    if (!FPrevInstServer->Listen())
        std::fprintf(stderr, "dirnote: no hand-off from a second start: %s\n",
                     qPrintable(FPrevInstServer->ErrorString()));
}

void TFrmMain::PopupWindowMenu(const QPoint &globalPos)
{
    FWindowMenu->Popup(globalPos);
}

void TFrmMain::WMSysCommand(int command)
{
    FWindowMenu->RunStandard(command);
    switch (command) {
    case CmdAbout: ShowAbout(); break;
    case CmdUndescribedOnly: SetUndescribedOnly(!UndescribedOnly()); break;
    case CmdSearch: ShowSearch(); break;
    case CmdPrunedDescriptions: ShowPrunedDescriptions(); break;
    case CmdIndexTree: IndexFolderTree(); break;
    case CmdMirrorComments: SetMirrorCommentsOn(!MirrorCommentsOn()); break;
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

void TFrmMain::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);
    // The pictures, which may be looked up in the desktop's icon theme (some 5 ms each time),
    // come after the window's first paint: its first sight does without them.
    if (!FPainted) {
        FPainted = true;
        QTimer::singleShot(0, this, &TFrmMain::ShowPictures);
    }
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
    if (FListings->Listing()) {
        // Arrived while a listing is read (queued before it began): the whole hand-off follows
        // that one, so that its rows are the ones the cursor is put on.
        FListings->AfterListing([this, text] { PrevInstParm(text); });
        return;
    }
    const TStartTarget target = HandedOverTarget(text);
    // What was typed in the folder listed so far is stored before another one replaces it, in
    // an open folder text dialog as in a cell. Should that fail, the dialogs stay as they are.
    if (FStoreOpenFolderText)
        FStoreOpenFolderText();
    CommitPendingDescription();
    // A dialog of this program closes as cancelled, so that the listing below is the last word.
    // This runs in the event loop of the topmost one; each returns once this has.
    CloseModalDialogs();
    // The text names a folder or a file as the command line does: "dirnote /data/Sub" lists Sub,
    // whether or not an instance was running.
    ListTarget(target);
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
    return FListings->LoadFolder(folder);
}

bool TFrmMain::OfferImport(const std::shared_ptr<const TFolderCatalogue> &catalogue)
{
    const QByteArray listed = CurrentFolderPath();
    const auto stillListed = [this, listed] { return CurrentFolderPath() == listed; };
    const auto imported = [this, folder = catalogue->Folder](const TImportReport &report) {
        std::vector<std::pair<QByteArray, QByteArray>> written;
        for (const TImportStep &step : report.Steps)
            if (step.Action == TImportAction::Set)
                written.emplace_back(step.Name, EncodeText(step.Text));
        MirrorWritten(folder, written);
    };
    if (!FCreating)
        return OfferDescriptIonImport(*catalogue, this, stillListed, imported);
    // At the start the window is shown first: the question comes from the event loop, while the
    // start folder is still the one shown. A start that names a file has its cursor there, also
    // once the import has listed the folder again.
    QTimer::singleShot(0, this, [this, catalogue, listed, stillListed, imported, target = FTargetFileName] {
        if (!stillListed())
            return;
        ReportErrors([&] {
            std::shared_ptr<TFolderCatalogue> again;
            if (OfferDescriptIonImport(*catalogue, this, stillListed, imported)) {
                FListings->ListFolder(listed, again);
                ShowTargetFile(target);
            }
        });
    });
    return false;
}

void TFrmMain::BeginListing()
{
    // What the status line said was about the listing this one replaces; what this listing
    // has to say comes after. An index problem is said once a run, and stays.
    if (!FStatusIsIndexProblem && !FRelisting)
        ShowStatus({});
    // The cursor moves below commit nothing; whatever happens, each table has a current cell
    // (typing always reaches a cell), is enabled exactly when it lists entries, and gets its
    // handlers back.
    AttachGridHandlers(false);
    KeepFocusOffEditors();
}

void TFrmMain::EndListing()
{
    for (TStringGrid *grid : {StringGridFolders, StringGridFiles})
        if (!grid->currentIndex().isValid())
            grid->SetCurrentCell(TStringGridModel::ColDesc, 0);
    EnableTables();
    if (FAfterRelisting)
        std::exchange(FAfterRelisting, nullptr)();
    AttachGridHandlers(true);
}

void TFrmMain::ReadListing(TBusyWait &busy, const QByteArray &folder,
                           const std::shared_ptr<TFolderCatalogue> &catalogue, const TOwnWrite &ownWrite)
{
    // The window touches its index connection nowhere else while it waits here.
    // A relisting while the folder is still changing neither prunes nor follows: a name may be
    // gone only for a moment (a save by rename).
    const TListingOptions options{.Reader = DirectoryReader,
                                  .Follower = FRelistPrunes ? FIndex.get() : nullptr,
                                  .Stale = FRelistPrunes ? TStaleKeys::Prune : TStaleKeys::Keep,
                                  .OwnWrite = ownWrite};
    busy.Run([&] { *catalogue = ListAndPruneFolder(folder, options); });
}

std::array<TListedRows, 2> TFrmMain::ShowEntries(const std::shared_ptr<TFolderCatalogue> &catalogue)
{
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
    return replaced;
}

void TFrmMain::ShowListed(const std::shared_ptr<TFolderCatalogue> &catalogue)
{
    FDescFilePath = catalogue->DescPath;
    const QString shown = DecodeName(CurrentFolderPath());
    LabelCurrFolder->setText(shown);
    LabelCurrFolder->setToolTip(shown);

    if (FStatusIsListingProblem)
        ShowStatus({});
    FListings->FolderWatch()->OwnWrite([this] { CreateDescriptionFile(FDescFilePath); });
    IndexListed(catalogue);
    // The file still holds what the listing could not remove; the rows are right all the same.
    if (!catalogue->WriteError.isEmpty())
        ShowListingProblem(catalogue->WriteError);

    for (TStringGrid *grid : {StringGridFolders, StringGridFiles}) {
        const int row = grid->GridModel()->FirstUndescribed();
        grid->SetCurrentCell(1, row >= 0 ? row : 0);
    }
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
    return FCommit->SelectCell(StringGridFolders, col, row);
}

bool TFrmMain::StringGridFilesSelectCell(int col, int row)
{
    return FCommit->SelectCell(StringGridFiles, col, row);
}

void TFrmMain::StringGridFoldersExit()
{
    FCommit->Exit(StringGridFolders);
}

void TFrmMain::StringGridFilesExit()
{
    FCommit->Exit(StringGridFiles);
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

// What each table shows of the user's work, found again by name once the rows are in.
struct TFrmMain::TGridPlace {
    TStringGrid *Grid;
    int Row, Col;
    QByteArray Name, TopName;
    QString Typed, Stored;
    int Sideways = 0;
    bool Editing = false;
    int Cursor = 0;
};

void TFrmMain::Relist(bool prune)
{
    const QByteArray folder = CurrentFolderPath();
    if (folder.isEmpty())
        return;
    FAfterRelisting = [this, folder, places = RememberPlaces()] {
        for (const TGridPlace &place : places)
            RestorePlace(folder, place);
    };
    FRelisting = true;
    FRelistPrunes = prune;
    const auto done = qScopeGuard([this] {
        FRelisting = false;
        FRelistPrunes = true;
        FAfterRelisting = nullptr;
    });
    std::shared_ptr<TFolderCatalogue> catalogue;
    // Nobody asked for this listing: what goes wrong in it puts up no box. A folder that cannot
    // be read keeps the rows it showed.
    try {
        FListings->ListFolder(folder, catalogue, TListingController::TFailure::KeepRows);
    } catch (const TException &error) {
        ShowListingProblem(error.Message());
    }
}

std::vector<TFrmMain::TGridPlace> TFrmMain::RememberPlaces() const
{
    std::vector<TGridPlace> places;
    for (TStringGrid *grid : {StringGridFolders, StringGridFiles}) {
        const TStringGridModel *model = grid->GridModel();
        const int row = grid->Row();
        TGridPlace place{grid,
                         row,
                         grid->Col(),
                         model->Name(row),
                         model->Name(grid->rowAt(0)),
                         model->Description(row),
                         model->Stored(row),
                         grid->horizontalScrollBar()->value()};
        if (auto *editor = qobject_cast<QLineEdit *>(grid->indexWidget(grid->currentIndex()))) {
            place.Editing = true;
            place.Cursor = editor->cursorPosition();
        }
        places.push_back(std::move(place));
    }
    return places;
}

void TFrmMain::RestorePlace(const QByteArray &folder, const TGridPlace &place)
{
    TStringGrid *grid = place.Grid;
    TStringGridModel *model = grid->GridModel();
    const int row = place.Name.isEmpty() ? -1 : model->FindName(place.Name);
    const bool typed = !place.Typed.isEmpty() && place.Typed != place.Stored;
    if (row < 0 && typed)
        KeepTypedForGoneEntry(folder, place);
    if (!model->IsEntryRow(0))
        return;
    if (const int top = model->FindName(place.TopName); top >= 0)
        static_cast<QAbstractItemView *>(grid)->scrollTo(model->index(top, TStringGridModel::ColName),
                                                         QAbstractItemView::PositionAtTop);
    grid->horizontalScrollBar()->setValue(place.Sideways);
    // An entry that went: the cursor stays where it was.
    grid->SetCurrentCell(place.Col, row >= 0 ? row : std::min(place.Row, model->rowCount() - 1));
    if (row < 0)
        return;
    if (typed)
        PutBackTyped(folder, place, row);
    if (place.Editing) {
        if (model->StoredWasCut(row)) // asked before the rows were replaced
            model->ConsentToCut(row);
        grid->edit(model->index(row, TStringGridModel::ColDesc));
        if (auto *editor = qobject_cast<QLineEdit *>(grid->indexWidget(grid->currentIndex())))
            editor->setCursorPosition(place.Cursor);
    }
}

// What the user typed for an entry that went is not dropped with its row: it is kept as the
// description of an entry that went, and can be restored.
void TFrmMain::KeepTypedForGoneEntry(const QByteArray &folder, const TGridPlace &place)
{
    const bool kept = FIndex && FIndex->IsUsable();
    if (kept)
        FIndex->KeepPruned(folder, place.Grid == StringGridFolders, place.Name, EncodeText(place.Typed));
    ShowStatus(GoneWhileTypedMessage(DecodeName(place.Name), kept));
}

void TFrmMain::PutBackTyped(const QByteArray &folder, const TGridPlace &place, int row)
{
    TStringGridModel *model = place.Grid->GridModel();
    const QString now = model->Stored(row);
    model->SetDescription(row, place.Typed);
    // Another program wrote the entry while the user typed: the user's commit wins, and the
    // other text can be restored.
    if (now != place.Stored && now != place.Typed) {
        const bool isFolder = place.Grid == StringGridFolders;
        if (FIndex)
            FIndex->KeepPruned(folder, isFolder, place.Name, model->StoredBytes(row));
        ShowStatus(ConflictMessage(model->DisplayName(row), FIndex && FIndex->IsUsable()));
    }
}

QString TFrmMain::ConflictMessage(const QString &name, bool kept)
{
    return kept ? tr("Another program changed the description of \"%1\" while you typed: yours is saved, the "
                     "other is in Pruned descriptions")
                      .arg(name)
                : tr("Another program changed the description of \"%1\" while you typed: yours is saved over it")
                      .arg(name);
}

QString TFrmMain::GoneWhileTypedMessage(const QString &name, bool kept)
{
    return kept
               ? tr("\"%1\" was removed while you typed its description: your text is in Pruned descriptions").arg(name)
               : tr("\"%1\" was removed while you typed its description: your text could not be kept").arg(name);
}

void TFrmMain::BitBtnDirNoteClick()
{
    CommitPendingDescription();
    // Before the first listing there is no file to read or write: say so instead of showing an
    // empty text that could never be saved.
    if (FDescFilePath.isEmpty()) {
        MessageDlg(tr("No folder is listed yet, so there is no folder text to edit."), TMsgDlgType::mtInformation, mbOK,
                   this);
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

void TFrmMain::CreateIndex(std::unique_ptr<TDescriptionIndex> index)
{
    if (!index)
        return;
    // The window's own connection follows renames inside a listing; the rest of the index's
    // work runs on the updater's thread after the rows are shown.
    FIndex = std::move(index);
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

void TFrmMain::ShowListingProblem(const QString &text)
{
    ShowStatus(text);
    FStatusIsListingProblem = true;
}

void TFrmMain::ShowStatus(const QString &text)
{
    FStatusIsIndexProblem = false;
    FStatusIsListingProblem = false;
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
    const QByteArray shown = FListings->Listing() ? FListings->ListingFolder() : CurrentFolderPath();
    if (IncludeTrailingPathDelimiter(folder) != shown)
        return;
    if (!update.Moved.empty()) {
        // The descriptions were written after the rows were shown: list the folder again (after
        // the listing being read, which may have read the file before).
        if (FListings->Listing())
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
    if (FListings->Listing()) {
        FListings->CloseAfterListing();
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
    const TCommand command = KeyCommand(FShortCuts, TKeyMap::PressedCode(key, shift), FocusedTable());
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
