// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

QStringList TranslationFolders()
{
    const QString programFolder = QCoreApplication::applicationDirPath();
    return {programFolder + QStringLiteral("/translations"),
            QDir::cleanPath(programFolder + QStringLiteral("/../share/dirnote/translations"))};
}

QStringList TranslationLanguages(const QLocale &locale)
{
    QStringList languages;
    if (locale.language() == QLocale::C)
        return languages;
    for (QString language : locale.uiLanguages()) {
        language.replace(u'-', u'_');
        if (language == u"C" || language.startsWith(QStringLiteral("en")))
            break;
        if (!languages.contains(language))
            languages << language;
    }
    return languages;
}

QString InstallTranslations(const QLocale &locale, const QStringList &folders)
{
    for (const QString &language : TranslationLanguages(locale)) {
        for (const QString &folder : folders) {
            // The translators belong to the application from here on, for the rest of its life.
            auto *own = new QTranslator(QCoreApplication::instance());
            // "de_DE" finds dirnote_de_DE.qm, else dirnote_de.qm.
            if (!own->load(QStringLiteral("dirnote_") + language, folder)) {
                delete own;
                continue;
            }
            QCoreApplication::installTranslator(own);
            auto *qt = new QTranslator(QCoreApplication::instance());
            if (qt->load(QStringLiteral("qtbase_") + language, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
                QCoreApplication::installTranslator(qt);
            else
                delete qt;
            return own->language().isEmpty() ? language : own->language();
        }
    }
    return {};
}
