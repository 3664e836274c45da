// SPDX-License-Identifier: GPL-3.0-or-later
// The one-scan commit against the parsed document: for every file, section, key and value the
// spliced bytes must be the bytes TProfileDocument::WithString makes, and the description commit
// must choose the key that DescriptionKey chooses on the same file.

#include "catalogue/DescriptionFile.h"
#include "catalogue/FolderCatalogue.h"
#include "catalogue/ProfileDocument.h"
#include "catalogue/ProfileFile.h"
#include "catalogue/ProfileSplice.h"
#include "common/Exceptions.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <random>

using namespace TestSupport;

namespace {
// Bytes of a literal, NULs included.
template <size_t N> QByteArray Raw(const char (&text)[N])
{
    return QByteArray(text, qsizetype(N - 1));
}

// Keys and names that fold alike in every way the rule knows: letter case, NFC and NFD, the
// Windows-1252 reading of bytes that are not UTF-8, and a key holding a NUL byte.
const std::vector<QByteArray> &Keys()
{
    static const std::vector<QByteArray> keys = {"readme", "README", "ReadMe",
                                                 "\xC3\xA4.txt",  // ä NFC
                                                 "a\xCC\x88.txt", // ä NFD
                                                 "\xC3\x84.TXT",  // Ä
                                                 "\xE4.txt",      // ä in Windows-1252
                                                 "\xE2\x84\xAA"
                                                 "b", // Kelvin sign, folds like "kb"
                                                 "KB", "x", Raw("x\0y"), "q r",
                                                 // longer than the 32 bytes a scan reads at once
                                                 "\xC3\xA4 and a name that goes on past 32 bytes.txt",
                                                 "a\xCC\x88 and a name that goes on past 32 bytes.txt"};
    return keys;
}

// A random file of the shapes the format allows and the hand-edited shapes it must survive.
QByteArray RandomFile(std::mt19937 &random)
{
    static const std::vector<QByteArray> headers = {"[Folders]", "[Files]",      "[files]",      " [ FILES ] ",
                                                    "[Files",    "\t[Folders]x", "[ThisFolder]", "[Other]"};
    static const std::vector<QByteArray> others = {"",         " ",   ";comment", " ; readme=x",     "=novalue",
                                                   "noequals", " \t", "\"q\"=1",  Raw("nul\0line=v")};
    static const std::vector<QByteArray> eols = {"\r\n", "\n", "\r"};
    auto pick = [&random](const std::vector<QByteArray> &from) { return from[random() % from.size()]; };
    QByteArray bytes;
    if (random() % 5 == 0)
        bytes += "\xEF\xBB\xBF";
    const QByteArray mainEol = pick(eols);
    const int lines = int(random() % 14);
    for (int i = 0; i < lines; ++i) {
        switch (random() % 4) {
        case 0: bytes += pick(headers); break;
        case 1: bytes += pick(others); break;
        default: {
            const char *blank = random() % 4 == 0 ? " " : "";
            bytes += blank + pick(Keys()) + blank + (random() % 2 ? "=" : " = ") + "v" + QByteArray::number(i) + blank;
            if (random() % 6 == 0)
                bytes += QByteArray("\0tail", 5);
        }
        }
        // Mostly the file's own line end, sometimes another one, sometimes none at the end.
        if (i + 1 < lines || random() % 3 != 0)
            bytes += random() % 5 == 0 ? pick(eols) : mainEol;
    }
    return bytes;
}

// The files of the fuzz corpus of the profile writers: shapes found worth keeping.
std::vector<QByteArray> CorpusFiles()
{
    std::vector<QByteArray> files;
    for (const char *target : {"profile_document", "profile_file"}) {
        const QDir dir(QFile::decodeName(SourceDir() + "/fuzz/corpus/" + target));
        for (const QString &name : dir.entryList(QDir::Files))
            files.push_back(ReadFileBytes(QFile::encodeName(dir.filePath(name))));
    }
    return files;
}

std::vector<QByteArray> Inputs()
{
    std::vector<QByteArray> inputs = CorpusFiles();
    EXPECT_GE(inputs.size(), 6u) << "the fuzz corpus was not found";
    inputs.push_back({});
    inputs.push_back("\xEF\xBB\xBF");
    inputs.push_back(DefaultDescriptionContent());
    // A lone CR as the file's line end before an empty LF line, and a last line without its end.
    for (const QByteArray section : {"[Files]", "[Folders]"}) {
        inputs.push_back(section + "\rreadme=1\n\n;c\r");
        inputs.push_back(section + "\rx=1\r\n\n");
        inputs.push_back("\xEF\xBB\xBF" + section + "\r\nREADME=1");
    }
    std::mt19937 random(20261208);
    for (int i = 0; i < 3000; ++i)
        inputs.push_back(RandomFile(random));
    return inputs;
}

QByteArray Printable(const QByteArray &bytes)
{
    return bytes.toPercentEncoding(" =[];");
}
} // namespace

// Every splice equals the parsed document's edit byte for byte: both sections, a section the file
// lacks, every key, both ways of matching keys, an empty value and one that needs no trimming.
TEST(ProfileSplice, EqualsTheDocumentsEditForEveryFileKeyAndSection)
{
    int compared = 0;
    for (const QByteArray &bytes : Inputs()) {
        const TProfileDocument doc(bytes);
        for (const QByteArray section : {"Folders", "Files", "FILES", "Missing"})
            for (const QByteArray &key : Keys())
                for (const bool exact : {false, true})
                    for (const QByteArray value : {"", "new text"}) {
                        const QByteArray expected = doc.WithString(section, key, value, exact);
                        const QByteArray spliced = Spliced(bytes, StringSplice(bytes, section, key, value, exact));
                        ASSERT_EQ(Printable(spliced), Printable(expected))
                            << "file " << Printable(bytes).constData() << " section " << section.constData() << " key "
                            << Printable(key).constData() << (exact ? " exact" : "");
                        ++compared;
                    }
    }
    EXPECT_GT(compared, 100000);
}

// The commit chooses the key DescriptionKey chooses on the same file, for tables whose names
// contend for the same keys, and writes what WriteString with that key writes.
TEST(ProfileSplice, DescriptionCommitChoosesTheRulesKeyAndWritesWhatWriteStringWrites)
{
    const TTempDir dir;
    const QByteArray path = dir.FilePath("Folder.dnt");
    // Tables of names that fold alike in different ways; the name committed is each in turn.
    const std::vector<std::vector<QByteArray>> tables = {
        {"readme"},
        {"README", "readme"},
        {"ReadMe", "README", "readme"},
        {"\xC3\xA4.txt"},
        {"a\xCC\x88.txt", "\xC3\xA4.txt"},
        {"KB", "kb"},
        {"x", "X"},
        {"q r", "Q R", "other"},
        {"A\xCC\x88 and a name that goes on past 32 bytes.txt", "\xC3\xA4 and a name that goes on past 32 bytes.txt"}};
    std::mt19937 random(7);
    int compared = 0;
    for (const QByteArray &bytes : Inputs()) {
        if (random() % 4 != 0)
            continue; // a quarter of the files: each case costs a file write here
        WriteFileBytes(path, bytes);
        const TProfileDocument doc(bytes);
        for (const char *section : {kSectionFolders, kSectionFiles})
            for (const std::vector<QByteArray> &names : tables)
                for (const QByteArray &name : names) {
                    ProfileFile profile(path);
                    const QByteArray key = DescriptionKey(profile, section, name, names);
                    const std::vector<std::string_view> contenders = KeyContenders(ViewOf(name), names);
                    const TDescriptionCommit commit = DescriptionCommit(
                        bytes, section, name, [&]() -> const auto & { return contenders; }, "typed");
                    ASSERT_EQ(Printable(commit.Key), Printable(key))
                        << "file " << Printable(bytes).constData() << " name " << Printable(name).constData();
                    ASSERT_TRUE(commit.Reason.isEmpty()) << commit.Reason.toStdString();
                    ASSERT_EQ(Printable(Spliced(bytes, commit.Splice)),
                              Printable(doc.WithString(section, key, "typed", true)));
                    ++compared;
                }
    }
    EXPECT_GT(compared, 5000);
}

// Through the accessor: the commit lands in the file, a key written by another writer since the
// listing is the one replaced, and what cannot be stored is refused with nothing written.
TEST(ProfileSplice, WriteDescriptionUsesTheFileAsItIsAndRefusesWhatCannotBeStored)
{
    const TTempDir dir;
    const QByteArray path = dir.FilePath("Folder.dnt");
    CreateDescriptionFile(path);
    {
        ProfileFile profile(path);
        EXPECT_EQ(profile.ReadString(kSectionFiles, "README"), QByteArray());
        // Another writer adds the key in another letter case after this accessor read the file.
        ProfileFile other(path);
        other.WriteString(kSectionFiles, "readme", "theirs");
        WriteDescription(profile, kSectionFiles, "README", {"README"}, "mine");
    }
    ProfileFile check(path);
    EXPECT_EQ(check.ReadSection(kSectionFiles), QList<QByteArray>{"readme"});
    EXPECT_EQ(check.ReadString(kSectionFiles, "readme"), "mine");

    const QByteArray before = ReadFileBytes(path);
    for (const auto &[name, value] : {std::pair<QByteArray, QByteArray>{" lead", "x"}, {"ok", "two\nlines"}}) {
        ProfileFile profile(path);
        EXPECT_THROW(WriteDescription(profile, kSectionFiles, name, {name}, value), TException);
    }
    EXPECT_EQ(ReadFileBytes(path), before);

    // A folder without a description file gets one holding the entry.
    const QByteArray fresh = dir.MakeDir("fresh") + "/Folder.dnt";
    {
        ProfileFile profile(fresh);
        WriteDescription(profile, kSectionFolders, "sub", {"sub"}, "text");
    }
    EXPECT_EQ(ReadFileBytes(fresh), "[Folders]\r\nsub=text\r\n");
}
