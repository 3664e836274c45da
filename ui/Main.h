// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/FolderCatalogue.h"
#include "common/ShortCut.h"
#include "system/QorPrevInst.h"

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
class TSearchPanel;
struct TIndexHit;
struct TPrunedDescription;
struct TRestoreTarget;
class TDescriptionIndex;
class TIndexUpdater;
struct TFolderCatalogue;
struct TFolderUpdate;

// The folder a start lists: the folder of a "Folder.dnt" argument (any letter case), an existing
// folder named by the argument, else the current directory, else the program's folder. Only the
// first argument counts.
QByteArray StartFolder(const QByteArrayList &arguments, const QByteArray &currentDir, const QByteArray &programPath);
// The parent of a folder path with its trailing "/", by text alone: "/data/Sub/" gives "/data/".
// Empty for the root and for an empty path: there is nothing above them.
QByteArray ParentFolderPath(const QByteArray &folderPath);

// The main window: the current folder's subfolders and files, each with its description.
class TFrmMain : public QWidget, public TPrevInstHandler {
    Q_OBJECT
public:
    // The client size of the design, and the frame the settings' outer sizes count around it:
    // the stored "MainWidth" and "MainHeight" are outer sizes, whatever frame the desktop draws.
    static constexpr QSize DesignClientSize{445, 449};
    static constexpr QSize FrameAllowance{8, 27};
    static constexpr QSize MinimumOuterSize{453, 476};
    static constexpr qint32 AppId = 123458;
    // Commands of the window menu: the standard ones, and the About item.
    static constexpr int SC_MINIMIZE = 0xF020, SC_MAXIMIZE = 0xF030, SC_CLOSE = 0xF060, SC_RESTORE = 0xF120;
    static constexpr int CmdAbout = 666;
    // The window menu's items of the description index.
    static constexpr int CmdUndescribedOnly = 667, CmdSearch = 668, CmdPrunedDescriptions = 669, CmdIndexTree = 670;

    // The keyboard commands, in the order their codes are read and matched.
    enum TCommand {
        cmdAbout,
        cmdRefresh,
        cmdFolderGoto,
        cmdFolderGoBack,
        cmdFolderExplore,
        cmdFolderDelete,
        cmdFileExec,
        cmdFileDelete,
        cmdSwitchTable,
        cmdUndescribedOnly,
        cmdSearch,
        cmdPrunedDescriptions,
        CommandCount
    };
    // The table that itself holds the keyboard focus (its cell editor does not count).
    enum class TKeyFocus { None, Folders, Files };
    struct TShortCutSetting {
        const char *Name;
        TShortCut Default;
        // The table that must have the focus for the command to run; None: wherever it is.
        TKeyFocus Focus;
    };
    static const std::array<TShortCutSetting, CommandCount> ShortCutSettings;
    // The command a pressed code runs: the first row whose code equals it and whose focus
    // condition holds; CommandCount when none does and the key goes on to the focused control.
    static TCommand KeyCommand(const std::array<TShortCut, CommandCount> &codes, TShortCut pressed, TKeyFocus focus);

    // Creation runs FormCreate with the command line's arguments (without the program's name).
    explicit TFrmMain(const QByteArrayList &arguments = {}, QWidget *parent = nullptr);
    ~TFrmMain() override;

    // Makes the folder current: lists it, shows the stored descriptions, prunes those of vanished
    // entries and creates a missing description file. False, and nothing changed, for an empty
    // path or one that is not an existing folder. A description file that cannot be created
    // raises its error after the tables are filled; so does a folder that could not be listed whole
    // ("Unable to list the folder ..."), after its cursor is placed.
    bool LoadFolder(const QByteArray &folder);
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
    void CommitCurrentRow(TStringGrid *grid, const char *section);
    // Commits the pending description of the table that had the keyboard focus last: what a
    // button, the close and any listing do first, so that no typing is lost.
    void CommitPendingDescription();
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
    void FolderGoto();
    void FolderGoBack();
    void FolderDelete();
    void FileExec();
    void FileDelete();
    void SwitchTable();

    // The description index's parts of the window (MainIndex.cpp). Shows only the undescribed
    // entries of both tables, or all of them again.
    void SetUndescribedOnly(bool on);
    bool UndescribedOnly() const;
    // Opens the search field above the tables; a chosen hit's folder is listed with the cursor
    // on the hit's row.
    void ShowSearch();
    void OpenSearchHit(const TIndexHit &hit);
    // "Pruned descriptions...": lists them and gives a chosen one to an entry of this folder.
    void ShowPrunedDescriptions();
    bool RestorePruned(const TPrunedDescription &pruned, const TRestoreTarget &target);
    // "Index this folder and its subfolders".
    void IndexFolderTree();
    TSearchPanel *SearchPanel = nullptr;

    // The window menu, the stand-in for the system menu; its commands go through WMSysCommand.
    QMenu *WindowMenu() const { return FWindowMenu; }
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
    // Shows an index failure in the status line, only the first one of the program's run.
    void ShowIndexProblem(const QString &message);
    // Shows a text in the status line; an empty one hides the line. Each listing empties it
    // first, unless it shows an index problem.
    void ShowStatus(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void CreateComponents();
    // LoadFolder without the import offer; fills `catalogue` unless the listing was deferred.
    // Shared with the index, which takes the listing in on its own thread.
    bool ListFolder(const QByteArray &folder, std::shared_ptr<TFolderCatalogue> &catalogue);
    void AttachGridHandlers(bool attach);
    void FocusChanged(QWidget *now);
    void KeepFocusOffEditors();
    // The focus goes back to the control that had it once a dialog over the window has gone.
    void WatchFocusAndDialogs(QWidget *widget, QEvent *event);
    void TakeFocusBack();
    void PlaceCursorAfterDeletion(TStringGrid *grid, int row);
    void ResetTables();
    QAction *AddWindowMenuItem(const QString &text, int command);
    // Each table is enabled exactly when it shows entries.
    void EnableTables();
    void CreateIndexComponents();
    void ShowIndexShortCuts();
    void CloseSearch();
    // Whether the index can be used; if not, the user is told why.
    bool IndexAvailable();
    // Writes a description as a commit does and makes it the row's stored text.
    void StoreDescription(TStringGrid *grid, const char *section, int row, const QString &text,
                          const QByteArray &bytes);
    void CreateIndex();
    void IndexListed(const std::shared_ptr<const TFolderCatalogue> &catalogue);
    void IndexUpdated(const QByteArray &folder, const TFolderUpdate &update);

    QByteArray FDescFilePath;
    // The table that held the keyboard focus last; it keeps that role while a button, a dialog
    // or another program has the focus.
    TStringGrid *FLastGrid = nullptr;
    std::array<TShortCut, CommandCount> FShortCuts{};
    QMenu *FWindowMenu = nullptr;
    QAction *FUndescribedOnlyItem = nullptr;
    // The window-menu items of keyboard commands, which show their keys.
    std::vector<std::pair<QAction *, TCommand>> FCommandItems;
    TPrevInstServer *FPrevInstServer = nullptr;
    bool FShown = false;
    // A listing is being read (the window waits for it in a local event loop); a close asked for
    // meanwhile waits for its end.
    bool FListing = false;
    QByteArray FListingFolder; // the folder being read, with its trailing "/"
    bool FCloseAfterListing = false;
    QByteArray FListAfterListing; // a folder to list when it ends, empty for none
    // Set while the folder text dialog is open: stores what was typed in it.
    std::function<void()> FStoreOpenFolderText;
    QMetaObject::Connection FFocusConnection;
    QPointer<QWidget> FFocusToReturnTo;
    std::unique_ptr<TDescriptionIndex> FIndex;
    TIndexUpdater *FIndexUpdater = nullptr;
    // Frees the rows of a large listing that another replaced (a million entries take a while).
    std::thread FReplacedFreer;
    bool FIndexProblemShown = false;
    bool FStatusIsIndexProblem = false; // what the status line shows
};
