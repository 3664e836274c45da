#include "ui/Main.h"

#include "catalogue/DescriptionFile.h"
#include "catalogue/FolderCatalogue.h"
#include "catalogue/FolderText.h"
#include "catalogue/ProfileFile.h"
#include "common/ErrorReport.h"
#include "common/MessageDlg.h"
#include "common/PathUtils.h"
#include "common/TextCodec.h"
#include "system/FoldrDlg.h"
#include "ui/CurrDirNote.h"
#include "ui/StringGrid.h"

#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QVBoxLayout>

namespace {
QPushButton *MakeButton(QWidget *parent, const QString &name, const QString &caption,
                        QStyle::StandardPixmap picture)
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

// Width of a listed column: 140 pixels, or the widest text plus 6 when that is wider.
int ListedColumnWidth(int widest)
{
    return widest <= TStringGrid::DefaultColWidth ? TStringGrid::DefaultColWidth : widest + 6;
}
} // namespace

TFrmMain::TFrmMain(QWidget *parent) : QWidget(parent)
{
    CreateComponents();
    AttachGridHandlers(true);
}

void TFrmMain::CreateComponents()
{
    setObjectName(QStringLiteral("FrmMain"));
    setWindowTitle(QStringLiteral("DirNote"));
    setMinimumSize(453, 476);
    resize(445 + 8, 449 + 27);

    LabelCurrFolderTxt = new QLabel(QStringLiteral("Folder:"), this);
    LabelCurrFolderTxt->setObjectName(QStringLiteral("LabelCurrFolderTxt"));
    LabelCurrFolder = new QLabel(QStringLiteral("(none)"), this);
    LabelCurrFolder->setObjectName(QStringLiteral("LabelCurrFolder"));
    LabelCurrFolder->setToolTip(QStringLiteral("(none)"));
    LabelCurrFolder->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
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
    auto makePane = [this](const QString &heading, const QString &headingName, const QString &gridName,
                           QLabel *&label, TStringGrid *&grid) {
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
    SplitterFolderFile->setSizes({17 + 175, 180});
    SplitterFolderFile->setStretchFactor(0, 0);
    SplitterFolderFile->setStretchFactor(1, 1);

    auto *clientLayout = new QVBoxLayout(PanelClient);
    clientLayout->setContentsMargins(4, 4, 4, 4);
    clientLayout->addWidget(SplitterFolderFile);

    PanelButtons = new QFrame(this);
    PanelButtons->setObjectName(QStringLiteral("PanelButtons"));
    PanelButtons->setFrameShape(QFrame::Panel);
    PanelButtons->setFrameShadow(QFrame::Sunken);
    PanelButtons->setFixedHeight(33);
    BitBtnDirNote = MakeButton(PanelButtons, QStringLiteral("BitBtnDirNote"),
                               QStringLiteral("Folder &info"), QStyle::SP_FileDialogInfoView);
    BitBtnSelectFolder = MakeButton(PanelButtons, QStringLiteral("BitBtnSelectFolder"),
                                    QStringLiteral("&Select folder"), QStyle::SP_DirOpenIcon);
    BitBtnRefreshFolder = MakeButton(PanelButtons, QStringLiteral("BitBtnRefreshFolder"),
                                     QStringLiteral("&Refresh folder"), QStyle::SP_BrowserReload);
    BitBtnClose = MakeButton(PanelButtons, QStringLiteral("BitBtnClose"), QStringLiteral("&Close"),
                             QStyle::SP_DialogCloseButton);
    auto *buttonsLayout = new QHBoxLayout(PanelButtons);
    buttonsLayout->setContentsMargins(4, 4, 4, 4);
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

    FolderDialog = new TFolderDialog(this);
    FolderDialog->setObjectName(QStringLiteral("FolderDialog"));
    FolderDialog->SetLeft(360);
    connect(BitBtnSelectFolder, &QPushButton::clicked, this, [this] { BitBtnSelectFolderClick(); });
    connect(BitBtnRefreshFolder, &QPushButton::clicked, this, [this] { BitBtnRefreshFolderClick(); });
    connect(BitBtnDirNote, &QPushButton::clicked, this, [this] { BitBtnDirNoteClick(); });
    connect(BitBtnClose, &QPushButton::clicked, this, &QWidget::close);

    for (TStringGrid *grid : {StringGridFolders, StringGridFiles}) {
        grid->GridModel()->Clear();
        grid->setColumnWidth(0, TStringGrid::DefaultColWidth);
        grid->setColumnWidth(1, TStringGrid::DefaultColWidth);
        grid->setEnabled(false);
    }
    setTabOrder(StringGridFolders, StringGridFiles);
    setTabOrder(StringGridFiles, BitBtnDirNote);
    setTabOrder(BitBtnDirNote, BitBtnSelectFolder);
    setTabOrder(BitBtnSelectFolder, BitBtnRefreshFolder);
    setTabOrder(BitBtnRefreshFolder, BitBtnClose);
}

void TFrmMain::AttachGridHandlers(bool attach)
{
    if (!attach) {
        StringGridFolders->OnSelectCell = nullptr;
        StringGridFiles->OnSelectCell = nullptr;
        return;
    }
    StringGridFolders->OnSelectCell = [this](int col, int row) { return StringGridFoldersSelectCell(col, row); };
    StringGridFiles->OnSelectCell = [this](int col, int row) { return StringGridFilesSelectCell(col, row); };
    StringGridFolders->OnExit = [this] { StringGridFoldersExit(); };
    StringGridFiles->OnExit = [this] { StringGridFilesExit(); };
}

QByteArray TFrmMain::CurrentFolderPath() const
{
    return ExtractFilePath(FDescFilePath);
}

void TFrmMain::FitColumn(TStringGrid *grid, int column, int widest)
{
    grid->setColumnWidth(column, ListedColumnWidth(widest));
}

bool TFrmMain::LoadFolder(const QByteArray &folder)
{
    if (folder.isEmpty() || !IsExistingFolder(folder))
        return false;
    // The cursor moves below commit nothing; whatever happens, the handlers come back and each
    // table is enabled exactly when it lists entries.
    AttachGridHandlers(false);
    struct TRestore {
        TFrmMain *Self;
        ~TRestore()
        {
            Self->AttachGridHandlers(true);
            for (TStringGrid *grid : {Self->StringGridFolders, Self->StringGridFiles})
                grid->setEnabled(!grid->GridModel()->Name(0).isEmpty());
        }
    } restore{this};

    const TFolderCatalogue catalogue = ReadFolderCatalogue(folder);
    const std::pair<TStringGrid *, const std::vector<TCatalogueEntry> *> tables[] = {
        {StringGridFolders, &catalogue.Folders}, {StringGridFiles, &catalogue.Files}};
    for (const auto &[grid, entries] : tables) {
        grid->GridModel()->SetEntries(*entries);
        int widestName = 0, widestDesc = 0;
        for (int row = 0; row < int(entries->size()); ++row) {
            widestName = std::max(widestName, grid->TextWidth(grid->GridModel()->DisplayName(row)));
            widestDesc = std::max(widestDesc, grid->TextWidth(grid->GridModel()->Description(row)));
        }
        FitColumn(grid, 0, widestName);
        FitColumn(grid, 1, widestDesc);
    }

    FDescFilePath = catalogue.DescPath;
    const QString shown = DecodeName(CurrentFolderPath());
    LabelCurrFolder->setText(shown);
    LabelCurrFolder->setToolTip(shown);

    CreateDescriptionFile(FDescFilePath);

    for (TStringGrid *grid : {StringGridFolders, StringGridFiles}) {
        const int row = grid->GridModel()->FirstUndescribed();
        grid->SetCurrentCell(1, row >= 0 ? row : 0);
    }
    // What could be listed is shown; the user learns that the folder was not listed whole.
    if (!catalogue.Error.isEmpty())
        throw TException(catalogue.Error);
    return true;
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
    const QByteArray bytes = EncodeText(text);
    ProfileFile profile(FDescFilePath);
    WriteDescription(profile, section, model->Name(row), model->Names(), bytes);
    model->SetStored(row, text, bytes);
    const int width = grid->TextWidth(text) + 6;
    if (width > grid->columnWidth(1))
        grid->setColumnWidth(1, width);
}

void TFrmMain::BitBtnRefreshFolderClick()
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
    // Before the first listing there is no file to read or write: say so instead of showing an
    // empty text that could never be saved.
    if (FDescFilePath.isEmpty()) {
        MessageDlg(QStringLiteral("No folder is listed yet, so there is no folder text to edit."),
                   TMsgDlgType::mtInformation, mbOK, this);
        return;
    }
    TFrmCurrDirNote dialog(this);
    const QList<QByteArray> original = ReadFolderText(FDescFilePath);
    dialog.SetLines(original);
    if (dialog.exec() != QDialog::Accepted)
        return;
    WriteFolderText(FDescFilePath, FolderTextLines(dialog.Text(), original));
}

void TFrmMain::BitBtnSelectFolderClick()
{
    FolderDialog->SetDirectory(DecodeName(CurrentFolderPath()));
    if (!FolderDialog->Browse())
        return;
    const QByteArray chosen = EncodeName(FolderDialog->Directory());
    // The current folder chosen again is not listed again. Names are compared exactly: on this
    // file system two names that differ only in letter case are two folders.
    if (!IsExistingFolder(chosen) || IncludeTrailingPathDelimiter(chosen) == CurrentFolderPath())
        return;
    LoadFolder(chosen);
}

void TFrmMain::FormClose()
{
    // A description still in its cell editor is committed too: closing must not lose typing.
    if (StringGridFolders->HasFocusWithin())
        StringGridFoldersExit();
    else if (StringGridFiles->HasFocusWithin())
        StringGridFilesExit();
}

void TFrmMain::closeEvent(QCloseEvent *event)
{
    // A description that cannot be written keeps the window open; the next attempt tries again.
    if (!ReportErrors([this] { FormClose(); }))
        event->ignore();
    else
        event->accept();
}
