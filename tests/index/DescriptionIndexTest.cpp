// SPDX-License-Identifier: GPL-3.0-or-later
#include "index/DescriptionIndex.h"

#include "catalogue/DescriptionFile.h"
#include "catalogue/FolderCatalogue.h"
#include "catalogue/ProfileFile.h"
#include "common/TextCodec.h"

#include "TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <stop_token>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestSupport;

namespace {
const char *SectionOf(bool isFolder)
{
    return isFolder ? kSectionFolders : kSectionFiles;
}

// Makes a folder or a file, as the table asks.
void MakeEntry(const QByteArray &path, bool isFolder)
{
    if (isFolder)
        ASSERT_EQ(::mkdir(path.constData(), 0755), 0);
    else
        WriteFileBytes(path, "content of " + path);
}

QByteArray Described(const QByteArray &folder, bool isFolder, const QByteArray &name)
{
    ProfileFile profile(folder + "/Folder.dnt");
    return profile.ReadString(SectionOf(isFolder), name);
}

void Describe(const QByteArray &folder, bool isFolder, const QByteArray &name, const QByteArray &text)
{
    ProfileFile profile(folder + "/Folder.dnt");
    profile.WriteString(SectionOf(isFolder), name, text);
}

// The full-text table reads its texts from the entries: after whatever a test did, every live
// entry's text is indexed as it is now, and nothing else (the engine's own check, against the
// texts decoded as the program decodes them).
void ExpectTextsAgreeWithEntries(const QByteArray &indexPath)
{
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(indexPath.constData(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    const auto decode = [](sqlite3_context *context, int, sqlite3_value **args) {
        const auto *data = static_cast<const char *>(sqlite3_value_blob(args[0]));
        const QByteArray text = DecodeText(QByteArray(data, sqlite3_value_bytes(args[0]))).toUtf8();
        sqlite3_result_text64(context, text.constData(), sqlite3_uint64(text.size()), SQLITE_TRANSIENT, SQLITE_UTF8);
    };
    sqlite3_create_function_v2(db, "dirnote_text", 1, SQLITE_UTF8, nullptr, decode, nullptr, nullptr, nullptr);
    char *error = nullptr;
    const int rc = sqlite3_exec(db, "INSERT INTO texts(texts, rank) VALUES('integrity-check', 1)", nullptr, nullptr,
                                &error);
    EXPECT_EQ(rc, SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

class IndexTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (::access(IndexPath().constData(), F_OK) == 0)
            ExpectTextsAgreeWithEntries(IndexPath());
    }
    QByteArray IndexPath() const { return Dir.FilePath("index/index.sqlite"); }
    // A listing as the window makes it: the index follows renames inside it, then is updated.
    TFolderCatalogue List(TDescriptionIndex &index, const QByteArray &folder, TFolderUpdate *update = nullptr)
    {
        TFolderCatalogue catalogue = ListAndPruneFolder(folder, {.Follower = &index});
        TFolderUpdate result = index.UpdateFolder(catalogue);
        if (update)
            *update = std::move(result);
        return catalogue;
    }

    TTempDir Dir;
};

class IndexTableTest : public IndexTest, public ::testing::WithParamInterface<bool> {};
} // namespace

// Another program renames a described entry between two listings: the description is on the
// new name, the old key is gone, and the status line names both.
TEST_P(IndexTableTest, RenameByAnotherProgramIsFollowed)
{
    const bool isFolder = GetParam();
    const QByteArray folder = Dir.MakeDir("photos");
    MakeEntry(folder + "/old name", isFolder);
    MakeEntry(folder + "/other", isFolder);
    Describe(folder, isFolder, "old name", "Holiday at the lake");
    TDescriptionIndex index(QFile::decodeName(IndexPath()));
    ASSERT_TRUE(index.IsUsable());
    List(index, folder);

    ASSERT_EQ(::rename((folder + "/old name").constData(), (folder + "/new name").constData()), 0);
    const TFolderCatalogue listed = List(index, folder);

    ASSERT_EQ(listed.Renamed.size(), 1u);
    EXPECT_EQ(listed.Renamed[0].OldName, "old name");
    EXPECT_EQ(listed.Renamed[0].NewName, "new name");
    EXPECT_EQ(Described(folder, isFolder, "new name"), "Holiday at the lake");
    EXPECT_EQ(Described(folder, isFolder, "old name"), "");
    EXPECT_TRUE((isFolder ? listed.PrunedFolders : listed.PrunedFiles).empty());
    const auto &table = isFolder ? listed.Folders : listed.Files;
    const auto shown = std::find_if(table.begin(), table.end(),
                                    [](const TCatalogueEntry &e) { return e.Name == "new name"; });
    ASSERT_NE(shown, table.end());
    EXPECT_EQ(shown->Description, "Holiday at the lake");
    EXPECT_EQ(FollowedRenamesMessage(listed.Renamed),
              QStringLiteral("1 description followed its file (old name → new name)"));
    EXPECT_TRUE(index.Pruned().empty());
    // The index follows the new name too: a second rename is followed as well.
    ASSERT_EQ(::rename((folder + "/new name").constData(), (folder + "/third").constData()), 0);
    EXPECT_EQ(List(index, folder).Renamed.size(), 1u);
    EXPECT_EQ(Described(folder, isFolder, "third"), "Holiday at the lake");
}

// A folder indexed through its tree, with enough descriptions that its names are read at once,
// half of them of entries that are gone: every text is found, and an entry that is there is
// followed when another program renames it before the folder is first listed.
TEST_P(IndexTableTest, TreeIndexedFolderFollowsARenameOfAnEntryThatIsThere)
{
    const bool isFolder = GetParam();
    const QByteArray folder = Dir.MakeDir("many");
    QByteArray desc = QByteArray("[") + SectionOf(isFolder) + "]\r\n";
    constexpr int kDescribed = 200;
    for (int i = 0; i < kDescribed; ++i) {
        const QByteArray name = "e" + QByteArray::number(i);
        if (i % 2 == 0)
            MakeEntry(folder + '/' + name, isFolder);
        desc += name + "=Manyword " + QByteArray::number(i) + "\r\n";
    }
    WriteFileBytes(folder + "/Folder.dnt", desc);
    TDescriptionIndex index(QFile::decodeName(IndexPath()));
    ASSERT_TRUE(index.IndexTree(folder, {}));
    EXPECT_EQ(index.Search(QStringLiteral("manyword"), 1000).size(), size_t(kDescribed));

    for (const int i : {0, 98, 198})
        ASSERT_EQ(::rename((folder + "/e" + QByteArray::number(i)).constData(),
                           (folder + "/r" + QByteArray::number(i)).constData()),
                  0);
    const TFolderCatalogue listed = List(index, folder);

    EXPECT_EQ(listed.Renamed.size(), 3u);
    for (const int i : {0, 98, 198})
        EXPECT_EQ(Described(folder, isFolder, "r" + QByteArray::number(i)), "Manyword " + QByteArray::number(i));
}

// Without the index the same rename loses the description, as before.
TEST_P(IndexTableTest, WithoutIndexARenamedEntrysDescriptionIsPruned)
{
    const bool isFolder = GetParam();
    const QByteArray folder = Dir.MakeDir("photos");
    MakeEntry(folder + "/old", isFolder);
    Describe(folder, isFolder, "old", "text");
    ASSERT_EQ(::rename((folder + "/old").constData(), (folder + "/new").constData()), 0);
    const TFolderCatalogue listed = ListAndPruneFolder(folder);
    EXPECT_TRUE(listed.Renamed.empty());
    EXPECT_EQ(Described(folder, isFolder, "new"), "");
    EXPECT_EQ(Described(folder, isFolder, "old"), "");
}

// A described entry moved to another folder of the same device: pruned where it was, written
// for it when the folder it went to is listed.
TEST_P(IndexTableTest, MoveToAnotherFolderIsFollowedWhenThatFolderIsListed)
{
    const bool isFolder = GetParam();
    const QByteArray from = Dir.MakeDir("from"), to = Dir.MakeDir("to");
    MakeEntry(from + "/report", isFolder);
    Describe(from, isFolder, "report", "Quarterly report");
    TDescriptionIndex index(QFile::decodeName(IndexPath()));
    List(index, from);
    List(index, to);

    ASSERT_EQ(::rename((from + "/report").constData(), (to + "/report 2024").constData()), 0);
    List(index, from);
    EXPECT_EQ(Described(from, isFolder, "report"), "");
    ASSERT_EQ(index.Pruned().size(), 1u);

    TFolderUpdate update;
    List(index, to, &update);
    EXPECT_TRUE(update.Error.isEmpty());
    ASSERT_EQ(update.Moved.size(), 1u);
    EXPECT_EQ(update.Moved[0].OldFolder, from + '/');
    EXPECT_EQ(update.Moved[0].OldName, "report");
    EXPECT_EQ(update.Moved[0].NewName, "report 2024");
    EXPECT_EQ(Described(to, isFolder, "report 2024"), "Quarterly report");
    EXPECT_TRUE(index.Pruned().empty());
    EXPECT_EQ(index.Search(QStringLiteral("quarterly")).size(), 1u);
    EXPECT_EQ(FollowedMovesMessage(update.Moved),
              QStringLiteral("1 description followed its file from another folder (%1 → report 2024)")
                  .arg(QFile::decodeName(from + "/report")));
    // Written once: the next listing finds it described and moves nothing.
    List(index, to, &update);
    EXPECT_TRUE(update.Moved.empty());
}

// A commit goes into the index at once, as a listing records it: by the entry's name, also
// where the key written differs in letter case, and with the entry's identity, so a rename by
// another program right after is followed; a cleared text is dropped, not kept as pruned.
TEST_P(IndexTableTest, CommittedDescriptionIsIndexedAtOnceAndFollowsARename)
{
    const bool isFolder = GetParam();
    const QByteArray folder = Dir.MakeDir("photos");
    MakeEntry(folder + "/Beach", isFolder);
    MakeEntry(folder + "/Harbour", isFolder);
    Describe(folder, isFolder, "beach", "old words"); // a key in another letter case
    TDescriptionIndex index(QFile::decodeName(IndexPath()));
    List(index, folder);
    auto commit = [&](const QByteArray &name, const QByteArray &text) {
        ProfileFile profile(folder + "/Folder.dnt");
        const QByteArray key = WriteDescription(profile, SectionOf(isFolder), name, {"Beach", "Harbour"}, text);
        index.EntryWritten(folder, isFolder, name, text);
        return key;
    };
    EXPECT_EQ(commit("Beach", "Sand dunes"), "beach");
    EXPECT_EQ(index.Search(QStringLiteral("dunes")).size(), 1u);
    EXPECT_TRUE(index.Search(QStringLiteral("old words")).empty());

    EXPECT_EQ(commit("Harbour", "Lighthouse at dawn"), "Harbour");
    EXPECT_EQ(index.Search(QStringLiteral("lighthouse")).size(), 1u);
    ASSERT_EQ(::rename((folder + "/Harbour").constData(), (folder + "/Quay").constData()), 0);
    const TFolderCatalogue listed = List(index, folder);
    ASSERT_EQ(listed.Renamed.size(), 1u);
    EXPECT_EQ(Described(folder, isFolder, "Quay"), "Lighthouse at dawn");

    ProfileFile profile(folder + "/Folder.dnt");
    WriteDescription(profile, SectionOf(isFolder), "Quay", {"Beach", "Quay"}, "");
    index.EntryWritten(folder, isFolder, "Quay", "");
    EXPECT_TRUE(index.Search(QStringLiteral("lighthouse")).empty());
    EXPECT_TRUE(index.Pruned().empty());
}

// A described entry moved to a subfolder from beside a name that differs from it only in letter
// case. Where that name has a key of its own, the moved entry's key is claimed by no entry: it is
// pruned and written for the entry where it went, when that folder is listed. Where that name has
// no key, the key is the name's by the name rule, and stays with it.
TEST_P(IndexTableTest, MoveFromBesideANameOfOtherLetterCase)
{
    const bool isFolder = GetParam();
    const char *section = SectionOf(isFolder);
    auto keys = [&](const QByteArray &folder) { return ProfileFile(folder + "/Folder.dnt").ReadSection(section); };
    for (const bool ownKey : {true, false}) {
        SCOPED_TRACE(ownKey ? "b.txt has its own key" : "b.txt has no key");
        const QByteArray name = ownKey ? "t1" : "t1 without key";
        const QByteArray t1 = Dir.MakeDir(name), alpha = Dir.MakeDir(name + "/alpha");
        MakeEntry(t1 + "/B.txt", isFolder);
        MakeEntry(t1 + "/b.txt", isFolder);
        WriteFileBytes(t1 + "/Folder.dnt",
                       "[" + QByteArray(section) + "]\r\nB.txt=u\r\n" + (ownKey ? "b.txt=own\r\n" : ""));
        TDescriptionIndex index(QFile::decodeName(IndexPath()));
        List(index, t1);
        List(index, alpha);

        ASSERT_EQ(::rename((t1 + "/B.txt").constData(), (alpha + "/B.txt").constData()), 0);
        List(index, t1);
        List(index, alpha);
        if (ownKey) {
            EXPECT_EQ(keys(t1), QList<QByteArray>{"b.txt"});
            EXPECT_EQ(Described(t1, isFolder, "b.txt"), "own");
            EXPECT_EQ(keys(alpha), QList<QByteArray>{"B.txt"});
            EXPECT_EQ(Described(alpha, isFolder, "B.txt"), "u");
        } else {
            EXPECT_EQ(keys(t1), QList<QByteArray>{"B.txt"});
            EXPECT_EQ(Described(t1, isFolder, "B.txt"), "u");
            EXPECT_EQ(keys(alpha), QList<QByteArray>{});
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothTables, IndexTableTest, ::testing::Bool(),
                         [](const auto &table) { return table.param ? "Folders" : "Files"; });

namespace {
// What other programs do to a folder between two listings, and what Folder.dnt then says.
struct TFollowCase {
    const char *Name;
    std::vector<std::pair<QByteArray, QByteArray>> Described; // files with their descriptions
    std::vector<QByteArray> Undescribed;                      // other files
    // Before the first listing (hard links), then between the listings; `other` is a second
    // folder, listed after each listing of the first.
    std::function<void(const QByteArray &folder)> Prepare;
    std::function<void(const QByteArray &folder, const QByteArray &other)> Change;
    QHash<QByteArray, QByteArray> Expected; // name → description after the second listing ("" none)
    QList<QByteArray> Pruned;               // "name=text" of the pruned descriptions
    QHash<QByteArray, QByteArray> ExpectedOther = {};
    // Renamed once more afterwards, the described names take their descriptions along (not for
    // hard links: which of two names of one file a description follows is not told).
    bool FollowUp = true;
};

void Rename(const QByteArray &from, const QByteArray &to)
{
    ASSERT_EQ(::rename(from.constData(), to.constData()), 0) << from.constData() << " " << to.constData();
}

// An editor's save: the new text written to a new file, which replaces the name.
void SaveAsEditorsDo(const QByteArray &path)
{
    WriteFileBytes(path + ".new", "edited " + path);
    Rename(path + ".new", path);
}

const std::vector<TFollowCase> &FollowCases()
{
    static const std::vector<TFollowCase> cases{
        {"Swap",
         {{"c", "desc-c"}, {"d", "desc-d"}},
         {},
         {},
         [](const QByteArray &f, const QByteArray &) {
             Rename(f + "/c", f + "/tmp");
             Rename(f + "/d", f + "/c");
             Rename(f + "/tmp", f + "/d");
         },
         {{"c", "desc-d"}, {"d", "desc-c"}, {"tmp", ""}},
         {}},
        {"MoveOverADescribedFile",
         {{"e", "desc-e"}, {"f", "desc-f"}},
         {},
         {},
         [](const QByteArray &f, const QByteArray &) { Rename(f + "/e", f + "/f"); },
         {{"e", ""}, {"f", "desc-e"}},
         {"f=desc-f"}},
        {"RotationOfThree",
         {{"a", "desc-a"}, {"b", "desc-b"}, {"c", "desc-c"}},
         {"u"},
         {},
         [](const QByteArray &f, const QByteArray &) {
             Rename(f + "/a", f + "/tmp");
             Rename(f + "/b", f + "/a");
             Rename(f + "/c", f + "/b");
             Rename(f + "/tmp", f + "/c");
         },
         {{"a", "desc-b"}, {"b", "desc-c"}, {"c", "desc-a"}, {"u", ""}},
         {}},
        {"EditorSaveKeepsItsDescription",
         {{"x", "desc-x"}, {"y", "desc-y"}},
         {},
         {},
         [](const QByteArray &f, const QByteArray &) { SaveAsEditorsDo(f + "/x"); },
         {{"x", "desc-x"}, {"y", "desc-y"}, {"x.new", ""}},
         {}},
        // a and b are one file under two names, c a third name of it without a description;
        // another file's save and a deletion make the listing look at identities.
        {"HardLinksStealNothing",
         {{"a", "desc-a"}, {"b", "desc-b"}, {"x", "desc-x"}, {"z", "desc-z"}},
         {},
         [](const QByteArray &f) {
             ASSERT_EQ(::unlink((f + "/b").constData()), 0);
             ASSERT_EQ(::link((f + "/a").constData(), (f + "/b").constData()), 0);
             ASSERT_EQ(::link((f + "/a").constData(), (f + "/c").constData()), 0);
         },
         [](const QByteArray &f, const QByteArray &) {
             SaveAsEditorsDo(f + "/z");
             ASSERT_EQ(::unlink((f + "/x").constData()), 0);
         },
         {{"a", "desc-a"}, {"b", "desc-b"}, {"c", ""}, {"z", "desc-z"}, {"x", ""}},
         {"x=desc-x"},
         {},
         false},
        // A described file moved over a described file of a folder listed after this one.
        {"MoveIntoAFolderListedLater",
         {{"m", "desc-m"}, {"k", "desc-k"}},
         {},
         [](const QByteArray &f) {
             const QByteArray other = f + "/../other";
             WriteFileBytes(other + "/n", "content of n");
             Describe(other, false, "n", "desc-n");
         },
         [](const QByteArray &f, const QByteArray &other) { Rename(f + "/m", other + "/n"); },
         {{"m", ""}, {"k", "desc-k"}},
         {"n=desc-n"},
         {{"n", "desc-m"}}},
    };
    return cases;
}

void PrintTo(const TFollowCase &test, std::ostream *out)
{
    *out << test.Name;
}

class FollowIdentityTest : public IndexTest, public ::testing::WithParamInterface<TFollowCase> {};
} // namespace

// Other programs swap, overwrite, rotate, save or move described files: after the next listing
// each name has the description of the file it holds, what a name lost to nobody is among the
// pruned descriptions, and the index follows the names' files from then on.
TEST_P(FollowIdentityTest, EachNameHasTheDescriptionOfTheFileItHolds)
{
    const TFollowCase &test = GetParam();
    const QByteArray folder = Dir.MakeDir("f"), other = Dir.MakeDir("other");
    for (const auto &[name, text] : test.Described) {
        MakeEntry(folder + '/' + name, false);
        Describe(folder, false, name, text);
    }
    for (const QByteArray &name : test.Undescribed)
        MakeEntry(folder + '/' + name, false);
    if (test.Prepare)
        test.Prepare(folder);
    TDescriptionIndex index(QFile::decodeName(IndexPath()));
    List(index, folder);
    List(index, other);

    test.Change(folder, other);
    const TFolderCatalogue listed = List(index, folder);
    List(index, other);
    for (auto it = test.Expected.cbegin(); it != test.Expected.cend(); ++it)
        EXPECT_EQ(Described(folder, false, it.key()), it.value()) << it.key().constData();
    for (auto it = test.ExpectedOther.cbegin(); it != test.ExpectedOther.cend(); ++it)
        EXPECT_EQ(Described(other, false, it.key()), it.value()) << "other/" << it.key().constData();
    for (const TCatalogueEntry &entry : listed.Files) // the window shows what the file says
        EXPECT_EQ(entry.Description, Described(folder, false, entry.Name)) << entry.Name.constData();
    QList<QByteArray> pruned;
    for (const TPrunedDescription &p : index.Pruned())
        pruned << p.Name + '=' + p.Text;
    std::sort(pruned.begin(), pruned.end());
    EXPECT_EQ(pruned, test.Pruned);

    // The index recorded which file each name holds now: renamed once more, every description
    // follows its file.
    if (!test.FollowUp)
        return;
    for (auto it = test.Expected.cbegin(); it != test.Expected.cend(); ++it)
        if (!it.value().isEmpty())
            Rename(folder + '/' + it.key(), folder + '/' + it.key() + " renamed");
    List(index, folder);
    for (auto it = test.Expected.cbegin(); it != test.Expected.cend(); ++it) {
        if (!it.value().isEmpty()) {
            EXPECT_EQ(Described(folder, false, it.key() + " renamed"), it.value()) << it.key().constData();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FollowIdentityTest, ::testing::ValuesIn(FollowCases()),
                         [](const auto &scenario) { return std::string(scenario.param.Name); });

// Descriptions committed in the window and cleared there count as the listing's own: files
// swapped afterwards still trade them, and a cleared one is not taken for a swap.
TEST_F(IndexTest, CommittedDescriptionsAreSwappedWithTheirFiles)
{
    const QByteArray folder = Dir.MakeDir("f");
    for (const char *name : {"c", "d", "e"})
        MakeEntry(folder + '/' + name, false);
    Describe(folder, false, "c", "desc-c");
    Describe(folder, false, "e", "desc-e");
    TDescriptionIndex index(QFile::decodeName(IndexPath()));
    List(index, folder);
    auto commit = [&](const QByteArray &name, const QByteArray &text) {
        ProfileFile profile(folder + "/Folder.dnt");
        WriteDescription(profile, kSectionFiles, name, {"c", "d", "e"}, text);
        index.EntryWritten(folder, false, name, text);
    };
    commit("d", "desc-d");
    commit("e", "");
    Rename(folder + "/c", folder + "/tmp");
    Rename(folder + "/d", folder + "/c");
    Rename(folder + "/tmp", folder + "/d");
    const TFolderCatalogue listed = List(index, folder);
    EXPECT_EQ(listed.Renamed.size(), 2u);
    EXPECT_EQ(Described(folder, false, "c"), "desc-d");
    EXPECT_EQ(Described(folder, false, "d"), "desc-c");
    EXPECT_EQ(Described(folder, false, "e"), "");
    EXPECT_TRUE(index.Pruned().empty());
}

// A description the user cleared is no pruned description: it never comes back.
TEST_F(IndexTest, ClearedDescriptionIsNotKeptNorRestored)
{
    const QByteArray folder = Dir.MakeDir("f");
    WriteFileBytes(folder + "/a.txt", "a");
    Describe(folder, false, "a.txt", "note");
    TDescriptionIndex index(QFile::decodeName(IndexPath()));
    List(index, folder);
    ProfileFile profile(folder + "/Folder.dnt");
    profile.DeleteKey(kSectionFiles, "a.txt");
    profile.UpdateFile();
    List(index, folder);
    EXPECT_TRUE(index.Pruned().empty());
    EXPECT_TRUE(index.Search(QStringLiteral("note")).empty());
    EXPECT_EQ(Described(folder, false, "a.txt"), "");
}

// A new file that got the inode number of a deleted described file is another file: its birth
// time tells, on the real file system.
TEST_F(IndexTest, ReusedInodeIsNotGivenTheOldDescription)
{
    const QByteArray folder = Dir.MakeDir("f");
    WriteFileBytes(folder + "/deleted.txt", "old");
    Describe(folder, false, "deleted.txt", "secret of the old file");
    TDescriptionIndex index(QFile::decodeName(IndexPath()));
    List(index, folder);
    struct stat old;
    ASSERT_EQ(::stat((folder + "/deleted.txt").constData(), &old), 0);
    ASSERT_EQ(::unlink((folder + "/deleted.txt").constData()), 0);
    // A journaling file system hands a freed inode out again only once the deletion is committed.
    ::sync();
    QByteArray reused;
    for (int i = 0; i < 100 && reused.isEmpty(); ++i) {
        const QByteArray name = folder + "/new" + QByteArray::number(i);
        WriteFileBytes(name, "old");
        struct stat st;
        ASSERT_EQ(::stat(name.constData(), &st), 0);
        if (st.st_ino == old.st_ino) {
            reused = name;
        } else {
            ASSERT_EQ(::unlink(name.constData()), 0);
            ::sync();
        }
    }
    if (reused.isEmpty())
        GTEST_SKIP() << "the file system did not reuse the inode number";
    TFolderUpdate update;
    const TFolderCatalogue listed = List(index, folder, &update);
    EXPECT_TRUE(listed.Renamed.empty());
    EXPECT_TRUE(update.Moved.empty());
    EXPECT_EQ(Described(folder, false, reused.mid(folder.size() + 1)), "");
    EXPECT_EQ(index.Pruned().size(), 1u);
}

// Where the file system records no birth time, size and modification time tell a reused inode
// from the same file; a folder is then never followed. Identities come from a stand-in.
TEST_F(IndexTest, WithoutBirthTimeSizeAndTimeDecide)
{
    const QByteArray folder = Dir.MakeDir("f");
    WriteFileBytes(folder + "/a", "1");
    WriteFileBytes(folder + "/b", "1");
    Describe(folder, false, "a", "first");
    TEntryIdentity shown{7, 42, -1, 100, 5000, false};
    TDescriptionIndex index(QFile::decodeName(IndexPath()));
    index.SetIdentityReader([&shown](int, const QByteArray &, TEntryIdentity &identity) {
        identity = shown;
        return true;
    });
    List(index, folder);
    ASSERT_EQ(::unlink((folder + "/a").constData()), 0);
    shown.Size = 101; // the same inode number, another file
    ASSERT_FALSE(List(index, folder).Renamed.size());
    EXPECT_EQ(Described(folder, false, "b"), "");

    // The same check lets the unchanged file through.
    Describe(folder, false, "b", "second");
    WriteFileBytes(folder + "/c", "1");
    List(index, folder);
    ASSERT_EQ(::unlink((folder + "/b").constData()), 0);
    const TFolderCatalogue listed = List(index, folder);
    ASSERT_EQ(listed.Renamed.size(), 1u);
    EXPECT_EQ(Described(folder, false, "c"), "second");

    EXPECT_FALSE((TEntryIdentity{7, 42, -1, -1, -1, true}.SameEntry({7, 42, -1, -1, -1, true})));
    EXPECT_FALSE((TEntryIdentity{7, 42, 10, 1, 1, false}.SameEntry({7, 42, 11, 1, 1, false})));
    EXPECT_TRUE((TEntryIdentity{7, 42, 10, 1, 1, false}.SameEntry({7, 42, 10, 2, 2, false})));
}

// The index is a cache: deleted between two runs, the next listing rebuilds what it needs.
TEST_F(IndexTest, IndexDeletedBetweenRunsIsRebuilt)
{
    const QByteArray folder = Dir.MakeDir("f");
    WriteFileBytes(folder + "/a.txt", "a");
    Describe(folder, false, "a.txt", "Lighthouse keeper");
    {
        TDescriptionIndex first(QFile::decodeName(IndexPath()));
        List(first, folder);
        ASSERT_EQ(first.Search(QStringLiteral("lighthouse")).size(), 1u);
    }
    ASSERT_EQ(::unlink(IndexPath().constData()), 0);
    TDescriptionIndex index(QFile::decodeName(IndexPath()));
    ASSERT_TRUE(index.IsUsable());
    EXPECT_TRUE(index.TakeProblem().isEmpty());
    EXPECT_TRUE(index.Search(QStringLiteral("lighthouse")).empty());
    List(index, folder);
    EXPECT_EQ(index.Search(QStringLiteral("lighthouse")).size(), 1u);
    ASSERT_EQ(::rename((folder + "/a.txt").constData(), (folder + "/b.txt").constData()), 0);
    EXPECT_EQ(List(index, folder).Renamed.size(), 1u);
}

// An index left by the first version (its full-text table with prefix indexes, the same rows
// otherwise): opened now, every live text is found again, in either encoding, the pruned
// descriptions stay for undo and the recorded identities still follow a rename.
TEST_F(IndexTest, IndexOfTheFirstVersionIsUpgradedAndKeepsEverything)
{
    const QByteArray folder = Dir.MakeDir("f");
    for (const char *name : {"utf8.txt", "legacy.txt", "gone.txt"})
        WriteFileBytes(folder + '/' + name, name);
    WriteFileBytes(folder + "/Folder.dnt", "[Files]\r\nutf8.txt=Café crème\r\nlegacy.txt=Caf\xe9 au lait\r\n"
                                           "gone.txt=Lighthouse keeper\r\n");
    {
        TDescriptionIndex current(QFile::decodeName(IndexPath()));
        List(current, folder);
        ASSERT_EQ(::unlink((folder + "/gone.txt").constData()), 0);
        List(current, folder);
        ASSERT_EQ(current.Pruned().size(), 1u);
    }
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(IndexPath().constData(), &db), SQLITE_OK);
    const int rc = sqlite3_exec(db,
                                "DROP TABLE texts;"
                                "CREATE VIRTUAL TABLE texts USING fts5(text, tokenize='unicode61 remove_diacritics 2',"
                                " prefix='1 2 3');"
                                "INSERT INTO texts(rowid, text) SELECT id, text FROM entries WHERE pruned IS NULL;"
                                "PRAGMA user_version=1;",
                                nullptr, nullptr, nullptr);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK);

    for (int opening = 0; opening < 2; ++opening) {
        TDescriptionIndex index(QFile::decodeName(IndexPath()));
        ASSERT_TRUE(index.IsUsable());
        EXPECT_TRUE(index.TakeProblem().isEmpty());
        QStringList texts;
        for (const TIndexHit &hit : index.Search(QStringLiteral("cafe")))
            texts << hit.Text;
        texts.sort();
        EXPECT_EQ(texts, (QStringList{QStringLiteral("Caf\u00e9 au lait"), QStringLiteral("Caf\u00e9 cr\u00e8me")}));
        EXPECT_TRUE(index.Search(QStringLiteral("lighthouse")).empty());
        ASSERT_EQ(index.Pruned().size(), 1u);
        EXPECT_EQ(index.Pruned()[0].Text, "Lighthouse keeper");
    }
    TDescriptionIndex index(QFile::decodeName(IndexPath()));
    ASSERT_EQ(::rename((folder + "/utf8.txt").constData(), (folder + "/renamed.txt").constData()), 0);
    EXPECT_EQ(List(index, folder).Renamed.size(), 1u);
    EXPECT_EQ(Described(folder, false, "renamed.txt"), "Café crème");
    EXPECT_EQ(index.Search(QStringLiteral("creme")).at(0).Name, "renamed.txt");
}

// Random bytes where the index should be: said once, replaced by a working index.
TEST_F(IndexTest, CorruptIndexIsReportedOnceAndReplaced)
{
    QByteArray noise(64 * 1024, '\0');
    for (char &c : noise)
        c = char(QRandomGenerator::global()->bounded(256));
    Dir.MakeDir("index");
    WriteFileBytes(IndexPath(), noise);
    const QByteArray folder = Dir.MakeDir("f");
    WriteFileBytes(folder + "/a.txt", "a");
    Describe(folder, false, "a.txt", "Still searchable");

    TDescriptionIndex index(QFile::decodeName(IndexPath()));
    ASSERT_TRUE(index.IsUsable());
    const QString problem = index.TakeProblem();
    EXPECT_TRUE(problem.contains(QStringLiteral("replaced"))) << problem.toStdString();
    EXPECT_TRUE(index.TakeProblem().isEmpty());
    List(index, folder);
    EXPECT_EQ(index.Search(QStringLiteral("still")).size(), 1u);
    EXPECT_TRUE(index.TakeProblem().isEmpty());
    EXPECT_NE(ReadFileBytes(IndexPath()).left(16), noise.left(16));
}

// Damage found after opening (the header intact, the pages not): said once, the index stops for
// this run and the next start begins a new one.
TEST_F(IndexTest, IndexFoundDamagedLaterIsReportedOnceAndStartsAnewNextTime)
{
    const QByteArray folder = Dir.MakeDir("f");
    WriteFileBytes(folder + "/a.txt", "a");
    Describe(folder, false, "a.txt", "Searchable again");
    {
        TDescriptionIndex first(QFile::decodeName(IndexPath()));
        List(first, folder);
    }
    QByteArray bytes = ReadFileBytes(IndexPath());
    ASSERT_GT(bytes.size(), 4096);
    for (qsizetype i = 4096; i < bytes.size(); ++i)
        bytes[i] = char(QRandomGenerator::global()->bounded(256));
    WriteFileBytes(IndexPath(), bytes);
    {
        TDescriptionIndex damaged(QFile::decodeName(IndexPath()));
        Describe(folder, false, "a.txt", "changed, so the update reads the index");
        List(damaged, folder);
        EXPECT_FALSE(damaged.IsUsable());
        EXPECT_TRUE(damaged.TakeProblem().contains(QStringLiteral("damaged")));
        EXPECT_TRUE(damaged.TakeProblem().isEmpty());
    }
    TDescriptionIndex index(QFile::decodeName(IndexPath()));
    ASSERT_TRUE(index.IsUsable());
    EXPECT_TRUE(index.TakeProblem().isEmpty());
    List(index, folder);
    EXPECT_EQ(index.Search(QStringLiteral("changed")).size(), 1u);
}

// An index that cannot be opened is said once; listing and pruning go on without it.
TEST_F(IndexTest, UnusableIndexIsReportedOnceAndListingsGoOn)
{
    WriteFileBytes(Dir.FilePath("index"), "a file where the index's folder should be");
    TDescriptionIndex index(QFile::decodeName(IndexPath()));
    EXPECT_FALSE(index.IsUsable());
    EXPECT_TRUE(index.TakeProblem().contains(QStringLiteral("cannot be used")));
    EXPECT_TRUE(index.TakeProblem().isEmpty());

    const QByteArray folder = Dir.MakeDir("f");
    WriteFileBytes(folder + "/b.txt", "b");
    Describe(folder, false, "a.txt", "stale");
    Describe(folder, false, "b.txt", "kept");
    const TFolderCatalogue listed = List(index, folder);
    ASSERT_EQ(listed.Files.size(), 1u);
    EXPECT_EQ(listed.Files[0].Description, "kept");
    EXPECT_EQ(Described(folder, false, "a.txt"), "");
    EXPECT_TRUE(index.Search(QStringLiteral("kept")).empty());
    EXPECT_TRUE(index.TakeProblem().isEmpty());
}

// Another process holding the index locked: the update gives up after its busy timeout, says so
// once, and the listings go on without the index.
TEST_F(IndexTest, LockedIndexIsReportedOnceAndListingsGoOn)
{
    const QByteArray folder = Dir.MakeDir("f");
    WriteFileBytes(folder + "/a.txt", "a");
    Describe(folder, false, "a.txt", "text");
    TDescriptionIndex index(QFile::decodeName(IndexPath()));
    ASSERT_TRUE(index.IsUsable());
    sqlite3 *other = nullptr;
    ASSERT_EQ(sqlite3_open(IndexPath().constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    List(index, folder);
    EXPECT_FALSE(index.IsUsable());
    EXPECT_TRUE(index.TakeProblem().contains(QStringLiteral("cannot be used")));
    const TFolderCatalogue listed = List(index, folder);
    EXPECT_TRUE(index.TakeProblem().isEmpty());
    ASSERT_EQ(listed.Files.size(), 1u);
    EXPECT_EQ(listed.Files[0].Description, "text");
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
}

// Work asked to stop, as closing asks it, ends at once whichever way it was held up: by its own
// length, or by another program holding the index (which a commit's row at closing waits for no
// more than an update does). Either way the index stays usable, says nothing, and is as it was,
// and the folder's next listing brings it up to date.
TEST_F(IndexTest, StoppedUpdateLeavesTheIndexAsItWasUntilTheFolderIsListedAgain)
{
    constexpr int kEntries = 400;
    for (const bool heldByAnother : {false, true}) {
        SCOPED_TRACE(heldByAnother ? "another program holds the index" : "a long update");
        const QByteArray folder = Dir.MakeDir(heldByAnother ? "held" : "long");
        const auto describeAll = [&](const QByteArray &word) {
            QByteArray file = "[Files]\r\n";
            for (int i = 0; i < kEntries; ++i)
                file += "file" + QByteArray::number(i) + ".txt=" + word + ' ' + QByteArray::number(i) + "\r\n";
            WriteFileBytes(folder + "/Folder.dnt", file);
        };
        for (int i = 0; i < kEntries; ++i)
            WriteFileBytes(folder + "/file" + QByteArray::number(i) + ".txt", "x");
        describeAll("earlierword");
        TDescriptionIndex index(QFile::decodeName(IndexPath()));
        List(index, folder);
        ASSERT_EQ(index.Search(QStringLiteral("earlierword"), kEntries, folder).size(), size_t(kEntries));

        describeAll("laterword");
        const TFolderCatalogue listed = ListAndPruneFolder(folder, {.Follower = &index});
        sqlite3 *other = nullptr;
        if (heldByAnother) {
            ASSERT_EQ(sqlite3_open(IndexPath().constData(), &other), SQLITE_OK);
            ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        }
        std::stop_source closing;
        closing.request_stop();
        index.SetStopToken(closing.get_token(), !heldByAnother);
        QElapsedTimer clock;
        clock.start();
        index.UpdateFolder(listed);
        // Without the stop, the lock is waited for 2 s.
        EXPECT_LT(clock.elapsed(), 500);
        if (other) {
            sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
            sqlite3_close(other);
        }
        EXPECT_TRUE(index.IsUsable());
        EXPECT_TRUE(index.TakeProblem().isEmpty());
        index.SetStopToken({});
        EXPECT_EQ(index.Search(QStringLiteral("earlierword"), kEntries, folder).size(), size_t(kEntries));
        EXPECT_TRUE(index.Search(QStringLiteral("laterword"), kEntries, folder).empty());

        List(index, folder);
        EXPECT_TRUE(index.Search(QStringLiteral("earlierword"), kEntries, folder).empty());
        EXPECT_EQ(index.Search(QStringLiteral("laterword"), kEntries, folder).size(), size_t(kEntries));
        EXPECT_TRUE(index.TakeProblem().isEmpty());
    }
}

// Word prefixes, any letter case, accents ignored; the user's text is never query syntax.
TEST_F(IndexTest, SearchFindsWordPrefixesWithoutAccents)
{
    const QByteArray a = Dir.MakeDir("a"), b = Dir.MakeDir("b");
    for (const QByteArray &name : {QByteArray("cafe.txt"), QByteArray("trip"), QByteArray("plain.txt")})
        WriteFileBytes(a + '/' + name, "x");
    WriteFileBytes(b + "/other.txt", "x");
    Describe(a, false, "cafe.txt", "Café crème in Zürich");
    Describe(a, false, "trip", "Holidays by the sea");
    Describe(a, false, "plain.txt", "\"quoted\" AND NEAR(words) *");
    Describe(b, false, "other.txt", "Another café");
    TDescriptionIndex index(QFile::decodeName(IndexPath()));
    List(index, a);
    List(index, b);

    auto names = [&index](const QString &query, const QByteArray &below = {}) {
        QList<QByteArray> found;
        for (const TIndexHit &hit : index.Search(query, 200, below))
            found << hit.Folder + hit.Name;
        std::sort(found.begin(), found.end());
        return found;
    };
    EXPECT_EQ(names(QStringLiteral("zur")), QList<QByteArray>{a + "/cafe.txt"});
    EXPECT_EQ(names(QStringLiteral("CREME")), QList<QByteArray>{a + "/cafe.txt"});
    EXPECT_EQ(names(QStringLiteral("caf")), (QList<QByteArray>{a + "/cafe.txt", b + "/other.txt"}));
    EXPECT_EQ(names(QStringLiteral("caf zü")), QList<QByteArray>{a + "/cafe.txt"});
    EXPECT_EQ(names(QStringLiteral("caf"), b), QList<QByteArray>{b + "/other.txt"});
    EXPECT_TRUE(names(QStringLiteral("holidays zurich")).isEmpty());
    EXPECT_TRUE(names(QStringLiteral("afe")).isEmpty()); // prefixes, not inner parts
    EXPECT_EQ(names(QStringLiteral("\"quoted\" AND NEAR(")), QList<QByteArray>{a + "/plain.txt"});
    EXPECT_TRUE(names(QStringLiteral("\"")).isEmpty());
    EXPECT_TRUE(index.IsUsable());
    EXPECT_TRUE(index.TakeProblem().isEmpty());

    const std::vector<TIndexHit> hits = index.Search(QStringLiteral("zur"));
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].Text, QStringLiteral("Café crème in Zürich"));
    EXPECT_EQ(hits[0].Snippet, QStringLiteral("Café crème in \x01Zürich\x02"));
    EXPECT_FALSE(hits[0].IsFolder);
    EXPECT_EQ(index.Search(QStringLiteral("caf"), 1).size(), 1u);
}

// Pruned descriptions: newest first, gone after 90 days, and forgotten on request.
TEST_F(IndexTest, PrunedDescriptionsAreKeptNinetyDaysAndCanBeForgotten)
{
    const QByteArray folder = Dir.MakeDir("f");
    QDateTime now = QDateTime::currentDateTimeUtc();
    TDescriptionIndex index(QFile::decodeName(IndexPath()));
    index.SetClock([&now] { return now; });
    for (const QByteArray &name : {QByteArray("first"), QByteArray("second")}) {
        WriteFileBytes(folder + '/' + name, "x");
        Describe(folder, false, name, "about " + name);
        List(index, folder);
        ASSERT_EQ(::unlink((folder + '/' + name).constData()), 0);
        List(index, folder);
        now = now.addSecs(60);
    }
    // Pruned by the listing without ever being indexed: kept for undo all the same.
    Describe(folder, false, "never indexed", "about the unknown");
    List(index, folder);

    std::vector<TPrunedDescription> pruned = index.Pruned();
    ASSERT_EQ(pruned.size(), 3u);
    EXPECT_EQ(pruned[0].Name, "never indexed");
    EXPECT_EQ(pruned[1].Name, "second");
    EXPECT_EQ(pruned[1].Text, "about second");
    EXPECT_EQ(pruned[1].Folder, folder + '/');
    EXPECT_FALSE(pruned[1].IsFolder);
    EXPECT_EQ(pruned[2].Name, "first");
    index.ForgetPruned(pruned[1].Id);
    pruned = index.Pruned();
    ASSERT_EQ(pruned.size(), 2u);
    EXPECT_EQ(pruned[1].Name, "first");

    now = now.addDays(90);
    EXPECT_EQ(index.Pruned().size(), 1u); // "first" was pruned a minute earlier
    now = now.addSecs(3600);
    EXPECT_TRUE(index.Pruned().empty());
}

// Indexing a tree of 10,000 folders reports its progress; cancelled half-way, what was indexed
// is searchable, and a second walk completes it.
TEST_F(IndexTest, TreeIndexingCancelledHalfWayLeavesAUsableIndex)
{
    const QByteArray root = Dir.MakeDir("tree");
    constexpr int kTop = 100, kEach = 99; // 100 + 100 * 99 + the root = 10,001 folders
    for (int i = 0; i < kTop; ++i) {
        const QByteArray top = root + "/t" + QByteArray::number(i);
        ASSERT_EQ(::mkdir(top.constData(), 0755), 0);
        WriteFileBytes(top + "/Folder.dnt", "[Files]\r\nnote.txt=Treenote top " + QByteArray::number(i) + "\r\n");
        for (int j = 0; j < kEach; ++j) {
            const QByteArray sub = top + "/s" + QByteArray::number(j);
            ASSERT_EQ(::mkdir(sub.constData(), 0755), 0);
            if (j % 11 == 0)
                WriteFileBytes(sub + "/Folder.dnt", "[Files]\r\nnote.txt=Treenote leaf\r\n");
        }
    }
    constexpr qint64 kFolders = kTop + kTop * kEach + 1;
    TDescriptionIndex index(QFile::decodeName(IndexPath()));
    qint64 calls = 0, lastDone = 0;
    bool ordered = true;
    const bool finished = index.IndexTree(root, [&](const TTreeProgress &p) {
        ++calls;
        // Nothing is indexed while the tree is counted; then one folder a call.
        ordered = ordered && (p.Counted ? p.FoldersDone == lastDone + 1 : p.FoldersDone == 0)
                  && p.FoldersSeen >= p.FoldersDone && p.Current.startsWith(root);
        lastDone = p.FoldersDone;
        return p.FoldersDone < kFolders / 2;
    });
    EXPECT_FALSE(finished);
    EXPECT_TRUE(ordered);
    EXPECT_GT(calls, 100);
    EXPECT_EQ(lastDone, kFolders / 2);
    ASSERT_TRUE(index.IsUsable());
    // Each top folder and every 11th leaf has one description: 1,000 in all.
    constexpr qsizetype kDescribed = kTop + kTop * (kEach / 11);
    const qsizetype halfWay = qsizetype(index.Search(QStringLiteral("treenote"), 100000).size());
    EXPECT_GE(halfWay, kDescribed / 2 - kDescribed / 10);
    EXPECT_LE(halfWay, kDescribed / 2 + kDescribed / 10);

    qint64 seen = 0;
    EXPECT_TRUE(index.IndexTree(root, [&seen](const TTreeProgress &p) {
        seen = p.FoldersSeen;
        return true;
    }));
    EXPECT_EQ(seen, kFolders);
    EXPECT_EQ(qsizetype(index.Search(QStringLiteral("treenote"), 100000).size()), kDescribed);
    EXPECT_EQ(index.Search(QStringLiteral("treenote top"), 100000).size(), size_t(kTop));
}

// A tree of a few hundred folders of uneven width and depth (as a user's are), with a hidden
// folder and a link to a folder, which is not walked.
TEST_F(IndexTest, TreeIndexingProgressesEvenlyAndEndsWithTheCountOfTheFoldersIndexed)
{
    const QByteArray root = Dir.MakeDir("tree");
    for (int i = 0; i < 20; ++i) {
        const QByteArray top = root + "/t" + QByteArray::number(i);
        ASSERT_EQ(::mkdir(top.constData(), 0755), 0);
        for (int j = 0; j < (i * 7) % 23; ++j) {
            const QByteArray sub = top + "/s" + QByteArray::number(j);
            ASSERT_EQ(::mkdir(sub.constData(), 0755), 0);
            for (int k = 0; k < j % 3; ++k)
                ASSERT_EQ(::mkdir((sub + "/d" + QByteArray::number(k)).constData(), 0755), 0);
        }
    }
    ASSERT_EQ(::mkdir((root + "/.hidden").constData(), 0755), 0);
    ASSERT_EQ(::symlink("t3", (root + "/link").constData()), 0);
    WriteFileBytes(root + "/t5/Folder.dnt", "[Files]\r\nnote.txt=Evenword\r\n");
    // The test's own count, links not followed; the root is a folder of the tree too.
    qint64 folders = 1;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(root.constData()))
        folders += entry.is_directory() && !entry.is_symlink();
    ASSERT_GT(folders, 300);

    TDescriptionIndex index(QFile::decodeName(IndexPath()));
    std::vector<TTreeProgress> calls;
    ASSERT_TRUE(index.IndexTree(root, [&calls](const TTreeProgress &p) {
        calls.push_back(p);
        return true;
    }));
    ASSERT_FALSE(calls.empty());
    // The bar's share: nothing until the tree is counted, then done of a total that stays.
    double lastShare = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(i);
        const TTreeProgress &p = calls[i];
        const double share = p.Counted ? double(p.FoldersDone) / double(p.FoldersSeen) : 0.0;
        EXPECT_GE(share, lastShare);
        if (i + 1 < calls.size()) {
            EXPECT_LT(share, 1.0);
        }
        if (p.Counted) {
            EXPECT_EQ(p.FoldersSeen, folders);
        }
        lastShare = share;
    }
    EXPECT_TRUE(calls.back().Counted);
    EXPECT_EQ(calls.back().FoldersDone, folders);
    EXPECT_EQ(calls.back().FoldersSeen, folders);
    EXPECT_EQ(index.Search(QStringLiteral("evenword")).size(), 1u);
}

namespace {
// Gives each stale key the undescribed entry named in its map.
class TNamedFollower : public TRenameFollower {
public:
    explicit TNamedFollower(QHash<QByteArray, QByteArray> renames) : FRenames(std::move(renames)) {}
    std::vector<qsizetype> FollowRenames(const QByteArray &, bool, const std::vector<TStaleKey> &stale,
                                         const std::vector<QByteArray> &undescribed) override
    {
        std::vector<qsizetype> owners;
        for (const TStaleKey &key : stale) {
            const auto to = std::find(undescribed.begin(), undescribed.end(), FRenames.value(key.Key));
            owners.push_back(to == undescribed.end() ? -1 : qsizetype(to - undescribed.begin()));
        }
        return owners;
    }

private:
    QHash<QByteArray, QByteArray> FRenames;
};

// How many times the description file was replaced, by the folder's events.
int DescriptionFileWrites(int notify)
{
    int writes = 0;
    alignas(inotify_event) char buffer[8192];
    pollfd pfd{notify, POLLIN, 0};
    while (::poll(&pfd, 1, 0) > 0) {
        const ssize_t n = ::read(notify, buffer, sizeof buffer);
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if ((event->mask & IN_MOVED_TO) && event->len && std::strcmp(event->name, "Folder.dnt") == 0)
                ++writes;
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
    return writes;
}
} // namespace

// A followed rename, with other keys pruned around it, is one write of the description file.
TEST(RenameFollowing, NewKeyAndPrunedKeysLandInOneWrite)
{
    TTempDir dir;
    const QByteArray folder = dir.MakeDir("f");
    for (const char *name : {"new.txt", "kept.txt"})
        WriteFileBytes(folder + '/' + name, "x");
    WriteFileBytes(folder + "/Folder.dnt", "[Files]\r\nold.txt=moved text\r\nkept.txt=k\r\ngone.txt=stale\r\n");
    const int notify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(notify, 0);
    // Every write of this file puts a new file in its place by a rename; watching both halves of
    // a rename keeps two of them from merging into one event.
    ASSERT_GE(::inotify_add_watch(notify, folder.constData(), IN_MOVED_FROM | IN_MOVED_TO), 0);
    TNamedFollower follower({{"old.txt", "new.txt"}});
    const TFolderCatalogue listed = ListAndPruneFolder(folder, {.Follower = &follower});
    EXPECT_EQ(DescriptionFileWrites(notify), 1);
    ::close(notify);
    ASSERT_EQ(listed.Renamed.size(), 1u);
    ASSERT_EQ(listed.PrunedFiles.size(), 1u);
    EXPECT_EQ(listed.PrunedFiles[0].Key, "gone.txt");
    EXPECT_EQ(listed.PrunedFiles[0].Value, "stale");
    EXPECT_EQ(ReadFileBytes(folder + "/Folder.dnt"), "[Files]\r\nkept.txt=k\r\nnew.txt=moved text\r\n");
}

// The index holds the descriptions of private folders. Under a 022 umask, in its folder left 0755
// by an older version (empty, or with files left 0644), the folder ends 0700 and the database
// with its -wal and -shm files 0600: no other user can read them.
TEST(DescriptionIndexFiles, AreTheUsersAloneWhateverTheUmaskAndWhatWasThere)
{
    struct TUmask {
        mode_t Old = ::umask(022);
        ~TUmask() { ::umask(Old); }
    } umask022;
    for (const bool leftOpen : {false, true}) {
        SCOPED_TRACE(leftOpen ? "files left 0644" : "an empty folder left 0755");
        TTempDir dir;
        const QByteArray folder = dir.MakeDir("KER-MOSS") + "/DirNote";
        const QByteArray file = folder + "/index.sqlite";
        ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
        if (leftOpen) {
            // An older run's files, as SQLite made them under this umask; copied before the
            // index is closed, so the -wal and -shm files stay.
            sqlite3 *old = nullptr;
            ASSERT_EQ(sqlite3_open(file.constData(), &old), SQLITE_OK);
            ASSERT_EQ(sqlite3_exec(old, "PRAGMA journal_mode=WAL; CREATE TABLE t(x); INSERT INTO t VALUES (1)", nullptr,
                                   nullptr, nullptr),
                      SQLITE_OK);
            for (const char *suffix : {"", "-wal", "-shm"})
                WriteFileBytes(dir.FilePath(QByteArray("copy") + suffix), ReadFileBytes(file + suffix));
            sqlite3_close(old);
            for (const char *suffix : {"", "-wal", "-shm"}) {
                WriteFileBytes(file + suffix, ReadFileBytes(dir.FilePath(QByteArray("copy") + suffix)));
                ASSERT_EQ(::chmod((file + suffix).constData(), 0644), 0);
            }
        }
        const QByteArray listed = dir.MakeDir("listed");
        WriteFileBytes(listed + "/a.txt", "a");
        WriteFileBytes(listed + "/Folder.dnt", "[Files]\r\na.txt=Private words\r\n");
        TDescriptionIndex index(QFile::decodeName(file));
        ASSERT_TRUE(index.IsUsable()) << index.TakeProblem().toStdString();
        index.UpdateFolder(ListAndPruneFolder(listed, {.Follower = &index}));
        ASSERT_EQ(index.Search(QStringLiteral("private")).size(), 1u);
        auto mode = [](const QByteArray &path) {
            struct stat st;
            return ::stat(path.constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
        };
        EXPECT_EQ(mode(folder), 0700);
        for (const char *suffix : {"", "-wal", "-shm"})
            EXPECT_EQ(mode(file + suffix), 0600) << suffix;
    }
}

// The default place of the index follows XDG_DATA_HOME.
TEST(DescriptionIndexPath, FollowsXdgDataHome)
{
    EXPECT_EQ(DefaultIndexPath(),
              QFile::decodeName(qgetenv("XDG_DATA_HOME")) + QStringLiteral("/KER-MOSS/DirNote/index.sqlite"));
}
