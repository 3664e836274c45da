// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QWidget;
class TStringGrid;
class TIndexUpdater;
class TFolderWatch;

// Where a commit writes: the listed folder's description file, and the index updater that learns
// of the write (none without an index).
struct TCommitPlace {
    QByteArray DescFilePath;
    TIndexUpdater *Updater = nullptr;
    // The watch of the listed folder, told of the write (none in tests of the rules alone).
    TFolderWatch *Watch = nullptr;
    // Told of each description written (folder with its trailing "/", the entry's name, the text),
    // after the write; none where nothing else follows a description.
    std::function<void(const QByteArray &folder, const QByteArray &name, const QByteArray &text)> Written{};
};

// The rules of when a row's description is written: when the cursor leaves its row, when its
// table loses the focus, and before anything that lists or closes (the pending commit of the table
// that had the focus last). An emptied cell shows its stored text again; an unchanged one writes
// nothing.
class TDescriptionCommit {
public:
    // place gives the folder listed at the moment of the commit.
    TDescriptionCommit(TStringGrid *folders, TStringGrid *files, std::function<TCommitPlace()> place);

    // The cursor moving to (col, row) of a table: leaving a row commits it. Only the description
    // column takes the cursor.
    bool SelectCell(TStringGrid *grid, int col, int row);
    // The table lost the focus: its current row is committed.
    void Exit(TStringGrid *grid);
    void CommitCurrentRow(TStringGrid *grid, const char *section);
    // Commits the pending description of the table that had the keyboard focus last.
    void CommitPending();
    // Writes a description as a commit does and makes it the row's stored text.
    void StoreDescription(TStringGrid *grid, const char *section, int row, const QString &text,
                          const QByteArray &bytes);

    // Follows the focus: the table that held it last keeps that role while a button, a dialog or
    // another program has it.
    void FocusChanged(QWidget *now);
    TStringGrid *LastGrid() const { return FLastGrid; }

private:
    const char *SectionOf(const TStringGrid *grid) const;

    TStringGrid *FFolders;
    TStringGrid *FFiles;
    std::function<TCommitPlace()> FPlace;
    TStringGrid *FLastGrid = nullptr;
};
