// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/FoldrDlg.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QShowEvent>
#include <QSortFilterProxyModel>
#include <QStandardPaths>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

// ---------------------------------------------------------------------------------------------
// Option rules and mappings

quint32 BrowseFlags(TFolderDialogOptions options)
{
    static constexpr std::array<std::pair<TFolderDialogOption, quint32>, 7> flags{{
        {bfFileSysDirsOnly, 0x0001},
        {bfDontGoBelowDomain, 0x0002},
        {bfStatusText, 0x0004},
        {bfFileSysAncestors, 0x0008},
        {bfBrowseForComputer, 0x1000},
        {bfBrowseForPrinter, 0x2000},
        {bfBrowseIncludeFiles, 0x4000},
    }};
    quint32 result = 0;
    for (const auto &[option, flag] : flags) {
        if (options.Contains(option))
            result |= flag;
    }
    return result;
}

TFolderDialogOptions ApplyOptionRules(TFolderDialogOptions current, TFolderDialogOptions requested,
                                      TShellFolder &rootFolder)
{
    TFolderDialogOptions result = requested;
    const auto added = [&](TFolderDialogOption option) { return result.Contains(option) && !current.Contains(option); };

    if (added(bfParentCenter))
        result = result - bfScreenCenter;
    else if (added(bfScreenCenter))
        result = result - bfParentCenter;
    // Both at once (only possible when both are added together): the owner-centred placement,
    // the program's own case, is kept.
    if (result.Contains(bfParentCenter) && result.Contains(bfScreenCenter))
        result = result - bfScreenCenter;

    if (added(bfBrowseForComputer)) {
        rootFolder = sfoNetwork;
        result = result - bfFileSysDirsOnly - bfFileSysAncestors - bfBrowseForPrinter;
    }
    if (added(bfBrowseForPrinter))
        result = result - bfFileSysDirsOnly - bfDontGoBelowDomain - bfFileSysAncestors - bfBrowseForComputer;

    if (added(bfShowPathInStatusArea))
        result = result + bfStatusText;
    if (!result.Contains(bfStatusText))
        result = result - bfShowPathInStatusArea;
    return result;
}

int ShellFolderNumber(TShellFolder folder)
{
    if (folder == sfoDesktopExpanded)
        return -1;
    if (folder == sfoDesktop)
        return 0x00;
    if (folder <= sfoStartMenu)
        return 0x02 + (folder - sfoPrograms);
    return 0x10 + (folder - sfoDesktopDirectory);
}

namespace {

// The first system-wide folder of an XDG search path that holds sub, else the last one's.
QString SystemXdgFolder(const char *variable, const QString &fallback, const QString &sub)
{
    QStringList dirs = qEnvironmentVariable(variable).split(u':', Qt::SkipEmptyParts);
    if (dirs.isEmpty())
        dirs = fallback.split(u':', Qt::SkipEmptyParts);
    for (const QString &dir : std::as_const(dirs)) {
        const QString candidate = dir + u'/' + sub;
        if (QFileInfo(candidate).isDir())
            return candidate;
    }
    return dirs.last() + u'/' + sub;
}

} // namespace

QString ShellFolderPath(TShellFolder folder)
{
    const auto writable = [](QStandardPaths::StandardLocation location) {
        return QStandardPaths::writableLocation(location);
    };
    switch (folder) {
    case sfoDesktopExpanded:
    case sfoDesktop:
    case sfoMyComputer: return QStringLiteral("/");
    case sfoPrograms:
    case sfoStartMenu: return writable(QStandardPaths::ApplicationsLocation);
    case sfoPersonal: return writable(QStandardPaths::DocumentsLocation);
    case sfoStartup: return writable(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart");
    case sfoRecycleBin: return writable(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash/files");
    case sfoDesktopDirectory: return writable(QStandardPaths::DesktopLocation);
    case sfoFonts: return writable(QStandardPaths::GenericDataLocation) + QStringLiteral("/fonts");
    case sfoTemplates: return writable(QStandardPaths::TemplatesLocation);
    case sfoCommonStartMenu:
    case sfoCommonPrograms:
        return SystemXdgFolder("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share"),
                               QStringLiteral("applications"));
    case sfoCommonStartup:
        return SystemXdgFolder("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg"), QStringLiteral("autostart"));
    case sfoAppData: return writable(QStandardPaths::GenericConfigLocation);
    case sfoControlPanel:
    case sfoPrinters:
    case sfoFavorites:
    case sfoRecent:
    case sfoSendto:
    case sfoNetwork:
    case sfoNetworkNeighborhood:
    case sfoCommonDesktopDirectory:
    case sfoPrintHood: break;
    }
    return {};
}

QString TreeRootPath(TShellFolder folder)
{
    const QString path = ShellFolderPath(folder);
    if (path.isEmpty() || !QDir::isAbsolutePath(path) || !QFileInfo(path).isDir())
        return QStringLiteral("/");
    return QDir::cleanPath(path);
}

// ---------------------------------------------------------------------------------------------
// Paths

bool IsWithinFolder(const QString &path, const QString &root)
{
    if (root == u"/")
        return path.startsWith(u'/');
    return path == root || (path.startsWith(root) && path.size() > root.size() && path.at(root.size()) == u'/');
}

QString PreselectionPath(const QString &directory)
{
    if (directory.isEmpty())
        return {};
    QString path = directory;
    if (path.endsWith(u"/."))
        path.chop(1);
    if (!QFileInfo(path).isDir())
        return {};
    if (!QDir::isAbsolutePath(path))
        path = QDir::current().absoluteFilePath(path);
    return QDir::cleanPath(path);
}

QString ChosenPath(const QString &path)
{
    QString result = path;
    while (result.size() > 1 && result.endsWith(u'/'))
        result.chop(1);
    return result;
}

QString StatusPathText(const QString &path, const QFontMetrics &metrics, int width)
{
    if (path.isEmpty())
        return {};
    // The appended "W" reserves its own width at the end; middle elision keeps it, then it goes.
    QString text = metrics.elidedText(path + u'W', Qt::ElideMiddle, std::max(width, 0));
    if (text.endsWith(u'W'))
        text.chop(1);
    return text;
}

// ---------------------------------------------------------------------------------------------
// Placement

TDialogBaseUnits DialogBaseUnits(const QFontMetrics &metrics)
{
    // The average width of the 52 letters, rounded, as dialog templates measure it.
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {std::max(1, (letters / 26 + 1) / 2), std::max(1, metrics.height())};
}

QSize DialogUnitsToPixels(QSize units, TDialogBaseUnits base)
{
    return {units.width() * base.X / 4, units.height() * base.Y / 8};
}

QPoint DialogPosition(TFolderDialogOptions options, const TPlacementInput &input)
{
    if (options.Contains(bfParentCenter) && input.OwnerFrame) {
        const QRect &owner = *input.OwnerFrame;
        return {owner.left() + owner.width() / 2 - input.DialogFrame.width() / 2, owner.top() + owner.height() / 4};
    }
    // Centring on the owner without an owner centres on the screen rather than around (0, 0).
    if (options.Contains(bfScreenCenter) || options.Contains(bfParentCenter)) {
        return {input.Screen.left() + (input.Screen.width() - input.DialogClient.width()) / 2,
                input.Screen.top() + (input.Screen.height() - input.DialogClient.height()) / 3};
    }
    const QPoint offset(input.Left, input.Top);
    return input.OwnerFrame ? input.OwnerClientOrigin + offset : offset;
}

QPoint KeepOnScreen(QPoint topLeft, QSize frame, const QRect &available)
{
    if (!available.isValid())
        return topLeft;
    int x = std::min(topLeft.x(), available.left() + available.width() - frame.width());
    int y = std::min(topLeft.y(), available.top() + available.height() - frame.height());
    x = std::max(x, available.left());
    y = std::max(y, available.top());
    return {x, y};
}

// ---------------------------------------------------------------------------------------------
// The dialog

namespace {

// Shows the tree's root folder as its one top node: only the root, its ancestors (the way down
// to it) and what lies inside it pass.
class TFolderTreeFilter : public QSortFilterProxyModel {
public:
    TFolderTreeFilter(QFileSystemModel *model, const QString &root, QObject *parent)
        : QSortFilterProxyModel(parent), FModel(model), FRoot(root)
    {
        setSourceModel(model);
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex &parent) const override
    {
        if (FRoot == u"/")
            return true;
        const QString path = FModel->filePath(FModel->index(row, 0, parent));
        return IsWithinFolder(path, FRoot) || IsWithinFolder(FRoot, path);
    }

private:
    QFileSystemModel *FModel;
    QString FRoot;
};

// The status line: keeps the whole path and shows it elided to the line's current width.
class TPathStatusLabel : public QLabel {
public:
    explicit TPathStatusLabel(QWidget *parent) : QLabel(parent)
    {
        setTextFormat(Qt::PlainText);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        setMinimumHeight(fontMetrics().height());
    }
    void SetPath(const QString &path)
    {
        FPath = path;
        setToolTip(path);
        Elide();
    }
    QString Path() const { return FPath; }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QLabel::resizeEvent(event);
        Elide();
    }

private:
    void Elide() { setText(StatusPathText(FPath, fontMetrics(), contentsRect().width())); }
    QString FPath;
};

} // namespace

class TFrmBrowseForFolder : public QDialog {
    Q_OBJECT
public:
    TFrmBrowseForFolder(TFolderDialog &picker, QWidget *owner);

    // Places the dialog and selects the root, then the folder to preselect.
    void Initialise(const QString &directory);

    // The current selection's path as the picker reports it; empty when it has none.
    QString CurrentPath() const;
    // Selects an existing folder inside the tree's root and scrolls it into view.
    void SelectFolder(const QString &directory);
    void Place();
    void SetText(const QString &text);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void CreateModel();
    void CreateTree();
    QHBoxLayout *CreateButtons();
    void AddCustomButton(const TFolderDialog &picker, QHBoxLayout *buttons);
    void SelectionChanged();
    void ScheduleScroll();
    void KeepTargetInView();

    QPointer<TFolderDialog> FPicker;
    QPointer<QWidget> FOwner;
    TFolderDialogOptions FOptions;
    QString FRootPath;
    QFileSystemModel *FModel;
    TFolderTreeFilter *FFilter;
    QLabel *FLabelText;
    TPathStatusLabel *FLabelStatus;
    QTreeView *FTree;
    QPushButton *FButtonOk;
    QPushButton *FButtonCancel;
    QPushButton *FButtonCustom = nullptr;
    QPersistentModelIndex FScrollTarget;
    bool FShown = false;
    bool FScrollPending = false;
};

TFrmBrowseForFolder::TFrmBrowseForFolder(TFolderDialog &picker, QWidget *owner)
    : QDialog(owner), FPicker(&picker), FOwner(owner), FOptions(picker.Options()),
      FRootPath(TreeRootPath(picker.RootFolder()))
{
    setObjectName(QStringLiteral("FrmBrowseForFolder"));
    setWindowTitle(picker.Title());
    CreateModel();

    // The controls are made in their Tab order.
    FLabelText = new QLabel(this);
    FLabelText->setObjectName(QStringLiteral("LabelText"));
    FLabelText->setTextFormat(Qt::PlainText);
    FLabelText->setWordWrap(true);
    SetText(picker.Text());

    FLabelStatus = new TPathStatusLabel(this);
    FLabelStatus->setObjectName(QStringLiteral("LabelStatus"));
    FLabelStatus->setVisible(FOptions.Contains(bfStatusText));

    CreateTree();
    QHBoxLayout *buttons = CreateButtons();

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(FLabelText);
    layout->addWidget(FLabelStatus);
    layout->addWidget(FTree, 1);
    layout->addLayout(buttons);

    AddCustomButton(picker, buttons);

    // The original dialog is 212 x 188 dialog units.
    resize(DialogUnitsToPixels(QSize(212, 188), DialogBaseUnits(fontMetrics())).expandedTo(minimumSizeHint()));

    connect(FTree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &TFrmBrowseForFolder::SelectionChanged);
    connect(FModel, &QFileSystemModel::directoryLoaded, this, &TFrmBrowseForFolder::ScheduleScroll);
    connect(FFilter, &QAbstractItemModel::rowsInserted, this, &TFrmBrowseForFolder::ScheduleScroll);
    connect(FFilter, &QAbstractItemModel::layoutChanged, this, &TFrmBrowseForFolder::ScheduleScroll);

    FTree->setFocus();
}

void TFrmBrowseForFolder::CreateModel()
{
    FModel = new QFileSystemModel(this);
    QDir::Filters filters = QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden;
    if (FOptions.Contains(bfBrowseIncludeFiles))
        filters |= QDir::Files;
    FModel->setFilter(filters);
    FModel->setReadOnly(true);
    FModel->setRootPath(FRootPath);
    FFilter = new TFolderTreeFilter(FModel, FRootPath, this);
}

void TFrmBrowseForFolder::CreateTree()
{
    FTree = new QTreeView(this);
    FTree->setObjectName(QStringLiteral("TreeViewFolders"));
    FTree->setModel(FFilter);
    FTree->setAccessibleName(tr("Folders"));
    FTree->setHeaderHidden(true);
    // Deep trees scroll sideways instead of cutting names short; the width is measured on a
    // bounded number of rows, so large folders stay quick.
    FTree->header()->setStretchLastSection(false);
    FTree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    for (int column = 1; column < FModel->columnCount(); ++column)
        FTree->hideColumn(column);
    FTree->setUniformRowHeights(true); // keeps folders with many thousand entries quick
    FTree->setSelectionMode(QAbstractItemView::SingleSelection);
    FTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    const QModelIndex rootSource = FModel->index(FRootPath);
    FTree->setRootIndex(FRootPath == u"/" ? QModelIndex() : FFilter->mapFromSource(rootSource.parent()));
}

QHBoxLayout *TFrmBrowseForFolder::CreateButtons()
{
    FButtonOk = new QPushButton(tr("OK"), this);
    FButtonOk->setObjectName(QStringLiteral("ButtonOk"));
    FButtonOk->setDefault(true);
    FButtonCancel = new QPushButton(tr("Cancel"), this);
    FButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));
    connect(FButtonOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(FButtonCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(FButtonOk);
    buttons->addWidget(FButtonCancel);
    return buttons;
}

// The caller's own button: in the button row, or where the caller placed it.
void TFrmBrowseForFolder::AddCustomButton(const TFolderDialog &picker, QHBoxLayout *buttons)
{
    const auto &custom = picker.CustomButton();
    if (!custom)
        return;
    FButtonCustom = new QPushButton(custom->Caption, this);
    FButtonCustom->setObjectName(custom->Name);
    FButtonCustom->setEnabled(custom->Enabled);
    FButtonCustom->setAutoDefault(false);
    if (custom->OnClick)
        connect(FButtonCustom, &QPushButton::clicked, this, custom->OnClick);
    if (FOptions.Contains(bfResizeCustomButton))
        FButtonCustom->setFixedSize(FButtonCancel->sizeHint());
    else
        FButtonCustom->setFixedSize(custom->Width, custom->Height);
    if (FOptions.Contains(bfAlignCustomButton))
        buttons->insertWidget(0, FButtonCustom, 0, Qt::AlignTop);
    else
        FButtonCustom->move(custom->Left, custom->Top);
}

void TFrmBrowseForFolder::Initialise(const QString &directory)
{
    Place();
    // The root is selected first; a folder to preselect then takes its place when it exists.
    const QModelIndex before = FTree->currentIndex();
    FTree->setCurrentIndex(FFilter->mapFromSource(FModel->index(FRootPath)));
    if (FTree->currentIndex() == before)
        SelectionChanged(); // no change signal came, but OK and the status line need their state
    if (!directory.isEmpty())
        SelectFolder(directory);
}

QString TFrmBrowseForFolder::CurrentPath() const
{
    const QModelIndex current = FTree->currentIndex();
    if (!current.isValid())
        return {};
    const QModelIndex source = FFilter->mapToSource(current);
    if (FOptions.Contains(bfFileSysDirsOnly) && !FModel->isDir(source))
        return {};
    return ChosenPath(FModel->filePath(source));
}

void TFrmBrowseForFolder::SelectFolder(const QString &directory)
{
    const QString path = PreselectionPath(directory);
    if (path.isEmpty() || !IsWithinFolder(path, FRootPath))
        return;
    const QModelIndex index = FFilter->mapFromSource(FModel->index(path));
    if (!index.isValid())
        return;
    FTree->setCurrentIndex(index);
    FScrollTarget = index;
    FTree->scrollTo(index);
}

void TFrmBrowseForFolder::Place()
{
    QWidget *owner = FOwner;
    TPlacementInput input;
    if (owner) {
        input.OwnerFrame = owner->frameGeometry();
        input.OwnerClientOrigin = owner->mapToGlobal(QPoint(0, 0));
    }
    const QScreen *screen = owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen)
        input.Screen = screen->geometry();
    input.DialogFrame = frameGeometry().size();
    // Before it is first shown the dialog's frame is not known yet; the owner's frame, drawn by
    // the same window manager, is the best estimate.
    if (owner && input.DialogFrame == size())
        input.DialogFrame += owner->frameGeometry().size() - owner->size();
    input.DialogClient = size();
    if (FPicker) {
        input.Left = FPicker->Left();
        input.Top = FPicker->Top();
    }
    QPoint position = DialogPosition(FOptions, input);
    // The arithmetic may put the dialog partly off the screen (an owner near the bottom edge);
    // it is moved back just far enough for every button to be reachable.
    if (screen)
        position = KeepOnScreen(position, input.DialogFrame, screen->availableGeometry());
    move(position);
}

void TFrmBrowseForFolder::SetText(const QString &text)
{
    FLabelText->setText(text);
    FLabelText->setVisible(!text.isEmpty());
}

void TFrmBrowseForFolder::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!FShown) {
        FShown = true;
        Place();
        FTree->setFocus();
        ScheduleScroll();
    }
}

void TFrmBrowseForFolder::SelectionChanged()
{
    const QString path = CurrentPath();
    const bool hasPath = !path.isEmpty();
    if (FScrollTarget.isValid() && FTree->currentIndex() != FScrollTarget)
        FScrollTarget = QPersistentModelIndex();

    if (FOptions.Contains(bfFileSysDirsOnly)) {
        FButtonOk->setEnabled(hasPath);
        if (FButtonCustom && FOptions.Contains(bfSyncCustomButton))
            FButtonCustom->setEnabled(hasPath);
    } else {
        FButtonOk->setEnabled(FTree->currentIndex().isValid());
    }
    if (hasPath) {
        if (FOptions.Contains(bfShowPathInStatusArea))
            FLabelStatus->SetPath(path);
        if (FPicker)
            FPicker->SelectionChanged();
    } else if (FOptions.Contains(bfFileSysDirsOnly) || FOptions.Contains(bfShowPathInStatusArea)) {
        FLabelStatus->SetPath({});
    }
}

void TFrmBrowseForFolder::ScheduleScroll()
{
    // Coalesced: one scroll after the view has laid out the rows that just arrived.
    if (FScrollPending || !FScrollTarget.isValid())
        return;
    FScrollPending = true;
    QTimer::singleShot(0, this, [this] {
        FScrollPending = false;
        KeepTargetInView();
    });
}

void TFrmBrowseForFolder::KeepTargetInView()
{
    // Folders load in the background; each finished folder can move rows, so the preselected
    // folder is scrolled into view again until the user moves on.
    if (FScrollTarget.isValid() && FTree->currentIndex() == FScrollTarget)
        FTree->scrollTo(FScrollTarget);
}

// ---------------------------------------------------------------------------------------------
// The component

TFolderDialog::TFolderDialog(QObject *owner) : QObject(owner)
{
}

TFolderDialog::~TFolderDialog()
{
    // Closing the dialog ends the running Browse, which notices that its picker is gone.
    if (FForm)
        FForm->reject();
}

void TFolderDialog::SetTop(int value)
{
    FTop = value;
    if (FForm)
        FForm->Place();
}

void TFolderDialog::SetLeft(int value)
{
    FLeft = value;
    if (FForm)
        FForm->Place();
}

QString TFolderDialog::Title() const
{
    return FForm ? FForm->windowTitle() : FTitle;
}

void TFolderDialog::SetTitle(const QString &value)
{
    FTitle = value;
    if (FForm)
        FForm->setWindowTitle(value);
}

QString TFolderDialog::Directory() const
{
    return FForm ? FForm->CurrentPath() : FDirectory;
}

void TFolderDialog::SetDirectory(const QString &value)
{
    FDirectory = value;
    if (FForm)
        FForm->SelectFolder(value);
}

void TFolderDialog::SetText(const QString &value)
{
    FText = value;
    if (FForm)
        FForm->SetText(value);
}

void TFolderDialog::SetOptions(TFolderDialogOptions value)
{
    FOptions = ApplyOptionRules(FOptions, value, FRootFolder);
}

QDialog *TFolderDialog::Handle() const
{
    return FForm;
}

QWidget *TFolderDialog::OwnerWindow() const
{
    auto *owner = qobject_cast<QWidget *>(parent());
    QWidget *window = owner ? owner->window() : QApplication::activeWindow();
    // A window that has never been shown has nowhere to be placed against.
    if (window && !window->testAttribute(Qt::WA_WState_Created))
        return nullptr;
    return window;
}

void TFolderDialog::SelectionChanged()
{
    if (OnChange)
        OnChange(this);
}

bool TFolderDialog::Browse()
{
    if (FForm)
        return false; // one dialog per picker: a handler cannot start a second run inside the first

    const QPointer<TFolderDialog> self(this);
    const QPointer<QWidget> owner(OwnerWindow());
    QPointer<TFrmBrowseForFolder> form = new TFrmBrowseForFolder(*this, owner);
    FForm = form;
    const auto cleanup = qScopeGuard([&] {
        delete form.data();
        if (self)
            self->FForm = nullptr;
    });

    form->Initialise(FDirectory);
    if (OnShow)
        OnShow(this);

    const bool accepted = form && form->exec() == QDialog::Accepted;
    const QString chosen = accepted && form ? form->CurrentPath() : QString();
    if (!self)
        return false; // the picker was destroyed while its dialog was open

    FForm = nullptr;
    delete form.data();
    if (owner)
        owner->activateWindow();
    FDirectory = chosen;
    if (OnClose)
        OnClose(this);
    return accepted;
}

#include "FoldrDlg.moc"
