// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

// Where the program's .qm files are looked for: "translations" beside the program (the build
// tree), then share/dirnote/translations of the prefix it is installed under.
QStringList TranslationFolders();

// The languages to try for the program's texts, most wanted first, as the locale's user
// interface languages give them ("de_DE", "de", ...). English is the texts' own language: the
// list ends before the first English entry, and the C locale asks for none (the environment's
// LANGUAGE counts only with a real locale, as elsewhere on the desktop).
QStringList TranslationLanguages(const QLocale &locale);

// Installs into the application the program's translation for the first of the locale's
// languages that has one in `folders`, and Qt's own (standard buttons, context menus) for the
// same language where Qt's translations are installed. Returns the language loaded ("de"), or
// an empty text when the program's English texts stay.
QString InstallTranslations(const QLocale &locale = QLocale::system(),
                            const QStringList &folders = TranslationFolders());
