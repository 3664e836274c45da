// SPDX-License-Identifier: GPL-3.0-or-later
// The window speaks the user's language: the texts of a window started under each language
// setting, read from a fresh process (the system locale is read once per process).

#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLibraryInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <algorithm>

#include <gtest/gtest.h>

namespace {
struct TLanguageCase {
    const char *Name;
    QList<QPair<QByteArray, QByteArray>> Environment; // set for the start; the others are unset
    bool German;
};

void PrintTo(const TLanguageCase &language, std::ostream *out)
{
    *out << language.Name;
}

// name -> text, as dn_windowtexts prints them.
QHash<QString, QString> WindowTexts(const TLanguageCase &language, const TestSupport::TTempDir &dir)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
        environment.remove(QString::fromLatin1(name));
    for (const auto &[name, value] : language.Environment)
        environment.insert(QString::fromLatin1(name), QString::fromLatin1(value));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QString programFolder = QFileInfo(QString::fromLocal8Bit(TestSupport::ProgramPath())).path();
    process.start(QStringLiteral("%1/tests/dn_windowtexts").arg(programFolder),
                  {programFolder + QStringLiteral("/translations"), QString::fromLocal8Bit(dir.Path())});
    QHash<QString, QString> texts;
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        ADD_FAILURE() << "dn_windowtexts did not end well: " << process.exitCode();
        return texts;
    }
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        const qsizetype tab = line.indexOf('\t');
        if (tab > 0)
            texts.insert(QString::fromUtf8(line.left(tab)), QString::fromUtf8(line.mid(tab + 1)));
    }
    return texts;
}

class WindowLanguageTest : public ::testing::TestWithParam<TLanguageCase> {
protected:
    TestSupport::TTempDir Dir;
};

TEST_P(WindowLanguageTest, TheWindowAndItsDialogsSpeakTheUsersLanguage)
{
    const TLanguageCase &language = GetParam();
    const QHash<QString, QString> texts = WindowTexts(language, Dir);
    ASSERT_FALSE(texts.isEmpty());
    // name -> {English, German}
    const QList<std::tuple<const char *, const char *, const char *>> expected = {
        {"FrmMain.BitBtnDirNote", "Folder &info", "Ordner&info"},
        {"FrmMain.BitBtnSelectFolder", "&Select folder", "Ordner &wählen"},
        {"FrmMain.BitBtnRefreshFolder", "&Refresh folder", "&Aktualisieren"},
        {"FrmMain.BitBtnClose", "&Close", "&Schließen"},
        {"FrmMain.StaticTextFolders", "F&olders", "&Ordner"},
        {"FrmMain.StaticTextFiles", "&Files", "&Dateien"},
        {"FrmMain.LabelCurrFolderTxt", "Folder:", "Ordner:"},
        {"FrmMain.SearchEdit", "Search the descriptions of every indexed folder",
         "Die Beschreibungen aller indizierten Ordner durchsuchen"},
        {"WindowMenu.61536", "&Close\tAlt+F4", "&Schließen\tAlt+F4"},
        {"FrmCurrDirNote.title", "Folder information", "Ordnerinformationen"},
        {"FrmCurrDirNote.BitBtnCancel", "Cancel", "Abbrechen"},
        {"FrmPrunedDescriptions.BitBtnCopyText", "&Copy text", "Text &kopieren"},
        {"MessageDlg.Yes", "&Yes", "&Ja"},
    };
    for (const auto &[name, english, german] : expected)
        EXPECT_EQ(texts.value(QString::fromLatin1(name)).toStdString(), language.German ? german : english) << name;
    EXPECT_EQ(texts.value(QStringLiteral("language")).toStdString(), language.German ? "de" : "");
    // The message boxes' captions are the program's own and stay in every language.
    EXPECT_EQ(texts.value(QStringLiteral("MessageDlg.Caption")).toStdString(), "Confirm");
    // Qt's own texts follow where Qt's German is installed.
    if (language.German
        && QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_de.qm"))) {
        EXPECT_NE(texts.value(QStringLiteral("Qt.Undo")).toStdString(), "&Undo");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Languages, WindowLanguageTest,
    ::testing::Values(TLanguageCase{"German", {{"LANGUAGE", "de"}, {"LANG", "de_DE.UTF-8"}}, true},
                      TLanguageCase{"GermanLangAlone", {{"LANG", "de_DE.UTF-8"}}, true},
                      TLanguageCase{"GermanMessagesOnly", {{"LC_MESSAGES", "de_DE.UTF-8"}, {"LANG", "C.UTF-8"}}, true},
                      TLanguageCase{"FrenchThenGerman", {{"LANGUAGE", "fr:de"}, {"LANG", "fr_FR.UTF-8"}}, true},
                      TLanguageCase{"EnglishFirst", {{"LANGUAGE", "en"}, {"LANG", "de_DE.UTF-8"}}, false},
                      TLanguageCase{"EnglishThenGerman", {{"LANGUAGE", "en_GB:de"}, {"LANG", "de_DE.UTF-8"}}, false},
                      TLanguageCase{"CLocale", {{"LANG", "C"}}, false},
                      TLanguageCase{"CLocaleIgnoresLanguage", {{"LANGUAGE", "de"}, {"LANG", "C"}}, false},
                      TLanguageCase{"Untranslated", {{"LANG", "fr_FR.UTF-8"}}, false}),
    [](const ::testing::TestParamInfo<TLanguageCase> &param) { return std::string(param.param.Name); });

// The placeholders (%1, %n) of a text: a translation that lost one shows a number or a name
// nowhere, one that gained one shows "%2" to the user.
QList<QString> Placeholders(const QString &text)
{
    QList<QString> found;
    static const QRegularExpression placeholder(QStringLiteral("%(n|L?[0-9]+)"));
    for (auto match = placeholder.globalMatch(text); match.hasNext();)
        found << match.next().captured(0);
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

// Every text of the sources is translated: the .ts files brought up to date with the sources
// (as `dirnote_lupdate` does, into a copy) hold no unfinished entry and none the sources lost,
// and each translation keeps its source's placeholders.
TEST(TranslationFilesTest, EveryTextOfTheSourcesIsTranslated)
{
    // What the build names: the tool, the .ts files and the translated sources.
    QString tool, include;
    QStringList tsFiles, sources;
    const QByteArray listed = TestSupport::ReadFileBytes(
        QFileInfo(QString::fromLocal8Bit(TestSupport::ProgramPath())).path().toLocal8Bit()
        + "/translations/lupdate-sources.txt");
    for (const QByteArray &line : listed.split('\n')) {
        const QString path = QString::fromLocal8Bit(line.mid(line.indexOf(' ') + 1));
        if (line.startsWith("tool "))
            tool = path;
        else if (line.startsWith("include "))
            include = path;
        else if (line.startsWith("ts "))
            tsFiles << path;
        else if (line.startsWith("source "))
            sources << path;
    }
    ASSERT_FALSE(tool.isEmpty());
    ASSERT_FALSE(tsFiles.isEmpty());
    ASSERT_GT(sources.size(), 10);
    TestSupport::TTempDir dir;
    for (const QString &ts : tsFiles) {
        const std::string file = QFileInfo(ts).fileName().toStdString();
        const QString copy = QString::fromLocal8Bit(dir.Path()) + u'/' + QFileInfo(ts).fileName();
        ASSERT_TRUE(QFile::copy(ts, copy)) << file;
        QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QProcess lupdate;
        lupdate.setProcessChannelMode(QProcess::MergedChannels);
        lupdate.start(tool, QStringList{QStringLiteral("-silent"), QStringLiteral("-locations"), QStringLiteral("none"),
                                        QStringLiteral("-I"), include}
                                + sources + QStringList{QStringLiteral("-ts"), copy});
        ASSERT_TRUE(lupdate.waitForFinished(120000));
        ASSERT_EQ(lupdate.exitCode(), 0) << lupdate.readAll().toStdString();

        QFile updated(copy);
        ASSERT_TRUE(updated.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&updated);
        QString source;
        bool plural = false;
        int messages = 0;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == u"message") {
                ++messages;
                plural = xml.attributes().value(QStringLiteral("numerus")) == u"yes";
            } else if (xml.name() == u"source") {
                source = xml.readElementText();
            } else if (xml.name() == u"translation") {
                const std::string what = file + ": \"" + source.toStdString() + "\"";
                const QString type = xml.attributes().value(QStringLiteral("type")).toString();
                EXPECT_TRUE(type.isEmpty()) << what << " is " << type.toStdString();
                QStringList forms; // a plural's forms, or the one translation
                if (plural)
                    while (xml.readNextStartElement())
                        forms << xml.readElementText();
                else
                    forms << xml.readElementText();
                for (const QString &form : forms) {
                    EXPECT_FALSE(form.isEmpty()) << what << " has an empty translation";
                    EXPECT_EQ(Placeholders(form), Placeholders(source))
                        << what << " -> \"" << form.toStdString() << "\"";
                }
            }
        }
        EXPECT_FALSE(xml.hasError()) << file << ": " << xml.errorString().toStdString();
        EXPECT_GT(messages, 50) << file;
    }
}
} // namespace
