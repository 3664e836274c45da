#pragma once

#include <QByteArray>
#include <QWidget>

class QLabel;
class QPushButton;
class QSplitter;
class QFrame;
class TStringGrid;
class TFolderDialog;

// The main window: the current folder's subfolders and files, each with its description.
class TFrmMain : public QWidget {
    Q_OBJECT
public:
    explicit TFrmMain(QWidget *parent = nullptr);

    // Makes the folder current: lists it, shows the stored descriptions, prunes those of vanished
    // entries and creates a missing description file. False, and nothing changed, for an empty
    // path or one that is not an existing folder. A description file that cannot be created
    // raises its error after the tables are filled; so does a folder that could not be listed whole
    // ("Unable to list the folder ..."), after its cursor is placed.
    bool LoadFolder(const QByteArray &folder);

    const QByteArray &DescFilePath() const { return FDescFilePath; }
    // The current folder path with its trailing "/", empty before the first listing.
    QByteArray CurrentFolderPath() const;

    // Handlers, reachable by tests and by the keyboard commands.
    bool StringGridFoldersSelectCell(int col, int row);
    bool StringGridFilesSelectCell(int col, int row);
    void StringGridFoldersExit();
    void StringGridFilesExit();
    void CommitCurrentRow(TStringGrid *grid, const char *section);
    void BitBtnRefreshFolderClick();
    void BitBtnDirNoteClick();
    void BitBtnSelectFolderClick();
    void FormClose();

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

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void CreateComponents();
    void AttachGridHandlers(bool attach);
    void FitColumn(TStringGrid *grid, int column, int widest);

    QByteArray FDescFilePath;
};
