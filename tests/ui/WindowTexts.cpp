// SPDX-License-Identifier: GPL-3.0-or-later
// Prints the texts a person sees in the main window and its dialogs, one "name<TAB>text" a line,
// after loading the translations as the program does at its start: from the environment's
// language (LANGUAGE, LC_ALL, LC_MESSAGES, LANG). A fresh process, since the system locale is
// read once per process. Usage: dn_windowtexts TRANSLATIONS_FOLDER EMPTY_FOLDER

#include "TestEnvironment.h"

#include "common/ErrorReport.h"
#include "common/MessageDlg.h"
#include "settings/RegSpecial.h"
#include "ui/CurrDirNote.h"
#include "ui/IndexSearch.h"
#include "ui/Main.h"
#include "ui/PrunedDescriptions.h"
#include "ui/Translations.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>

#include <cstdio>

namespace {
void Print(const QString &name, const QString &text)
{
    std::printf("%s\t%s\n", name.toUtf8().constData(), text.toUtf8().constData());
}

void PrintWidgets(const QString &prefix, const QWidget &root)
{
    Print(prefix + QStringLiteral(".title"), root.windowTitle());
    for (const QAbstractButton *button : root.findChildren<QAbstractButton *>())
        if (!button->objectName().isEmpty())
            Print(prefix + u'.' + button->objectName(), button->text());
    for (const QLabel *label : root.findChildren<QLabel *>())
        if (!label->objectName().isEmpty())
            Print(prefix + u'.' + label->objectName(), label->text());
    for (const QLineEdit *edit : root.findChildren<QLineEdit *>())
        if (!edit->objectName().isEmpty())
            Print(prefix + u'.' + edit->objectName(), edit->placeholderText());
}
} // namespace

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    const auto userFolders = TestSupport::IsolateUserFolders();
    qputenv("DIRNOTE_NO_INDEX", "1");
    TApplication app(argc, argv);
    RegProgramKey = DirNoteRegKey;
    Print(QStringLiteral("language"), InstallTranslations(QLocale::system(), {QString::fromLocal8Bit(argv[1])}));

    TFrmMain window({QByteArray(argv[2])});
    PrintWidgets(QStringLiteral("FrmMain"), window);
    if (const auto *menu = window.findChild<QMenu *>(QStringLiteral("WindowMenu")))
        for (const QAction *action : menu->actions())
            if (!action->isSeparator())
                Print(QStringLiteral("WindowMenu.") + QString::number(action->data().toInt()), action->text());
    // The search field is made at its first opening, which needs an index: the same panel alone.
    const TSearchPanel search(QString(), &window);
    Print(QStringLiteral("FrmMain.SearchEdit"), search.SearchEdit->placeholderText());

    TFrmCurrDirNote folderText(&window);
    PrintWidgets(QStringLiteral("FrmCurrDirNote"), folderText);
    TFrmPrunedDescriptions pruned({}, {}, &window);
    PrintWidgets(QStringLiteral("FrmPrunedDescriptions"), pruned);
    Print(QStringLiteral("MessageDlg.Yes"), MsgDlgButtonText(mbYes));
    Print(QStringLiteral("MessageDlg.Caption"), MsgDlgCaption(TMsgDlgType::mtConfirmation));
    // Qt's own texts (a line edit's context menu), translated where Qt's translations are installed.
    Print(QStringLiteral("Qt.Undo"), QCoreApplication::translate("QLineEdit", "&Undo"));
    return 0;
}
