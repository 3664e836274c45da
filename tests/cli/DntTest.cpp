// SPDX-License-Identifier: GPL-3.0-or-later
// dnt get, set and ls, run as real processes.

#include "DntRun.h"

#include "catalogue/DescriptionFile.h"
#include "catalogue/FolderCatalogue.h"

#include "TestSupport.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace TestSupport;

namespace {
bool Exists(const QByteArray &path)
{
    struct stat st;
    return ::stat(path.constData(), &st) == 0;
}

QString Printable(const TDntRun &run)
{
    return QStringLiteral("exit %1, out \"%2\", err \"%3\"")
        .arg(run.Code)
        .arg(QString::fromUtf8(run.Out), QString::fromUtf8(run.Err));
}
} // namespace

TEST(DntSet, EveryInputTheWindowRefusesIsAClearErrorThatChangesNothing)
{
    TTempDir dir;
    for (const char *name : {" lead.txt", "trail.txt ", "[bracket].txt", ";semi.txt", "a=b.txt", "ok.txt"})
        dir.WriteFile(name, "x");
    const QByteArray stored = "[Files]\r\nok.txt=kept\r\n";
    dir.WriteFile("Folder.dnt", stored);
    struct TCase {
        QByteArray Name;
        QByteArray Text; // "-": Input goes to standard input
        QByteArray Input;
        QString Says;
    };
    const QString notAKey = QStringLiteral("cannot be stored as a key");
    const QString lineBreak = QStringLiteral("contains a line break");
    const TCase cases[] = {
        {" lead.txt", "text", {}, notAKey},
        {"trail.txt ", "text", {}, notAKey},
        {"[bracket].txt", "text", {}, notAKey},
        {";semi.txt", "text", {}, notAKey},
        {"a=b.txt", "text", {}, notAKey},
        {"ok.txt", "two\nlines", {}, lineBreak},
        {"ok.txt", "carriage\rreturn", {}, lineBreak},
        // Only the one line break that ends the input is dropped.
        {"ok.txt", "-", "piped\nlines\n", lineBreak},
        {"ok.txt", "-", "not \xff UTF-8", QStringLiteral("the text is not UTF-8")},
        // A read returns 2047 bytes: a longer text would come back cut.
        {"ok.txt", QByteArray(3000, 'x'), {}, QStringLiteral("is 3000 bytes long, more than the 2047 bytes")},
        {"ok.txt", "-", QByteArray("\xC3\xA9").repeated(1024) + "\n", QStringLiteral("is 2048 bytes long")},
        {"missing.txt", "text", {}, QStringLiteral("No such file or directory")},
        {"Folder.dnt", "text", {}, QStringLiteral("the description file itself")},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name.toStdString() + " / " + c.Text.toStdString());
        const TDntRun run = Dnt({QStringLiteral("set"), Arg(dir.FilePath(c.Name)), Arg(c.Text)}, c.Input);
        EXPECT_EQ(run.Code, 1) << Printable(run).toStdString();
        const QString err = QString::fromUtf8(run.Err);
        EXPECT_TRUE(err.startsWith(QStringLiteral("dnt: "))) << err.toStdString();
        EXPECT_TRUE(err.contains(c.Says)) << err.toStdString();
        // The message names the file or the entry it is about.
        EXPECT_TRUE(err.contains(Arg(dir.Path())) || err.contains(Arg(c.Name))) << err.toStdString();
        EXPECT_TRUE(run.Out.isEmpty());
        EXPECT_EQ(ReadFileBytes(dir.FilePath("Folder.dnt")), stored);
    }

    // The longest text that reads back whole is written and read back as it is.
    const QByteArray longest = QByteArray(2045, 'y') + "\xC3\xA9";
    EXPECT_EQ(Dnt({QStringLiteral("set"), Arg(dir.FilePath("ok.txt")), Arg(longest)}).Code, 0);
    EXPECT_EQ(Dnt({QStringLiteral("get"), Arg(dir.FilePath("ok.txt"))}).Out, longest + "\n");

    // A refusal in a folder without a description file does not create one.
    const QByteArray bare = dir.MakeDir("bare");
    dir.WriteFile("bare/;comment.txt", "x");
    EXPECT_EQ(Dnt({QStringLiteral("set"), Arg(bare + "/;comment.txt"), QStringLiteral("text")}).Code, 1);
    EXPECT_FALSE(Exists(bare + "/Folder.dnt"));
}

TEST(DntUsage, WrongCommandLinesExitWithTwoAndSayHowToGetHelp)
{
    TTempDir dir;
    dir.WriteFile("a.txt", "x");
    const QStringList lines[] = {
        {},
        {QStringLiteral("frobnicate")},
        {QStringLiteral("get")},
        {QStringLiteral("set"), Arg(dir.FilePath("a.txt"))},
        {QStringLiteral("set"), Arg(dir.FilePath("a.txt")), QStringLiteral("a"), QStringLiteral("b")},
        {QStringLiteral("ls"), QStringLiteral("--bogus")},
        {QStringLiteral("ls"), Arg(dir.Path()), Arg(dir.Path())},
        {QStringLiteral("export"), Arg(dir.Path())},
        {QStringLiteral("export"), Arg(dir.Path()), QStringLiteral("--format"), QStringLiteral("xml")},
        {QStringLiteral("export"), Arg(dir.Path()), QStringLiteral("--format=csv"), QStringLiteral("--to=xattr")},
        {QStringLiteral("import"), Arg(dir.Path())},
        {QStringLiteral("import"), Arg(dir.Path()), QStringLiteral("--from"), QStringLiteral("descript.ion"),
         QStringLiteral("--encoding"), QStringLiteral("koi8")},
        {QStringLiteral("import"), Arg(dir.Path()), QStringLiteral("--from")},
    };
    for (const QStringList &args : lines) {
        SCOPED_TRACE(args.join(u' ').toStdString());
        const TDntRun run = Dnt(args);
        EXPECT_EQ(run.Code, 2) << Printable(run).toStdString();
        EXPECT_TRUE(run.Err.contains("dnt --help")) << run.Err.toStdString();
    }
    EXPECT_FALSE(Exists(dir.FilePath("Folder.dnt")));

    const TDntRun help = Dnt({QStringLiteral("--help")});
    EXPECT_EQ(help.Code, 0);
    for (const char *command : {"get PATH", "set PATH TEXT", "ls [FOLDER]", "export [FOLDER]", "import [FOLDER]"})
        EXPECT_TRUE(help.Out.contains(command)) << command;
}

TEST(DntUsage, EveryCommandTakesHelpAndEveryHelpLineFitsEightyColumns)
{
    // Columns are characters: a line is measured as the terminal shows it.
    auto checkLines = [](const QByteArray &text) {
        for (const QByteArray &line : text.split('\n'))
            EXPECT_LE(QString::fromUtf8(line).size(), 80) << line.toStdString();
    };
    const TDntRun all = Dnt({QStringLiteral("--help")});
    EXPECT_EQ(all.Code, 0);
    checkLines(all.Out);
    const char *commands[] = {"get", "set", "ls", "find", "export", "import"};
    for (const char *command : commands) {
        SCOPED_TRACE(command);
        const QString name = QString::fromLatin1(command);
        // After the command, also among its arguments; "help COMMAND" says the same.
        for (const QStringList &args : {QStringList{name, QStringLiteral("--help")},
                                        QStringList{name, QStringLiteral("."), QStringLiteral("--help")},
                                        QStringList{QStringLiteral("help"), name}}) {
            const TDntRun run = Dnt(args);
            EXPECT_EQ(run.Code, 0) << Printable(run).toStdString();
            EXPECT_EQ(run.Err, "");
            EXPECT_TRUE(run.Out.startsWith("Usage:\n  dnt " + QByteArray(command) + " ")) << run.Out.toStdString();
            // Each line of the explanation is the full help's own.
            qsizetype bodyLines = 0;
            for (const QByteArray &line : run.Out.split('\n')) {
                if (line.startsWith("      ") && line[6] != ' ') {
                    ++bodyLines;
                    EXPECT_TRUE(all.Out.contains('\n' + line + '\n')) << line.toStdString();
                }
            }
            EXPECT_GE(bodyLines, 3);
            for (const char *otherCommand : commands) {
                if (QByteArray(otherCommand) != command) {
                    EXPECT_FALSE(run.Out.contains("  dnt " + QByteArray(otherCommand) + " ")) << otherCommand;
                }
            }
            checkLines(run.Out);
        }
    }
    // Every synopsis of the full help is in the help of its command.
    EXPECT_TRUE(Dnt({QStringLiteral("set"), QStringLiteral("--help")}).Out.contains("  dnt set PATH -\n"));
    EXPECT_EQ(Dnt({QStringLiteral("export"), QStringLiteral("--help")}).Out.count("  dnt export "), 2);

    const TDntRun version = Dnt({QStringLiteral("--version")});
    EXPECT_EQ(version.Code, 0);
    EXPECT_TRUE(version.Out.startsWith("dnt (DirNote) "));
    const TDntRun shortVersion = Dnt({QStringLiteral("-V")});
    EXPECT_EQ(shortVersion.Code, 0);
    EXPECT_EQ(shortVersion.Out, version.Out);
    EXPECT_EQ(Dnt({QStringLiteral("help"), QStringLiteral("frobnicate")}).Code, 2);
}

TEST(DntSet, WritesReadsAndRemovesThroughTheNameRuleWithoutPruning)
{
    TTempDir dir;
    dir.WriteFile("readme.txt", "x");
    dir.WriteFile("notes.txt", "x");
    dir.MakeDir("sub");
    // A key written on Windows in other letter case, and a stale key that only a listing of the
    // window may prune.
    dir.WriteFile("Folder.dnt", "[Folders]\r\n[Files]\r\nREADME.TXT=old\r\nghost.txt=stale\r\n");
    const QByteArray desc = dir.FilePath("Folder.dnt");

    TDntRun run = Dnt({QStringLiteral("get"), Arg(dir.FilePath("readme.txt"))});
    EXPECT_EQ(run.Code, 0);
    EXPECT_EQ(run.Out, "old\n");
    EXPECT_EQ(Dnt({QStringLiteral("ls"), Arg(dir.Path())}).Code, 0);
    EXPECT_EQ(ReadFileBytes(desc), "[Folders]\r\n[Files]\r\nREADME.TXT=old\r\nghost.txt=stale\r\n");

    // The key that describes the file is replaced where it stands; nothing is added or pruned.
    EXPECT_EQ(Dnt({QStringLiteral("set"), Arg(dir.FilePath("readme.txt")), QStringLiteral("Read me first")}).Code, 0);
    EXPECT_EQ(ReadFileBytes(desc), "[Folders]\r\n[Files]\r\nREADME.TXT=Read me first\r\nghost.txt=stale\r\n");
    // Standard input; a final line break is no part of the text. Folders by either spelling.
    EXPECT_EQ(
        Dnt({QStringLiteral("set"), Arg(dir.FilePath("notes.txt")), QStringLiteral("-")}, "Ünïcode notes\r\n").Code, 0);
    EXPECT_EQ(Dnt({QStringLiteral("set"), Arg(dir.FilePath("sub/")), QStringLiteral("-- a sub folder")}).Code, 0);
    run = Dnt({QStringLiteral("get"), QStringLiteral("readme.txt"), QStringLiteral("notes.txt"), QStringLiteral("sub"),
               QStringLiteral("nothing.txt")},
              {}, dir.Path());
    EXPECT_EQ(run.Code, 1); // one path named nothing; the others are still answered
    EXPECT_EQ(run.Out, "readme.txt: Read me first\nnotes.txt: Ünïcode notes\nsub: -- a sub folder\n");
    EXPECT_TRUE(run.Err.contains("nothing.txt")) << run.Err.toStdString();
    // "." is the folder itself, described in the folder above it.
    run = Dnt({QStringLiteral("get"), QStringLiteral(".")}, {}, dir.FilePath("sub"));
    EXPECT_EQ(run.Out, "-- a sub folder\n");

    // An empty text removes the description, also a second key that would then describe it.
    dir.WriteFile("Folder.dnt", "[Files]\r\nreadme.txt=one\r\nReadMe.TXT=two\r\nghost.txt=stale\r\n");
    EXPECT_EQ(Dnt({QStringLiteral("set"), Arg(dir.FilePath("readme.txt")), QString()}).Code, 0);
    EXPECT_EQ(ReadFileBytes(desc), "[Files]\r\nghost.txt=stale\r\n");
    EXPECT_EQ(Dnt({QStringLiteral("get"), Arg(dir.FilePath("readme.txt"))}).Out, "\n");

    // Names differing only in letter case: removing one's description leaves the other's.
    dir.WriteFile("Case.txt", "x");
    dir.WriteFile("case.txt", "x");
    dir.WriteFile("Folder.dnt", "[Files]\r\nCase.txt=upper\r\ncase.txt=lower\r\n");
    EXPECT_EQ(Dnt({QStringLiteral("set"), Arg(dir.FilePath("case.txt")), QString()}).Code, 0);
    EXPECT_EQ(ReadFileBytes(desc), "[Files]\r\nCase.txt=upper\r\n");
}

TEST(DntSet, ReadingCreatesNothingAndTheFirstWriteCreatesTheWindowsFile)
{
    TTempDir dir;
    dir.WriteFile("a.txt", "x");
    const QByteArray desc = dir.FilePath("Folder.dnt");
    EXPECT_EQ(Dnt({QStringLiteral("get"), Arg(dir.FilePath("a.txt"))}).Code, 0);
    EXPECT_EQ(Dnt({QStringLiteral("ls"), Arg(dir.Path())}).Code, 0);
    EXPECT_EQ(Dnt({QStringLiteral("export"), Arg(dir.Path()), QStringLiteral("--format"), QStringLiteral("json")}).Code,
              0);
    EXPECT_FALSE(Exists(desc));
    EXPECT_EQ(Dnt({QStringLiteral("set"), Arg(dir.FilePath("a.txt")), QStringLiteral("first")}).Code, 0);
    const QByteArray bytes = ReadFileBytes(desc);
    QByteArray expected = DefaultDescriptionContent();
    expected.replace("[Files]\r\n", "[Files]\r\na.txt=first\r\n");
    EXPECT_EQ(bytes, expected);
}

namespace {
// Columns a test expects a terminal to give: the CJK ideographs of the test take two.
int ExpectedWidth(const QString &text)
{
    int width = 0;
    for (const QChar c : text)
        width += c.unicode() >= 0x3000 && c.unicode() <= 0x9FFF ? 2 : 1;
    return width;
}
} // namespace

TEST(DntLs, SortsAsTheWindowAlignsWideNamesAndGivesJson)
{
    TTempDir dir;
    for (const char *name : {"file10", "file2", "\xC3\x84pfel.txt", "zeta", "\xE6\x97\xA5\xE6\x9C\xAC.txt", "b.txt"})
        dir.WriteFile(name, "x");
    dir.MakeDir("Beta");
    dir.MakeDir("alpha");
    const QByteArray stored = "[Folders]\r\nBeta=Second folder\r\n[Files]\r\nfile2=two\r\n"
                              "\xE6\x97\xA5\xE6\x9C\xAC.txt=Japanese\r\n\xC3\x84pfel.txt=apples\r\nold.txt=stale\r\n";
    dir.WriteFile("Folder.dnt", stored);

    const TDntRun run = Dnt({QStringLiteral("ls"), Arg(dir.Path())});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    // The window's order, folders first; its listing is the reference.
    const TFolderCatalogue window = ListAndPruneFolder(dir.Path(), {.Stale = TStaleKeys::Keep});
    QStringList expectedNames;
    for (const TCatalogueEntry &e : window.Folders)
        expectedNames.append(QString::fromUtf8(e.Name) + u'/');
    for (const TCatalogueEntry &e : window.Files)
        expectedNames.append(QString::fromUtf8(e.Name));
    QStringList lines = QString::fromUtf8(run.Out).split(u'\n');
    ASSERT_EQ(lines.takeLast(), QString());
    ASSERT_EQ(lines.size(), expectedNames.size());
    std::set<int> columns;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i].toStdString());
        EXPECT_TRUE(lines[i].startsWith(expectedNames[i]));
        const QString rest = lines[i].mid(expectedNames[i].size());
        if (rest.isEmpty())
            continue;
        const QString text = rest.trimmed();
        columns.insert(ExpectedWidth(expectedNames[i]) + int(rest.size() - text.size()));
    }
    EXPECT_EQ(columns.size(), 1u) << "descriptions do not start in one column";

    const TDntRun undescribed = Dnt({QStringLiteral("ls"), Arg(dir.Path()), QStringLiteral("--undescribed")});
    EXPECT_EQ(undescribed.Out, "alpha/\nb.txt\nfile10\nzeta\n");

    const TDntRun json = Dnt({QStringLiteral("ls"), QStringLiteral("--json")}, {}, dir.Path());
    const QJsonArray list = QJsonDocument::fromJson(json.Out).array();
    ASSERT_EQ(list.size(), expectedNames.size());
    EXPECT_EQ(list[0].toObject(), (QJsonObject{{QStringLiteral("name"), QStringLiteral("alpha")},
                                               {QStringLiteral("type"), QStringLiteral("folder")},
                                               {QStringLiteral("description"), QString()}}));
    EXPECT_EQ(list[1].toObject()[QStringLiteral("description")].toString(), QStringLiteral("Second folder"));
    EXPECT_EQ(list[2].toObject()[QStringLiteral("name")].toString(), QStringLiteral("\u00C4pfel.txt"));
    EXPECT_EQ(list[2].toObject()[QStringLiteral("type")].toString(), QStringLiteral("file"));
    EXPECT_EQ(list[2].toObject()[QStringLiteral("description")].toString(), QStringLiteral("apples"));
    // Listing prunes nothing: the stale key is still there.
    EXPECT_EQ(ReadFileBytes(dir.FilePath("Folder.dnt")), stored);

    const TDntRun missing = Dnt({QStringLiteral("ls"), Arg(dir.FilePath("nowhere"))});
    EXPECT_EQ(missing.Code, 1);
    EXPECT_TRUE(missing.Err.contains(dir.FilePath("nowhere"))) << missing.Err.toStdString();
}

TEST(DntFind, FindsWhatDntWroteInTheIndexAndLimitsItToAFolderTree)
{
    TTempDir dir;
    dir.MakeDir("fruit");
    dir.MakeDir("tools");
    dir.WriteFile("fruit/apple.txt", "x");
    dir.WriteFile("fruit/pear.txt", "x");
    dir.WriteFile("tools/saw.txt", "x");
    for (const auto &[path, text] : {std::pair{"fruit/apple.txt", "Red apples from the orchard"},
                                     {"fruit/pear.txt", "Pears, not apples"},
                                     {"tools/saw.txt", "A saw for apple trees"}})
        ASSERT_EQ(Dnt({QStringLiteral("set"), Arg(dir.FilePath(path)), QString::fromUtf8(text)}).Code, 0);
    const QByteArray real = QFile::encodeName(QFileInfo(Arg(dir.Path())).canonicalFilePath());

    TDntRun run = Dnt({QStringLiteral("find"), QStringLiteral("APPLE")});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    QList<QByteArray> lines = run.Out.split('\n');
    lines.removeAll(QByteArray());
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (QList<QByteArray>{real + "/fruit/apple.txt: Red apples from the orchard",
                                        real + "/fruit/pear.txt: Pears, not apples",
                                        real + "/tools/saw.txt: A saw for apple trees"}));

    run = Dnt({QStringLiteral("find"), QStringLiteral("apple"), QStringLiteral("--below"), QStringLiteral("tools")}, {},
              dir.Path());
    EXPECT_EQ(run.Out, real + "/tools/saw.txt: A saw for apple trees\n");

    // A removed description is no longer found.
    ASSERT_EQ(Dnt({QStringLiteral("set"), Arg(dir.FilePath("tools/saw.txt")), QString()}).Code, 0);
    run = Dnt({QStringLiteral("find"), QStringLiteral("trees")});
    EXPECT_EQ(run.Code, 0);
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(Dnt({QStringLiteral("find")}).Code, 2);
}
