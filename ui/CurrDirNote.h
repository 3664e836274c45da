// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QList>

class QFrame;
class QPlainTextEdit;
class QPushButton;

// The dialog that edits the folder's own text; the main window reads and stores the lines.
class TFrmCurrDirNote : public QDialog {
    Q_OBJECT
public:
    explicit TFrmCurrDirNote(QWidget *parent = nullptr);

    // Shows one line per stored value.
    void SetLines(const QList<QByteArray> &lines);
    // The note shown when a line was cut at the limit of a value.
    static QString LimitNote();

    // The text as typed, lines separated by "\n", no-break spaces kept; a line separator (U+2028,
    // pasted) stays as it is, for FolderTextLines to judge. Unchanged, it is exactly the stored
    // lines joined by "\n".
    QString Text() const;

    QFrame *PanelClient = nullptr;
    QPlainTextEdit *MemoInfo = nullptr;
    QFrame *PanelButtons = nullptr;
    QPushButton *BitBtnOk = nullptr;
    QPushButton *BitBtnCancel = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // Keeps every line within the bytes a value reads back: what an edit inserted beyond that
    // is taken out again, and the user is told.
    void LimitLines();
    QString FLast; // the raw text after the last edit, within the limit
    bool FLimiting = false;
    QString FShown;    // the stored lines as set
    QString FShownRaw; // the document's raw text right after they were set
};
