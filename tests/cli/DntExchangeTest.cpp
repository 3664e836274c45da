// SPDX-License-Identifier: GPL-3.0-or-later
// dnt import and export, run as real processes: descript.ion, the comment attribute, CSV,
// Markdown and JSON.

#include "DntRun.h"

#include "catalogue/FolderCatalogue.h"
#include "exchange/Xattr.h"

#include "TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QFileInfo>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <iostream>
#include <map>

#include <sys/xattr.h>

using namespace TestSupport;

namespace {
// The descriptions of a folder as the window lists them, by name.
std::map<QByteArray, QByteArray> Descriptions(const QByteArray &folder)
{
    std::map<QByteArray, QByteArray> result;
    const TFolderCatalogue catalogue = ListAndPruneFolder(folder, {.Stale = TStaleKeys::Keep});
    for (const auto *entries : {&catalogue.Folders, &catalogue.Files})
        for (const TCatalogueEntry &entry : *entries)
            if (!entry.Description.isEmpty())
                result[entry.Name] = entry.Description;
    return result;
}

// One descript.ion, its bytes written out by hand for each encoding.
struct TDescriptIonCase {
    const char *Label;
    QByteArray Bom;
    QByteArray UUmlaut, AUmlaut; // "ü" and "ä" in the file's encoding
    QStringList Extra;           // arguments that choose the encoding
    QByteArray Says;             // how dnt says it read the file
};

QByteArray DescriptIonBytes(const TDescriptIonCase &c)
{
    return c.Bom + "README.TXT Read me first\r\n" + "\"my notes.txt\" Notes with spaces\r\n" + "B" + c.UUmlaut
           + "cher  Folder of books  \r\n"
           // A multi-line entry: "\n" for a line break, "\\" for a backslash, then Ctrl-D and 0xC2.
           + "long.txt First line\\nSecond " + c.AUmlaut
           + " line\\\\path\\n\x04\xC2\r\n"
           // Another program's data after a Ctrl-D is no part of the text.
           + "other.txt Text\x04Zprogram data\r\n" + "kept.txt From descript.ion\r\n"
           + "ghost.txt Nobody has this name\n" + "lonely.txt\r\n";
}

class DntImportDescriptIon : public ::testing::TestWithParam<TDescriptIonCase> {};
} // namespace

TEST_P(DntImportDescriptIon, QuotedNamesMultiLineEntriesAndExistingDescriptionsKept)
{
    const TDescriptIonCase &c = GetParam();
    TTempDir dir;
    for (const char *name : {"readme.txt", "my notes.txt", "long.txt", "other.txt", "kept.txt", "lonely.txt"})
        dir.WriteFile(name, "x");
    dir.MakeDir("B\xC3\xBC"
                "cher");
    dir.WriteFile("descript.ion", DescriptIonBytes(c));
    const QByteArray stored = "[Files]\r\nkept.txt=Mine\r\n";
    dir.WriteFile("Folder.dnt", stored);
    QStringList args{QStringLiteral("import"), Arg(dir.Path()), QStringLiteral("--from"),
                     QStringLiteral("descript.ion")};
    args += c.Extra;

    // A dry run says what it would do and writes nothing.
    TDntRun run = Dnt(args + QStringList{QStringLiteral("--dry-run")});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_TRUE(run.Out.startsWith("reading " + dir.Path() + "/descript.ion as " + c.Says + "\n"))
        << run.Out.toStdString();
    EXPECT_TRUE(run.Out.contains("would set " + dir.Path() + "/long.txt: First line / Second \xC3\xA4 line\\path\n"))
        << run.Out.toStdString();
    EXPECT_TRUE(run.Out.contains("no entry " + dir.Path() + "/ghost.txt\n")) << run.Out.toStdString();
    EXPECT_TRUE(run.Out.contains("kept " + dir.Path() + "/kept.txt")) << run.Out.toStdString();
    EXPECT_EQ(ReadFileBytes(dir.FilePath("Folder.dnt")), stored);

    run = Dnt(args);
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    const std::map<QByteArray, QByteArray> expected{
        {"readme.txt", "Read me first"},
        {"my notes.txt", "Notes with spaces"},
        {"B\xC3\xBC"
         "cher",
         "Folder of books"},
        {"long.txt", "First line / Second \xC3\xA4 line\\path"},
        {"other.txt", "Text"},
        {"kept.txt", "Mine"},
    };
    EXPECT_EQ(Descriptions(dir.Path()), expected);

    // --overwrite replaces what the folder had.
    EXPECT_EQ(Dnt(args + QStringList{QStringLiteral("--overwrite")}).Code, 0);
    EXPECT_EQ(Descriptions(dir.Path())["kept.txt"], "From descript.ion");
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, DntImportDescriptIon,
    // The names tell the encoding; --encoding still chooses one.
    ::testing::Values(
        TDescriptIonCase{"Utf8", {}, "\xC3\xBC", "\xC3\xA4", {}, "UTF-8 (its names match the folder's entries)"},
        TDescriptIonCase{"Utf8WithBom", "\xEF\xBB\xBF", "\xC3\xBC", "\xC3\xA4", {}, "UTF-8 (a byte-order mark)"},
        TDescriptIonCase{"Cp850", {}, "\x81", "\x84", {}, "CP850 (its names match the folder's entries)"},
        TDescriptIonCase{"Cp1252", {}, "\xFC", "\xE4", {}, "CP1252 (its names match the folder's entries)"},
        TDescriptIonCase{"Cp1252Asked",
                         {},
                         "\xFC",
                         "\xE4",
                         {QStringLiteral("--encoding"), QStringLiteral("cp1252")},
                         "CP1252 (as asked)"}),
    [](const ::testing::TestParamInfo<TDescriptIonCase> &test) { return std::string(test.param.Label); });

TEST(DntImport, WhereTheNamesDoNotDecideUtf8AndThenTheDosCodePageAreTaken)
{
    // ASCII names match alike in every encoding: valid UTF-8 stays UTF-8, other bytes are DOS text.
    struct TCase {
        QByteArray Text, Says, Stored;
    };
    const TCase cases[] = {
        {"caf\xC3\xA9", "UTF-8 (the names do not decide)", "caf\xC3\xA9"},
        {"caf\x82", "CP850 (the names do not decide)", "caf\xC3\xA9"},
        {"caf\xE9", "CP850 (the names do not decide)", "caf\xC3\x9A"}, // 0xE9 is "Ú" in CP850
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Says.toStdString());
        TTempDir dir;
        dir.WriteFile("menu.txt", "x");
        dir.WriteFile("descript.ion", "menu.txt " + c.Text + "\r\n");
        const TDntRun run = Dnt({QStringLiteral("import"), Arg(dir.Path()), QStringLiteral("--from=descript.ion")});
        EXPECT_EQ(run.Code, 0) << run.Err.toStdString();
        EXPECT_TRUE(run.Out.contains(" as " + c.Says + "\n")) << run.Out.toStdString();
        EXPECT_EQ(Descriptions(dir.Path()), (std::map<QByteArray, QByteArray>{{"menu.txt", c.Stored}}));
    }
}

TEST(DntImport, ADescriptIonThatNamesNoEntryIsAnErrorAndWritesNothing)
{
    // Read as the wrong code page no name matches: "Größe.txt" in CP1252 asked to be read as CP850,
    // and a file whose names are of another folder altogether.
    struct TCase {
        const char *Label;
        QByteArray Line;
        QStringList Extra;
    };
    const TCase cases[] = {
        {"wrong code page",
         "Gr\xF6\xDF"
         "e.txt Size table\r\n",
         {QStringLiteral("--encoding"), QStringLiteral("cp850")}},
        {"other names", "elsewhere.txt Not here\r\nnor.txt this\r\n", {}},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Label);
        TTempDir dir;
        dir.WriteFile("Gr\xC3\xB6\xC3\x9F"
                      "e.txt",
                      "x");
        dir.WriteFile("descript.ion", c.Line);
        for (const bool dryRun : {true, false}) {
            QStringList args{QStringLiteral("import"), Arg(dir.Path()), QStringLiteral("--from=descript.ion")};
            args += c.Extra;
            if (dryRun)
                args += QStringLiteral("--dry-run");
            const TDntRun run = Dnt(args);
            EXPECT_EQ(run.Code, 1) << (run.Out + run.Err).toStdString();
            EXPECT_TRUE(run.Err.contains("dnt: " + dir.Path() + "/descript.ion: none of its")) << run.Err.toStdString();
            EXPECT_TRUE(run.Out.contains("no entry " + dir.Path() + "/")) << run.Out.toStdString();
            EXPECT_FALSE(QFileInfo::exists(QString::fromUtf8(dir.FilePath("Folder.dnt"))));
        }
    }
    // Without --encoding the names choose CP1252, and the description is imported.
    TTempDir dir;
    dir.WriteFile("Gr\xC3\xB6\xC3\x9F"
                  "e.txt",
                  "x");
    dir.WriteFile("descript.ion", "Gr\xF6\xDF"
                                  "e.txt Size table\r\n");
    const TDntRun run = Dnt({QStringLiteral("import"), Arg(dir.Path()), QStringLiteral("--from=descript.ion")});
    EXPECT_EQ(run.Code, 0) << (run.Out + run.Err).toStdString();
    EXPECT_EQ(Descriptions(dir.Path()), (std::map<QByteArray, QByteArray>{{"Gr\xC3\xB6\xC3\x9F"
                                                                           "e.txt",
                                                                           "Size table"}}));
}

TEST(DntImport, RecursiveImportReachesSubfoldersButNoLinkedFolder)
{
    TTempDir dir;
    dir.MakeDir("a");
    dir.MakeDir("a/b");
    dir.WriteFile("a/b/deep.txt", "x");
    dir.WriteFile("a/b/DESCRIPT.ION", "deep.txt Deep down\r\n");
    dir.MakeDir("elsewhere");
    dir.WriteFile("elsewhere/far.txt", "x");
    dir.WriteFile("elsewhere/descript.ion", "far.txt Far away\r\n");
    ASSERT_EQ(::symlink("../elsewhere", dir.FilePath("a/link").constData()), 0);
    const TDntRun run = Dnt({QStringLiteral("import"), Arg(dir.FilePath("a")), QStringLiteral("--recursive"),
                             QStringLiteral("--from=descript.ion")});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_EQ(Descriptions(dir.FilePath("a/b"))["deep.txt"], "Deep down");
    EXPECT_TRUE(Descriptions(dir.FilePath("elsewhere")).empty());
}

TEST(DntXattr, ExportToTheCommentAttributeAndImportBack)
{
    TTempDir own;
    std::optional<QTemporaryDir> other;
    const QByteArray root = FolderWithUserXattrs(own, other);
    if (root.isEmpty())
        GTEST_SKIP() << "no folder here keeps user extended attributes";
    WriteFileBytes(root + "/plain.txt", "x");
    WriteFileBytes(root + "/\xC3\xBCmlaut.txt", "x");
    ASSERT_EQ(::mkdir((root + "/sub").constData(), 0755), 0);
    WriteFileBytes(root + "/sub/inner.txt", "x");
    // An old Windows-1252 value goes out as UTF-8.
    WriteFileBytes(root + "/Folder.dnt", "[Folders]\r\nsub=A folder\r\n[Files]\r\nplain.txt=Plain, \"quoted\"\r\n"
                                         "\xC3\xBCmlaut.txt=caf\xE9\r\n");
    WriteFileBytes(root + "/sub/Folder.dnt", "[Files]\r\ninner.txt=Inside\r\n");

    TDntRun run = Dnt({QStringLiteral("export"), Arg(root), QStringLiteral("--recursive"), QStringLiteral("--to"),
                       QStringLiteral("xattr")});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_EQ(run.Out, "4 comments written\n");
    EXPECT_EQ(ReadComment(root + "/\xC3\xBCmlaut.txt"), QByteArray("caf\xC3\xA9"));
    EXPECT_EQ(ReadComment(root + "/sub"), QByteArray("A folder"));
    // A comment of several lines, as a file manager may write it, arrives on one line.
    ASSERT_EQ(WriteComment(root + "/sub/inner.txt", "Inside\nand more"), 0);

    ::unlink((root + "/Folder.dnt").constData());
    ::unlink((root + "/sub/Folder.dnt").constData());
    run = Dnt({QStringLiteral("import"), Arg(root), QStringLiteral("--recursive"), QStringLiteral("--from"),
               QStringLiteral("xattr")});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_EQ(Descriptions(root),
              (std::map<QByteArray, QByteArray>{
                  {"sub", "A folder"}, {"plain.txt", "Plain, \"quoted\""}, {"\xC3\xBCmlaut.txt", "caf\xC3\xA9"}}));
    EXPECT_EQ(Descriptions(root + "/sub"), (std::map<QByteArray, QByteArray>{{"inner.txt", "Inside / and more"}}));
}

TEST(DntExport, CsvReadsBackThroughPythonsCsvModule)
{
    TTempDir dir;
    dir.WriteFile("a,b.txt", "x");
    dir.WriteFile("quote.txt", "x");
    dir.MakeDir("sub");
    dir.WriteFile("sub/\xC3\xA9t\xC3\xA9.txt", "x");
    dir.WriteFile("Folder.dnt", "[ThisFolder]\r\nText0=First line, with a comma\r\nText1=Second \"line\"\r\n"
                                "[Folders]\r\nsub=Sub folder\r\n[Files]\r\na,b.txt=Comma, name\r\n"
                                "quote.txt=\"Hi\" he said\r\n");
    dir.WriteFile("sub/Folder.dnt", "[Files]\r\n\xC3\xA9t\xC3\xA9.txt=\xC3\xA9t\xC3\xA9 summer\r\n");
    const TDntRun run = Dnt(
        {QStringLiteral("export"), QStringLiteral("--recursive"), QStringLiteral("--format"), QStringLiteral("csv")},
        {}, dir.Path());
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    const QByteArray csvPath = dir.WriteFile("out.csv", run.Out);

    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import csv, json, sys\n"
                                 "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
                                 "    print(json.dumps(list(csv.reader(f, strict=True))))\n"),
                  Arg(csvPath)});
    ASSERT_TRUE(python.waitForFinished(30000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    const QJsonArray rows = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
    const QList<QStringList> expected{
        {QStringLiteral("Folder"), QStringLiteral("Name"), QStringLiteral("Type"), QStringLiteral("Description")},
        {QStringLiteral("./"), QString(), QStringLiteral("folder text"),
         QStringLiteral("First line, with a comma\nSecond \"line\"")},
        {QStringLiteral("./"), QStringLiteral("sub"), QStringLiteral("folder"), QStringLiteral("Sub folder")},
        {QStringLiteral("./"), QStringLiteral("a,b.txt"), QStringLiteral("file"), QStringLiteral("Comma, name")},
        {QStringLiteral("./"), QStringLiteral("quote.txt"), QStringLiteral("file"), QStringLiteral("\"Hi\" he said")},
        {QStringLiteral("./sub/"), QStringLiteral("\u00E9t\u00E9.txt"), QStringLiteral("file"),
         QStringLiteral("\u00E9t\u00E9 summer")},
    };
    ASSERT_EQ(rows.size(), expected.size()) << run.Out.toStdString();
    for (qsizetype i = 0; i < rows.size(); ++i) {
        QStringList row;
        for (const QJsonValue &cell : rows[i].toArray())
            row.append(cell.toString());
        EXPECT_EQ(row, expected[i]) << "row " << i;
    }
}

TEST(DntExport, MarkdownAndJsonCarryTheFolderTextAndEscapeWhatTheyMust)
{
    TTempDir dir;
    dir.WriteFile("a|b.txt", "x");
    dir.WriteFile("star*.txt", "x");
    dir.WriteFile("Folder.dnt", "[ThisFolder]\r\nText0=About this folder\r\nText1=Second line\r\n"
                                "[Files]\r\na|b.txt=pipe | inside\r\nstar*.txt=*bold*\r\n");
    TDntRun run = Dnt({QStringLiteral("export"), Arg(dir.Path()), QStringLiteral("--format"), QStringLiteral("md")});
    ASSERT_EQ(run.Code, 0);
    EXPECT_TRUE(run.Out.contains("About this folder\\\nSecond line\n")) << run.Out.toStdString();
    EXPECT_TRUE(run.Out.contains("| a\\|b.txt | file | pipe \\| inside |\n")) << run.Out.toStdString();
    EXPECT_TRUE(run.Out.contains("| star\\*.txt | file | \\*bold\\* |\n")) << run.Out.toStdString();

    run = Dnt({QStringLiteral("export"), Arg(dir.Path()), QStringLiteral("--format"), QStringLiteral("json")});
    ASSERT_EQ(run.Code, 0);
    const QJsonArray folders = QJsonDocument::fromJson(run.Out).object()[QStringLiteral("folders")].toArray();
    ASSERT_EQ(folders.size(), 1);
    const QJsonObject folder = folders[0].toObject();
    EXPECT_EQ(folder[QStringLiteral("text")].toArray(),
              (QJsonArray{QStringLiteral("About this folder"), QStringLiteral("Second line")}));
    ASSERT_EQ(folder[QStringLiteral("entries")].toArray().size(), 2);
    EXPECT_EQ(folder[QStringLiteral("entries")].toArray()[0].toObject()[QStringLiteral("description")].toString(),
              QStringLiteral("pipe | inside"));
}

TEST(DntImport, Cp850HighBytesAreTheLettersOfEntriesNamedInUtf8)
{
    TTempDir dir;
    // Ç (0x80, the first byte of the upper half), ç (0x87), ñ (0xA4), ß (0xE1), ÿ (0x98), ² (0xFD).
    dir.WriteFile("\xC3\x87"
                  "a va.txt",
                  "x");
    dir.WriteFile("fa\xC3\xA7"
                  "ade.txt",
                  "x");
    dir.WriteFile("Stra\xC3\x9F"
                  "e",
                  "x");
    dir.WriteFile("descript.ion", "\"\x80"
                                  "a va.txt\" \x80"
                                  "a commence\r\n"
                                  "fa\x87"
                                  "ade.txt Ma\xA4"
                                  "ana \xFD\r\n"
                                  "Stra\xE1"
                                  "e Gro\xE1 und \x98\r\n");
    const TDntRun run = Dnt({QStringLiteral("import"), Arg(dir.Path()), QStringLiteral("--from=descript.ion")});
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_FALSE(run.Out.contains("no entry")) << run.Out.toStdString();
    EXPECT_EQ(Descriptions(dir.Path()), (std::map<QByteArray, QByteArray>{
                                            {"\xC3\x87"
                                             "a va.txt",
                                             "\xC3\x87"
                                             "a commence"},
                                            {"fa\xC3\xA7"
                                             "ade.txt",
                                             "Ma\xC3\xB1"
                                             "ana \xC2\xB2"},
                                            {"Stra\xC3\x9F"
                                             "e",
                                             "Gro\xC3\x9F und \xC3\xBF"},
                                        }));
}

TEST(DntXattr, ImportFromAFolderWhereSomeEntriesHaveNoComment)
{
    TTempDir own;
    std::optional<QTemporaryDir> other;
    const QByteArray root = FolderWithUserXattrs(own, other);
    if (root.isEmpty())
        GTEST_SKIP() << "no folder here keeps user extended attributes";
    for (const char *name : {"/commented.txt", "/bare.txt", "/also bare.txt"})
        WriteFileBytes(root + name, "x");
    ASSERT_EQ(::mkdir((root + "/bare folder").constData(), 0755), 0);
    ASSERT_EQ(WriteComment(root + "/commented.txt", "From the file manager"), 0);

    const TDntRun run = Dnt({QStringLiteral("import"), Arg(root), QStringLiteral("--from"), QStringLiteral("xattr")});
    EXPECT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_EQ(run.Err, "");
    EXPECT_EQ(Descriptions(root), (std::map<QByteArray, QByteArray>{{"commented.txt", "From the file manager"}}));
}

TEST(DntImport, ATextLongerThanADescriptionHoldsIsRefusedFromEverySourceAndTheRestImported)
{
    TTempDir own;
    std::optional<QTemporaryDir> other;
    const QByteArray xattrRoot = FolderWithUserXattrs(own, other);
    const QByteArray tooLong = QByteArray(2045, 'a') + "\xC3\xA9!"; // 2048 bytes
    const QByteArray longest = QByteArray(2045, 'b') + "\xC3\xA9";  // 2047 bytes
    for (const char *source : {"descript.ion", "xattr"}) {
        SCOPED_TRACE(source);
        QByteArray root;
        TTempDir dir;
        if (QByteArray(source) == "xattr") {
            if (xattrRoot.isEmpty()) {
                std::cout << "no folder here keeps user extended attributes: the attribute case is left out\n";
                continue;
            }
            root = xattrRoot;
        } else {
            root = dir.Path();
        }
        for (const char *name : {"/long.txt", "/longest.txt", "/short.txt"})
            WriteFileBytes(root + name, "x");
        if (QByteArray(source) == "xattr") {
            ASSERT_EQ(WriteComment(root + "/long.txt", tooLong), 0);
            ASSERT_EQ(WriteComment(root + "/longest.txt", longest), 0);
            ASSERT_EQ(WriteComment(root + "/short.txt", "Short"), 0);
        } else {
            WriteFileBytes(root + "/descript.ion",
                           "long.txt " + tooLong + "\r\nlongest.txt " + longest + "\r\nshort.txt Short\r\n");
        }
        const TDntRun run = Dnt({QStringLiteral("import"), Arg(root), QStringLiteral("--from"), Arg(source)});
        EXPECT_EQ(run.Code, 1) << (run.Out + run.Err).toStdString();
        EXPECT_TRUE(run.Err.contains("dnt: " + root + "/long.txt: ")) << run.Err.toStdString();
        EXPECT_TRUE(run.Err.contains("2047")) << run.Err.toStdString();
        EXPECT_EQ(Descriptions(root),
                  (std::map<QByteArray, QByteArray>{{"longest.txt", longest}, {"short.txt", "Short"}}));
        EXPECT_FALSE(ReadFileBytes(root + "/Folder.dnt").contains(tooLong.left(2045)));
    }
}

namespace {
QStringList ExportToXattr(const QByteArray &root)
{
    return {QStringLiteral("export"), Arg(root), QStringLiteral("--recursive"), QStringLiteral("--to"),
            QStringLiteral("xattr")};
}
} // namespace

TEST(DntXattr, AnExportRemovesTheCommentsOfRemovedDescriptionsButNoOtherProgramsComment)
{
    TTempDir own;
    std::optional<QTemporaryDir> other;
    const QByteArray root = FolderWithUserXattrs(own, other);
    if (root.isEmpty())
        GTEST_SKIP() << "no folder here keeps user extended attributes";
    for (const char *name : {"/gone.txt", "/stays.txt", "/edited.txt", "/foreign.txt", "/replaced.txt"})
        WriteFileBytes(root + name, "x");
    ASSERT_EQ(::mkdir((root + "/sub").constData(), 0755), 0);
    WriteFileBytes(root + "/sub/last.txt", "x");
    auto set = [&](const char *name, const char *text) {
        ASSERT_EQ(Dnt({QStringLiteral("set"), Arg(root + name), QString::fromUtf8(text)}).Code, 0);
    };
    set("/gone.txt", "Gone soon");
    set("/stays.txt", "Stays");
    set("/edited.txt", "Edited elsewhere");
    set("/sub", "A folder");
    set("/sub/last.txt", "The folder's only description");
    set("/replaced.txt", "Same text");
    ASSERT_EQ(WriteComment(root + "/foreign.txt", "Written by another program"), 0);
    TDntRun run = Dnt(ExportToXattr(root));
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_EQ(run.Out, "6 comments written\n");

    // Another program changes one comment, and puts a new file with the same comment in the
    // place of another; then descriptions are removed.
    ASSERT_EQ(WriteComment(root + "/edited.txt", "Changed by the file manager"), 0);
    WriteFileBytes(root + "/new.tmp", "y");
    ASSERT_EQ(WriteComment(root + "/new.tmp", "Same text"), 0);
    ASSERT_EQ(::rename((root + "/new.tmp").constData(), (root + "/replaced.txt").constData()), 0);
    for (const char *name : {"/gone.txt", "/edited.txt", "/sub", "/sub/last.txt", "/replaced.txt"})
        set(name, "");
    run = Dnt(ExportToXattr(root));
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_EQ(run.Out, "1 comment written\n3 comments removed (their descriptions are gone)\n");
    for (const char *name : {"/gone.txt", "/sub", "/sub/last.txt"})
        EXPECT_EQ(ReadComment(root + name), std::nullopt) << name;
    EXPECT_EQ(ReadComment(root + "/stays.txt"), QByteArray("Stays"));
    EXPECT_EQ(ReadComment(root + "/edited.txt"), QByteArray("Changed by the file manager"));
    EXPECT_EQ(ReadComment(root + "/foreign.txt"), QByteArray("Written by another program"));
    EXPECT_EQ(ReadComment(root + "/replaced.txt"), QByteArray("Same text"));

    // So an import from the attributes brings back no removed description.
    ::unlink((root + "/Folder.dnt").constData());
    ::unlink((root + "/sub/Folder.dnt").constData());
    ASSERT_EQ(Dnt({QStringLiteral("import"), Arg(root), QStringLiteral("--recursive"), QStringLiteral("--from"),
                   QStringLiteral("xattr")})
                  .Code,
              0);
    EXPECT_EQ(Descriptions(root), (std::map<QByteArray, QByteArray>{{"stays.txt", "Stays"},
                                                                    {"edited.txt", "Changed by the file manager"},
                                                                    {"foreign.txt", "Written by another program"},
                                                                    {"replaced.txt", "Same text"}}));
    EXPECT_TRUE(Descriptions(root + "/sub").empty());
}

TEST(DntXattr, WithoutTheIndexNothingIsRemovedAndDntSaysSo)
{
    TTempDir own;
    std::optional<QTemporaryDir> other;
    const QByteArray root = FolderWithUserXattrs(own, other);
    if (root.isEmpty())
        GTEST_SKIP() << "no folder here keeps user extended attributes";
    WriteFileBytes(root + "/a.txt", "x");
    ASSERT_EQ(Dnt({QStringLiteral("set"), Arg(root + "/a.txt"), QStringLiteral("Text")}).Code, 0);
    ASSERT_EQ(Dnt(ExportToXattr(root)).Code, 0);
    ASSERT_EQ(Dnt({QStringLiteral("set"), Arg(root + "/a.txt"), QString()}).Code, 0);

    const TDntRun run = DntWithEnvironment(ExportToXattr(root), QStringLiteral("DIRNOTE_NO_INDEX"),
                                           QStringLiteral("1"));
    EXPECT_EQ(run.Code, 0);
    EXPECT_EQ(run.Out, "0 comments written\n");
    EXPECT_TRUE(run.Err.contains("DIRNOTE_NO_INDEX=1")) << run.Err.toStdString();
    EXPECT_EQ(ReadComment(root + "/a.txt"), QByteArray("Text"));
    // Nor is there an index to search.
    const TDntRun find = DntWithEnvironment({QStringLiteral("find"), QStringLiteral("Text")},
                                            QStringLiteral("DIRNOTE_NO_INDEX"), QStringLiteral("1"));
    EXPECT_EQ(find.Code, 1);
    EXPECT_TRUE(find.Err.contains("DIRNOTE_NO_INDEX=1")) << find.Err.toStdString();
}

TEST(DntXattr, CommentsStayWhereTheDescriptionsCannotBeRead)
{
    TTempDir own;
    std::optional<QTemporaryDir> other;
    const QByteArray root = FolderWithUserXattrs(own, other);
    if (root.isEmpty())
        GTEST_SKIP() << "no folder here keeps user extended attributes";
    WriteFileBytes(root + "/a.txt", "x");
    ASSERT_EQ(Dnt({QStringLiteral("set"), Arg(root + "/a.txt"), QStringLiteral("Text")}).Code, 0);
    ASSERT_EQ(Dnt(ExportToXattr(root)).Code, 0);
    // Too large to read (sparse): the folder's descriptions are unknown, not gone.
    ASSERT_EQ(::truncate((root + "/Folder.dnt").constData(), 300LL << 20), 0);

    const TDntRun run = Dnt(ExportToXattr(root));
    EXPECT_EQ(run.Code, 1);
    EXPECT_TRUE(run.Err.contains(root + "/Folder.dnt: it is larger than 256 MiB")) << run.Err.toStdString();
    EXPECT_EQ(ReadComment(root + "/a.txt"), QByteArray("Text"));
}

TEST(DntXattr, OnAnotherUsersFilesEachIsNamedAndTheRestIsDone)
{
    if (::geteuid() != 0 || !CanRunAsOtherUser())
        GTEST_SKIP() << "needs root, to give files to another user, and setpriv";
    TTempDir own;
    std::optional<QTemporaryDir> other;
    const QByteArray root = FolderWithUserXattrs(own, other);
    if (root.isEmpty())
        GTEST_SKIP() << "no folder here keeps user extended attributes";
    // The other user (nobody) reaches the folder, owns one file and may not change the rest.
    // Only the test's own folders are opened up.
    for (const QByteArray &path : {own.Path(), root})
        ASSERT_EQ(::chmod(path.constData(), 0755), 0) << path.toStdString();
    for (const char *name : {"/mine.txt", "/theirs 1.txt", "/theirs 2.txt"})
        WriteFileBytes(root + name, "x");
    ASSERT_EQ(::chown((root + "/mine.txt").constData(), 65534, 65534), 0);
    WriteFileBytes(root + "/Folder.dnt", "[Files]\r\nmine.txt=Mine\r\ntheirs 1.txt=First\r\ntheirs 2.txt=Second\r\n");
    if (!OtherUserReads(root + "/Folder.dnt"))
        GTEST_SKIP() << "the other user cannot reach the test's folder " << root.toStdString();

    const TDntRun run = DntAsOtherUser(
        {QStringLiteral("export"), Arg(root), QStringLiteral("--to"), QStringLiteral("xattr")});
    EXPECT_EQ(run.Code, 1);
    EXPECT_EQ(run.Out, "1 comment written\n");
    for (const char *name : {"/theirs 1.txt", "/theirs 2.txt"}) {
        EXPECT_EQ(run.Err.count("Unable to write the comment of " + root + name + ": "), 1) << run.Err.toStdString();
        EXPECT_EQ(ReadComment(root + name), std::nullopt);
    }
    EXPECT_EQ(ReadComment(root + "/mine.txt"), QByteArray("Mine"));
}

TEST(DntXattr, OnAReadOnlyMountEachFileIsNamedAndARemovalIsTriedAgainLater)
{
    TTempDir own;
    std::optional<QTemporaryDir> other;
    const QByteArray root = FolderWithUserXattrs(own, other);
    if (root.isEmpty())
        GTEST_SKIP() << "no folder here keeps user extended attributes";
    if (RunProgram(QStringLiteral("unshare"), {QStringLiteral("-m"), QStringLiteral("true")}).Code != 0)
        GTEST_SKIP() << "no mount namespace of our own here (needs root), so no read-only mount";
    for (const char *name : {"/a.txt", "/b.txt"})
        WriteFileBytes(root + name, "x");
    ASSERT_EQ(Dnt({QStringLiteral("set"), Arg(root + "/a.txt"), QStringLiteral("Alpha")}).Code, 0);
    ASSERT_EQ(Dnt({QStringLiteral("set"), Arg(root + "/b.txt"), QStringLiteral("Beta")}).Code, 0);
    ASSERT_EQ(Dnt(ExportToXattr(root)).Out, "2 comments written\n");
    ASSERT_EQ(Dnt({QStringLiteral("set"), Arg(root + "/b.txt"), QString()}).Code, 0);

    // The folder mounted read-only over itself, in a mount namespace of dnt's own.
    const TDntRun readOnly = RunProgram(
        QStringLiteral("unshare"),
        {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"),
         QStringLiteral("mount --bind \"$1\" \"$1\" && mount -o remount,bind,ro \"$1\" && exec \"$2\" export \"$1\" "
                        "--to xattr"),
         QStringLiteral("sh"), Arg(root), TestSupport::BuiltProgram("dnt")});
    EXPECT_EQ(readOnly.Code, 1);
    EXPECT_EQ(readOnly.Out, "0 comments written\n");
    EXPECT_TRUE(readOnly.Err.contains("Unable to write the comment of " + root + "/a.txt: "))
        << readOnly.Err.toStdString();
    EXPECT_TRUE(readOnly.Err.contains("Unable to remove the comment of " + root + "/b.txt: "))
        << readOnly.Err.toStdString();
    EXPECT_EQ(ReadComment(root + "/b.txt"), QByteArray("Beta"));

    // Writable again, the next export removes what it could not remove then.
    const TDntRun run = Dnt(ExportToXattr(root));
    EXPECT_EQ(run.Code, 0) << run.Err.toStdString();
    EXPECT_EQ(run.Out, "1 comment written\n1 comment removed (its description is gone)\n");
    EXPECT_EQ(ReadComment(root + "/b.txt"), std::nullopt);
}
