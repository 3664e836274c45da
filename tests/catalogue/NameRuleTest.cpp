// SPDX-License-Identifier: GPL-3.0-or-later
// The name rule: which stored key describes which entry, through listing, pruning and commits,
// over both tables (subfolders in "Folders", files in "Files").
#include "catalogue/DescriptionFile.h"
#include "catalogue/FoldedName.h"
#include "catalogue/FolderCatalogue.h"
#include "catalogue/ProfileFile.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

using namespace TestSupport;

namespace {
enum class TKind { Folders, Files };

std::string KindName(const ::testing::TestParamInfo<TKind> &info)
{
    return info.param == TKind::Folders ? "Folders" : "Files";
}

class NameRule : public ::testing::TestWithParam<TKind> {
protected:
    const char *Section() const { return GetParam() == TKind::Folders ? kSectionFolders : kSectionFiles; }
    void MakeEntry(const QByteArray &name) const
    {
        if (GetParam() == TKind::Folders)
            D().MakeDir(name);
        else
            D().WriteFile(name, "x");
    }
    // The description file with these key lines in the table's section.
    void Store(const QByteArray &lines) const
    {
        D().WriteFile("Folder.dnt", "[ThisFolder]\r\nText0=t\r\n\r\n[" + QByteArray(Section()) + "]\r\n" + lines
                                        + "\r\n[Other]\r\nkeep=1\r\n");
    }
    const std::vector<TCatalogueEntry> &Table(const TFolderCatalogue &c) const
    {
        return GetParam() == TKind::Folders ? c.Folders : c.Files;
    }
    std::map<QByteArray, QByteArray> Listed() const
    {
        std::map<QByteArray, QByteArray> shown;
        const TFolderCatalogue c = ListAndPruneFolder(D().Path());
        for (const TCatalogueEntry &e : Table(c))
            shown[e.Name] = e.Description;
        return shown;
    }
    QList<QByteArray> StoredKeys() const { return ProfileFile(D().FilePath("Folder.dnt")).ReadSection(Section()); }
    std::vector<QByteArray> EntryNames() const
    {
        std::vector<QByteArray> names;
        const TFolderCatalogue c = ListAndPruneFolder(D().Path());
        for (const TCatalogueEntry &e : Table(c))
            names.push_back(e.Name);
        return names;
    }
    void Commit(const QByteArray &name, const QByteArray &text) const
    {
        ProfileFile profile(D().FilePath("Folder.dnt"));
        WriteDescription(profile, Section(), name, EntryNames(), text);
    }

    void TearDown() override { RemoveEntries(); }
    const TTempDir &D() const { return *FDir; }
    // Each case in a folder of its own.
    void FreshFolder()
    {
        RemoveEntries();
        FDir = std::make_unique<TTempDir>();
    }
    // Names that are not UTF-8 cannot be removed through Qt's file names: they go by their bytes.
    void RemoveEntries() const
    {
        DIR *dir = ::opendir(D().Path().constData());
        while (const dirent *e = dir ? ::readdir(dir) : nullptr)
            if (::unlinkat(::dirfd(dir), e->d_name, 0) != 0)
                ::unlinkat(::dirfd(dir), e->d_name, AT_REMOVEDIR);
        if (dir)
            ::closedir(dir);
    }

private:
    std::unique_ptr<TTempDir> FDir = std::make_unique<TTempDir>();
};

struct TRuleCase {
    const char *What;
    std::vector<QByteArray> Entries;
    QByteArray Keys;                        // the section's lines
    std::map<QByteArray, QByteArray> Shown; // entry -> description it shows
    QList<QByteArray> KeptKeys;             // the section's keys after pruning, in file order
};

const QByteArray kNfc = "caf\xC3\xA9.txt";      // café.txt
const QByteArray kNfcUpper = "CAF\xC3\x89.txt"; // CAFÉ.txt
const QByteArray kLatin1 = "caf\xE9.txt";       // café.txt as Windows-1252 bytes
const QByteArray kNfd = "cafe\xCC\x81.txt";     // café.txt decomposed
const QByteArray kLongS = "\xC5\xBF.txt";       // ſ.txt

const std::vector<TRuleCase> &RuleCases()
{
    static const std::vector<TRuleCase> cases = {
        {"each spelling keeps its own key",
         {"README", "readme"},
         "README=first\r\nreadme=second\r\n",
         {{"README", "first"}, {"readme", "second"}},
         {"README", "readme"}},
        {"a key owned byte for byte is not shared",
         {"README", "readme"},
         "README=first\r\n",
         {{"README", "first"}, {"readme", ""}},
         {"README"}},
        {"a key written on Windows in other letter case describes the entry",
         {"Readme"},
         "README=from windows\r\ngone=stale\r\n",
         {{"Readme", "from windows"}},
         {"README"}},
        {"NFC, upper case and Windows-1252 bytes are three names",
         {kNfc, kNfcUpper, kLatin1},
         kLatin1 + "=latin\r\n" + kNfcUpper + "=upper\r\n" + kNfc + "=nfc\r\n",
         {{kNfc, "nfc"}, {kNfcUpper, "upper"}, {kLatin1, "latin"}},
         {kLatin1, kNfcUpper, kNfc}},
        {"a Windows-1252 key describes its UTF-8 name",
         {kNfcUpper},
         kLatin1 + "=latin\r\n",
         {{kNfcUpper, "latin"}},
         {kLatin1}},
        {"long s and s are two names",
         {kLongS, "s.txt"},
         "s.txt=plain\r\n",
         {{kLongS, ""}, {"s.txt", "plain"}},
         {"s.txt"}},
        {"long s folds to s", {kLongS}, "S.TXT=folded\r\nt.txt=stale\r\n", {{kLongS, "folded"}}, {"S.TXT"}},
        {"an NFD name keeps its NFC key through pruning",
         {kNfd},
         kNfc + "=nfc key\r\nother=stale\r\n",
         {{kNfd, "nfc key"}},
         {kNfc}},
        {"a non-ASCII name in other letter case survives pruning",
         {"\xC3\x84RGER.txt"},
         "gone.txt=stale\r\n\xC3\xA4rger.txt=lower\r\n",
         {{"\xC3\x84RGER.txt", "lower"}},
         {"\xC3\xA4rger.txt"}},
        {"two claimants of one foreign key: the first name in byte order takes it",
         {"rEADME", "Readme"},
         "README=one\r\n",
         {{"Readme", "one"}, {"rEADME", ""}},
         {"README"}},
        {"two claimants and two foreign keys: one each, in file order",
         {"rEADME", "Readme"},
         "README=one\r\nreadMe=two\r\n",
         {{"Readme", "one"}, {"rEADME", "two"}},
         {"README", "readMe"}},
    };
    return cases;
}
} // namespace

TEST_P(NameRule, ListingAndPruningFollowTheRule)
{
    for (const TRuleCase &c : RuleCases()) {
        SCOPED_TRACE(c.What);
        FreshFolder();
        for (const QByteArray &name : c.Entries)
            MakeEntry(name);
        Store(c.Keys);
        EXPECT_EQ(Listed(), c.Shown);
        EXPECT_EQ(StoredKeys(), c.KeptKeys);
        EXPECT_EQ(ProfileFile(D().FilePath("Folder.dnt")).ReadString("Other", "keep"), QByteArray("1"));
        // A second listing finds the same: nothing it needs was pruned.
        EXPECT_EQ(Listed(), c.Shown);
    }
}

TEST_P(NameRule, ANewDescriptionBesideAnotherSpellingGetsItsOwnKey)
{
    MakeEntry("README");
    MakeEntry("readme");
    Store("README=first\r\n");
    Commit("readme", "second");
    EXPECT_EQ(StoredKeys(), (QList<QByteArray>{"README", "readme"}));
    EXPECT_EQ(Listed(), (std::map<QByteArray, QByteArray>{{"README", "first"}, {"readme", "second"}}));
    // Each spelling is then changed in place, never the other.
    Commit("README", "first again");
    Commit("readme", "second again");
    EXPECT_EQ(Listed(), (std::map<QByteArray, QByteArray>{{"README", "first again"}, {"readme", "second again"}}));
    EXPECT_EQ(StoredKeys().size(), 2);
}

TEST_P(NameRule, AKeyWrittenOnWindowsIsUpdatedInPlace)
{
    for (const QByteArray &name : {QByteArray("Readme"), kNfd}) {
        FreshFolder();
        MakeEntry(name);
        const QByteArray key = name == kNfd ? kNfcUpper : QByteArray("README");
        Store(key + "=old\r\n");
        Commit(name, "new");
        EXPECT_EQ(StoredKeys(), QList<QByteArray>{key}) << name.constData();
        EXPECT_EQ(Listed().at(name), QByteArray("new"));
    }
}

INSTANTIATE_TEST_SUITE_P(BothTables, NameRule, ::testing::Values(TKind::Folders, TKind::Files), KindName);

TEST(NameFold, CaseAndNormalizationFoldAlikeAsciiStaysCheap)
{
    EXPECT_EQ(FoldProfileName("ReadMe.TXT"), QByteArray("readme.txt"));
    EXPECT_EQ(FoldProfileName(kNfd), FoldProfileName(kNfcUpper));
    EXPECT_EQ(FoldProfileName(kLatin1), FoldProfileName(kNfc));
    EXPECT_EQ(FoldProfileName(kLongS), QByteArray("s.txt"));
    EXPECT_NE(FoldProfileName("a.txt"), FoldProfileName(kNfc));
}

TEST(NameFold, TheCursorGoesBackToTheEntryTheNameDescribes)
{
    const std::vector<std::string_view> rows = {"README", "readme", "Other"};
    EXPECT_EQ(EntryOfKey(rows, "readme"), 1);
    EXPECT_EQ(EntryOfKey(rows, "README"), 0);
    EXPECT_EQ(EntryOfKey(rows, "OTHER"), 2);  // renamed in letter case only: still that entry
    EXPECT_EQ(EntryOfKey(rows, "ReadMe"), 0); // two claimants: the first in byte order
    EXPECT_EQ(EntryOfKey(rows, "gone"), -1);
}

TEST(NameFold, OnlyAsciiCapitalsFoldAtEveryPlaceOfAName)
{
    // Names are compared and hashed eight bytes at a time; every byte value at every place of
    // the words and of a tail must fold as one byte at a time would: A-Z to a-z, nothing else
    // (not "@", "[", nor a byte of a UTF-8 sequence that looks like a capital without its top bit).
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : char(c); };
    for (size_t length = 1; length <= 16; ++length) { // every length of a tail, after no word and after one
        for (size_t place = 0; place < length; ++place) {
            for (int value = 0; value < 256; ++value) {
                std::string name(length, 'k');
                name[place] = char(value);
                std::string folded = name;
                folded[place] = lower(static_cast<unsigned char>(value));
                ASSERT_TRUE(TNameEqual()(name, folded)) << value << " at " << place;
                ASSERT_EQ(TNameHash()(name), TNameHash()(folded)) << value << " at " << place;
                std::string other = folded;
                other[place] = char(folded[place] ^ 0x20);
                const bool sameLetter = (other[place] | 0x20) >= 'a' && (other[place] | 0x20) <= 'z'
                                        && static_cast<unsigned char>(other[place]) < 0x80;
                ASSERT_EQ(TNameEqual()(name, other), sameLetter) << value << " at " << place;
                ASSERT_EQ(IsAsciiName(name), value < 0x80) << value << " at " << place;
            }
        }
    }
}
