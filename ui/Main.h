// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/FolderCatalogue.h"
#include "common/ShortCut.h"
#include "system/QorPrevInst.h"
#include "system/StartTarget.h"
#include "ui/DescriptionCommit.h"
#include "ui/EntryActions.h"
#include "ui/KeyMap.h"
#include "ui/ListingController.h"
#include "ui/MainIndex.h"
#include "ui/WindowMenu.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QSize>
#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>
#include <utility>
#include <vector>
#include <memory>
#include <thread>

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QSplitter;
class QFrame;
class TStringGrid;
class TFolderDialog;
class TFolderWatch;
class TSearchPanel;
struct TIndexHit;
struct TPrunedDescription;
struct TRestoreTarget;
class TDescriptionIndex;
class TStartListing;
class TIndexUpdater;
struct TFolderCatalogue;
struct TFolderUpdate;
struct TMirrorCounts;

// The parent of a folder path with its trailing "/", by text alone: "/data/Sub/" gives "/data/".
// Empty for the root and for an empty path: there is nothing above them.
QByteArray ParentFolderPath(const QByteArray &folderPath);

// The main window: the current folder's subfolders and files, each with its description.
class TFrmMain : public QWidget, public TPrevInstHandler, private TEntryActionsHost, private TListingSteps {
    Q_OBJECT
public:
    // The client size of the design, and the frame the settings' outer sizes count around it:
    // the stored "MainWidth" and "MainHeight" are outer sizes, whatever frame the desktop draws.
    static constexpr QSize DesignClientSize{445, 449};
    static constexpr QSize FrameAllowance{8, 27};
    static constexpr QSize MinimumOuterSize{453, 476};
    static constexpr qint32 AppId = 123458;
    // Commands of the window menu: the standard ones, and the About item.
    static constexpr int SC_MINIMIZE = TWindowMenu::SC_MINIMIZE, SC_MAXIMIZE = TWindowMenu::SC_MAXIMIZE,
                         SC_CLOSE = TWindowMenu::SC_CLOSE, SC_RESTORE = TWindowMenu::SC_RESTORE;
    static constexpr int CmdAbout = 666;
    // The window menu's items of the description index.
    static constexpr int CmdUndescribedOnly = 667, CmdSearch = 668, CmdPrunedDescriptions = 669, CmdIndexTree = 670;
    // The checkable item of the setting that mirrors descriptions to file comments.
    static constexpr int CmdMirrorComments = 671;

    // The keyboard commands and their dispatch (ui/KeyMap).
    using TCommand = TKeyMap::TCommand;
    using enum TKeyMap::TCommand;
    using TKeyFocus = TKeyMap::TKeyFocus;
    using TShortCutSetting = TKeyMap::TShortCutSetting;
    static constexpr const auto &ShortCutSettings = TKeyMap::ShortCutSettings;
    static TCommand KeyCommand(const TKeyMap::TCodes &codes, TShortCut pressed, TKeyFocus focus)
    {
        return TKeyMap::KeyCommand(codes, pressed, focus);
    }

    // Creation runs FormCreate with the command line's arguments (without the program's name).
    explicit TFrmMain(const QByteArrayList &arguments = {}, QWidget *parent = nullptr);
    // The same with the start's listing begun already (the program begins it before the splash).
    TFrmMain(const QByteArrayList &arguments, std::unique_ptr<TStartListing> start, QWidget *parent = nullptr);
    ~TFrmMain() override;

    // Makes the folder current: lists it, shows the stored descriptions, prunes those of vanished
    // entries and creates a missing description file. False, and nothing changed, for an empty
    // path or one that is not an existing folder. A description file that cannot be created
    // raises its error after the tables are filled; so does a folder that could not be listed whole
    // ("Unable to list the folder ..."), after its cursor is placed.
    bool LoadFolder(const QByteArray &folder);
    // Lists a start's or a hand-off's target folder and puts the cursor on its file's row, in the
    // file table with the focus (a filter that hides the row is switched off). A target that
    // arrives while a listing is read is listed, its cursor placed, after that one.
    bool ListTarget(const TStartTarget &target);
    // How LoadFolder reads folders (tests slow it down or make it fail).
    TDirectoryReader DirectoryReader = ::readdir;

    const QByteArray &DescFilePath() const { return FDescFilePath; }
    // The current folder path with its trailing "/", empty before the first listing.
    QByteArray CurrentFolderPath() const;

    // Handlers, reachable by tests and by the keyboard commands.
    bool StringGridFoldersSelectCell(int col, int row);
    bool StringGridFilesSelectCell(int col, int row);
    void StringGridFoldersExit();
    void StringGridFilesExit();
    void CommitCurrentRow(TStringGrid *grid, const char *section) { FCommit->CommitCurrentRow(grid, section); }
    // Commits the pending description of the table that had the keyboard focus last: what a
    // button, the close and any listing do first, so that no typing is lost.
    void CommitPendingDescription() { FCommit->CommitPending(); }
    void BitBtnRefreshFolderClick();
    // The refresh itself, without committing first: relists the current folder and puts each
    // table's cursor back on the name it was on.
    void RefreshFolder();
    void BitBtnDirNoteClick();
    void BitBtnSelectFolderClick();
    void FormClose();

    // The window's size, place and state, the shortcut codes, the start folder listed, the About
    // item and the hand-off. An error ends the steps where it happens.
    void FormCreate(const QByteArrayList &arguments);
    TShortCut ShortCutCode(TCommand command) const { return FShortCuts[command]; }

    // The window's key preview: sees every key press in the window before the focused control.
    // key is the virtual-key code; a command that runs sets it to 0, and the control never sees it.
    void FormKeyDown(quint16 &key, Qt::KeyboardModifiers shift);
    TKeyFocus FocusedTable() const;
    void RunCommand(TCommand command);
    // The keyboard commands' actions.
    void FolderGoto() { FEntryActions->FolderGoto(); }
    void FolderGoBack() { FEntryActions->FolderGoBack(); }
    void FolderDelete() { FEntryActions->FolderDelete(); }
    void FileExec() { FEntryActions->FileExec(); }
    void FileDelete() { FEntryActions->FileDelete(); }
    void SwitchTable();

    // The description index's parts of the window (TMainIndex).
    void SetUndescribedOnly(bool on) { FMainIndex->SetUndescribedOnly(on); }
    bool UndescribedOnly() const { return FMainIndex->UndescribedOnly(); }
    void ShowSearch() { FMainIndex->ShowSearch(); }
    void OpenSearchHit(const TIndexHit &hit) { FMainIndex->OpenSearchHit(hit); }
    void ShowPrunedDescriptions() { FMainIndex->ShowPrunedDescriptions(); }
    bool RestorePruned(const TPrunedDescription &pruned, const TRestoreTarget &target)
    {
        return FMainIndex->RestorePruned(pruned, target);
    }
    void IndexFolderTree() { FMainIndex->IndexFolderTree(); }
    // Null until the search is first opened.
    TSearchPanel *SearchPanel = nullptr;

    // The per-user setting that keeps file comments equal to descriptions (ui/MainMirror.cpp).
    // Turning it on brings the listed folder's comments up to date; the status line says how
    // many were written and skipped.
    void SetMirrorCommentsOn(bool on);
    // Descriptions were written (name, text): while the setting is on, their entries' comments
    // follow them. Skipped entries and comments of other programs are told on the status line,
    // never in a box.
    void MirrorWritten(const QByteArray &folder, const std::vector<std::pair<QByteArray, QByteArray>> &descriptions);
    QAction *MirrorCommentsItem = nullptr;

    // The window menu, the stand-in for the system menu; its commands go through WMSysCommand.
    QMenu *WindowMenu() const { return FWindowMenu->Menu(); }
    void PopupWindowMenu(const QPoint &globalPos);
    void WMSysCommand(int command);
    void ShowAbout();

    // The hand-off from a second start; null until the window's creation set it up.
    TPrevInstServer *PrevInstServer() const { return FPrevInstServer; }
    void PrevInstRestore() override;
    // Lists the handed folder: stores what was typed (in a cell, in an open folder text dialog),
    // closes the open dialogs as cancelled, lists the folder and brings the window to the front.
    void PrevInstParm(const QByteArray &text) override;

    TStringGrid *StringGridFolders = nullptr;
    TStringGrid *StringGridFiles = nullptr;
    QLabel *LabelCurrFolderTxt = nullptr;
    QLabel *LabelCurrFolder = nullptr;
    QWidget *PanelClient = nullptr;
    QLabel *StaticTextFolders = nullptr;
    QSplitter *SplitterFolderFile = nullptr;
    QLabel *StaticTextFiles = nullptr;
    QFrame *PanelButtons = nullptr;
    QPushButton *BitBtnDirNote = nullptr;
    QPushButton *BitBtnSelectFolder = nullptr;
    QPushButton *BitBtnRefreshFolder = nullptr;
    QPushButton *BitBtnClose = nullptr;
    TFolderDialog *FolderDialog = nullptr;
    // The status line below the buttons: descriptions that followed their files, index trouble.
    QLabel *StatusLine = nullptr;

    // The per-user index of descriptions; null when it is switched off (DIRNOTE_NO_INDEX=1).
    // Unusable after a failure, which the status line showed once.
    TDescriptionIndex *DescriptionIndex() const { return FIndex.get(); }
    TIndexUpdater *IndexUpdater() const { return FIndexUpdater; }
    // Waits until the listing that the last one replaced is freed.
    void WaitReplacedListingFreed();
    // Watches the listed folder for other programs' changes.
    TFolderWatch *FolderWatch() const { return FListings->FolderWatch(); }
    // Shows an index failure in the status line, only the first one of the program's run.
    void ShowIndexProblem(const QString &message);
    // Shows a text in the status line; an empty one hides the line. Each listing empties it
    // first, unless it shows an index problem.
    void ShowStatus(const QString &text);
    // The status line's text when another program changed a description being typed; kept: the
    // other text is among the pruned descriptions.
    static QString ConflictMessage(const QString &name, bool kept);
    static QString GoneWhileTypedMessage(const QString &name, bool kept);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // Puts the cursor on the named file's row of the listed folder, as ListTarget does.
    void ShowTargetFile(const QByteArray &fileName);
    // The window's components, step by step.
    void CreateComponents();
    void SetUpWindow();
    void CreateFolderLabels();
    void CreateTables();
    void CreateButtons();
    void ShowPictures();
    void LayOutWindow();
    void CreateStatusLine();
    void CreateMirrorItem();
    void ShowMirrorCounts(const TMirrorCounts &counts, bool always);
    void ConnectButtons();
    void SetTabOrder();
    void CreateWindowMenu();
    // The listing's steps, taken by the listing controller.
    void BeginListing() override;
    void ReadListing(TBusyWait &busy, const QByteArray &folder, const std::shared_ptr<TFolderCatalogue> &catalogue,
                     const TOwnWrite &ownWrite) override;
    std::array<TListedRows, 2> ShowEntries(const std::shared_ptr<TFolderCatalogue> &catalogue) override;
    void ShowListed(const std::shared_ptr<TFolderCatalogue> &catalogue) override;
    void EndListing() override;
    bool OfferImport(const std::shared_ptr<const TFolderCatalogue> &catalogue) override;
    void CloseWindow() override { close(); }
    // Lists the folder again in place: each table's cursor stays on its entry and its top row
    // stays, a description being typed stays in its cell (with its editor).
    void Relist(bool prune) override;
    // What a table shows of the user's work before a relisting (defined in Main.cpp).
    struct TGridPlace;
    std::vector<TGridPlace> RememberPlaces() const;
    void RestorePlace(const QByteArray &folder, const TGridPlace &place);
    void KeepTypedForGoneEntry(const QByteArray &folder, const TGridPlace &place);
    void PutBackTyped(const QByteArray &folder, const TGridPlace &place, int row);
    void AttachGridHandlers(bool attach);
    void FocusChanged(QWidget *now);
    void KeepFocusOffEditors();
    // The focus goes back to the control that had it once a dialog over the window has gone.
    void WatchFocusAndDialogs(QWidget *widget, QEvent *event);
    void TakeFocusBack();
    void ResetTables();
    QAction *AddWindowMenuItem(const QString &text, int command);
    // Each table is enabled exactly when it shows entries.
    void EnableTables();
    void CreateIndexComponents() { FMainIndex->CreateIndexComponents(); }
    void ShowIndexShortCuts() { FMainIndex->ShowIndexShortCuts(); }
    // Writes a description as a commit does and makes it the row's stored text.
    void StoreDescription(TStringGrid *grid, const char *section, int row, const QString &text, const QByteArray &bytes)
    {
        FCommit->StoreDescription(grid, section, row, text, bytes);
    }
    // The entry actions' view of the window.
    QByteArray ListedFolder() const override { return CurrentFolderPath(); }
    bool OpenFolder(const QByteArray &folder) override { return LoadFolder(folder); }
    void ListAgain() override { RefreshFolder(); }
    QWidget *BoxParent() override { return this; }
    void CreateIndex(std::unique_ptr<TDescriptionIndex> index); // nullptr: without an index
    void IndexListed(const std::shared_ptr<const TFolderCatalogue> &catalogue);
    void IndexUpdated(const QByteArray &folder, const TFolderUpdate &update);

    QByteArray FDescFilePath;
    // When a row's description is written; follows the table that held the focus last.
    std::unique_ptr<TDescriptionCommit> FCommit;
    std::unique_ptr<TEntryActions> FEntryActions;
    std::array<TShortCut, CommandCount> FShortCuts{};
    TWindowMenu *FWindowMenu = nullptr;
    // The index's parts of the window; they reach its components as the window's own code does.
    friend class TMainIndex;
    TMainIndex *FMainIndex = nullptr;
    TPrevInstServer *FPrevInstServer = nullptr;
    bool FShown = false;
    bool FPainted = false; // the pictures come after the first paint
    // One listing at a time; a close asked for meanwhile waits for its end.
    TListingController *FListings = nullptr;
    bool FCreating = false;    // the start folder's listing: questions wait for the event loop
    bool FRelisting = false;   // a relisting of the folder shown, for another program's change
    bool FRelistPrunes = true; // the listing read prunes stale keys
    // The file a target being listed names: a start's import offer, answered later, lists the
    // folder again and puts the cursor back on it.
    QByteArray FTargetFileName;
    // A relisting's return to the cursors and the typing, once the rows are in.
    std::function<void()> FAfterRelisting;
    // Set while the folder text dialog is open: stores what was typed in it.
    std::function<void()> FStoreOpenFolderText;
    QMetaObject::Connection FFocusConnection;
    QPointer<QWidget> FFocusToReturnTo;
    std::unique_ptr<TDescriptionIndex> FIndex;
    TIndexUpdater *FIndexUpdater = nullptr;
    bool FIndexProblemShown = false;
    bool FStatusIsIndexProblem = false; // what the status line shows
    // The status line says what went wrong in the last listing (its write, a relisting): the
    // next listing that goes well takes it away.
    bool FStatusIsListingProblem = false;
    void ShowListingProblem(const QString &text);
};
