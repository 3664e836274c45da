// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>
#include <initializer_list>
#include <optional>

class QDialog;
class QFontMetrics;
class QWidget;
class TFrmBrowseForFolder;

// The picker's options, by their bit number in the set.
enum TFolderDialogOption {
    bfFileSysDirsOnly,      // OK only on a file-system folder
    bfDontGoBelowDomain,    // no meaning here
    bfStatusText,           // the dialog has a status line
    bfFileSysAncestors,     // no meaning here: every node is part of the file system
    bfBrowseForComputer,    // no meaning here (the root becomes the network, which has no folder)
    bfBrowseForPrinter,     // no meaning here
    bfBrowseIncludeFiles,   // files are listed in the tree too
    bfShowPathInStatusArea, // the selected path is shown in the status line
    bfSyncCustomButton,     // the custom button is enabled together with OK
    bfAlignCustomButton,    // the custom button sits in the button row, under the status line's left edge
    bfScreenCenter,         // centred on the screen
    bfParentCenter,         // centred over the owner, a quarter of the way down it
    bfResizeCustomButton,   // the custom button gets the size of the dialog's buttons
};

// A set of TFolderDialogOption, stored as the bit mask of the original component.
class TFolderDialogOptions {
public:
    constexpr TFolderDialogOptions() = default;
    constexpr TFolderDialogOptions(std::initializer_list<TFolderDialogOption> options)
    {
        for (const auto option : options)
            FBits |= Bit(option);
    }
    static constexpr TFolderDialogOptions FromBits(quint32 bits)
    {
        TFolderDialogOptions result;
        result.FBits = bits & AllBits;
        return result;
    }
    constexpr quint32 Bits() const { return FBits; }
    constexpr bool Contains(TFolderDialogOption option) const { return (FBits & Bit(option)) != 0; }
    constexpr TFolderDialogOptions operator+(TFolderDialogOption option) const { return FromBits(FBits | Bit(option)); }
    constexpr TFolderDialogOptions operator-(TFolderDialogOption option) const
    {
        return FromBits(FBits & ~Bit(option));
    }
    friend constexpr bool operator==(TFolderDialogOptions, TFolderDialogOptions) = default;

private:
    static constexpr quint32 Bit(TFolderDialogOption option) { return 1u << unsigned(option); }
    static constexpr quint32 AllBits = 0x1FFF;
    quint32 FBits = 0;
};

// The initial set, 0x0B85.
inline constexpr TFolderDialogOptions DefaultFolderDialogOptions{
    bfFileSysDirsOnly, bfStatusText, bfShowPathInStatusArea, bfSyncCustomButton, bfAlignCustomButton, bfParentCenter};

// The shell browse flags of the first seven options (0x0005 for the initial set).
quint32 BrowseFlags(TFolderDialogOptions options);

// The special folders a tree can start from.
enum TShellFolder {
    sfoDesktopExpanded,
    sfoDesktop,
    sfoPrograms,
    sfoControlPanel,
    sfoPrinters,
    sfoPersonal,
    sfoFavorites,
    sfoStartup,
    sfoRecent,
    sfoSendto,
    sfoRecycleBin,
    sfoStartMenu,
    sfoDesktopDirectory,
    sfoMyComputer,
    sfoNetwork,
    sfoNetworkNeighborhood,
    sfoFonts,
    sfoTemplates,
    sfoCommonStartMenu,
    sfoCommonPrograms,
    sfoCommonStartup,
    sfoCommonDesktopDirectory,
    sfoAppData,
    sfoPrintHood,
};
inline constexpr int ShellFolderCount = sfoPrintHood + 1;

// The shell's special-folder number of a root folder; -1 for sfoDesktopExpanded, which sets none.
int ShellFolderNumber(TShellFolder folder);
// The folder of this system that stands for a special folder: "/" for the whole tree, an XDG
// folder where one corresponds, empty where nothing does.
QString ShellFolderPath(TShellFolder folder);
// The root of the tree: the special folder when it exists, otherwise the whole tree "/".
QString TreeRootPath(TShellFolder folder);

// The set that setting Options stores: the centring options exclude each other (the one being
// added wins), browse-for-computer and browse-for-printer clear the bits they cannot go with
// (browse-for-computer also sets rootFolder to sfoNetwork), the status path needs the status line.
TFolderDialogOptions ApplyOptionRules(TFolderDialogOptions current, TFolderDialogOptions requested,
                                      TShellFolder &rootFolder);

// True when path is root or lies inside it (both absolute, without trailing "/" except "/").
bool IsWithinFolder(const QString &path, const QString &root);
// The folder to preselect for a Directory text: an existing folder, trailing "/" and a final "/."
// accepted, cleaned and without trailing "/" (except "/"); empty when it names no folder.
QString PreselectionPath(const QString &directory);
// A chosen path as Browse reports it: no trailing "/" except for the root "/".
QString ChosenPath(const QString &path);

// The status line's text for a path: elided in the middle to fit width, with the width of one
// "W" kept free at its end, so the last folder name of a long path stays visible.
QString StatusPathText(const QString &path, const QFontMetrics &metrics, int width);

// Dialog units as the original's dialog is laid out in: horizontal units are a quarter of the
// average character width, vertical ones an eighth of the character height.
struct TDialogBaseUnits {
    int X = 8;
    int Y = 16;
};
TDialogBaseUnits DialogBaseUnits(const QFontMetrics &metrics);
QSize DialogUnitsToPixels(QSize units, TDialogBaseUnits base);

// What the placement needs to know, in screen coordinates.
struct TPlacementInput {
    std::optional<QRect> OwnerFrame; // the owner window's frame, when there is an owner
    QPoint OwnerClientOrigin;        // where the owner's client area starts
    QRect Screen;                    // the screen's geometry
    QSize DialogFrame;               // the dialog's window size, frame included
    QSize DialogClient;              // the dialog's client size
    int Left = 0;                    // Left and Top, in the owner's client coordinates
    int Top = 0;
};
// Where the dialog's top-left corner goes (integer division, as the original computes it).
QPoint DialogPosition(TFolderDialogOptions options, const TPlacementInput &input);
// Moves a window rectangle just enough to lie inside the available area, where it fits.
QPoint KeepOnScreen(QPoint topLeft, QSize frame, const QRect &available);

class TFolderDialog;
using TNotifyEvent = std::function<void(TFolderDialog *sender)>;

// A button the picker places in its dialog: its caption, look and click handler.
struct TCustomButton {
    QString Name = QStringLiteral("ButtonCustom");
    QString Caption;
    std::function<void()> OnClick;
    int Left = 0; // client position and size, used unless the align / resize options say otherwise
    int Top = 0;
    int Width = 75;
    int Height = 25;
    bool Enabled = true;
};

// The folder picker: a non-visual component whose Browse shows a modal folder tree and reports
// the folder the user chose.
class TFolderDialog : public QObject {
    Q_OBJECT
public:
    explicit TFolderDialog(QObject *owner = nullptr);
    ~TFolderDialog() override;

    // Kept for the component's published interface; setting it has no effect.
    bool Ctl3D() const { return FCtl3D; }
    void SetCtl3D(bool value) { FCtl3D = value; }

    int Top() const { return FTop; }
    void SetTop(int value);
    int Left() const { return FLeft; }
    void SetLeft(int value);
    // The dialog's caption; while the dialog is open it is the open dialog's caption.
    QString Title() const;
    void SetTitle(const QString &value);
    // Before a run the folder to preselect, after it the chosen folder or empty; while the dialog
    // is open, the current selection (setting it moves the selection).
    QString Directory() const;
    void SetDirectory(const QString &value);
    // A line shown above the tree; empty shows none.
    QString Text() const { return FText; }
    void SetText(const QString &value);
    TFolderDialogOptions Options() const { return FOptions; }
    void SetOptions(TFolderDialogOptions value);
    TShellFolder RootFolder() const { return FRootFolder; }
    void SetRootFolder(TShellFolder value) { FRootFolder = value; }
    const std::optional<TCustomButton> &CustomButton() const { return FCustomButton; }
    void SetCustomButton(std::optional<TCustomButton> value) { FCustomButton = std::move(value); }

    TNotifyEvent OnShow;   // after the dialog has been set up, before the user sees it
    TNotifyEvent OnChange; // after each change of the selection to an item with a path
    TNotifyEvent OnClose;  // after the dialog has closed and Directory holds the result

    // Runs the dialog modally; true when the user confirmed a folder.
    bool Browse();
    bool Execute() { return Browse(); }

    // The open dialog, or null when none is open.
    QDialog *Handle() const;
    // The window the dialog belongs to: the owner when it is a widget, else the active window.
    QWidget *OwnerWindow() const;

private:
    friend class TFrmBrowseForFolder;
    void SelectionChanged();

    bool FCtl3D = true;
    int FTop = 0;
    int FLeft = 0;
    QString FTitle = QCoreApplication::translate("TFolderDialog", "Browse for Folder");
    QString FDirectory;
    QString FText;
    TFolderDialogOptions FOptions = DefaultFolderDialogOptions;
    TShellFolder FRootFolder = sfoDesktopExpanded;
    std::optional<TCustomButton> FCustomButton;
    QPointer<TFrmBrowseForFolder> FForm;
};
