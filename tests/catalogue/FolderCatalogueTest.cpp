// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/DescriptionFile.h"
#include "catalogue/FolderCatalogue.h"
#include "catalogue/ProfileFile.h"

#include "CatalogueSupport.h"
#include "FullDisk.h"
#include "TestSupport.h"

#include "common/AtomicFile.h"
#include "common/Exceptions.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <ostream>
#include <random>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

using namespace TestSupport;

namespace {
QList<QByteArray> Names(const std::vector<TCatalogueEntry> &entries)
{
    QList<QByteArray> names;
    for (const auto &e : entries)
        names.append(e.Name);
    return names;
}

// A directory reader that fails with EIO once it has returned FailAfter entries.
int FailAfter = 0;
int Returned = 0;
dirent *FailingReader(DIR *dir)
{
    if (Returned >= FailAfter) {
        errno = EIO;
        return nullptr;
    }
    ++Returned;
    return ::readdir(dir);
}

const QByteArray kDescribedFolder = "[ThisFolder]\r\nText0=t\r\n\r\n[Folders]\r\nsub=folder\r\n\r\n"
                                    "[Files]\r\na.txt=A\r\nb.txt=B\r\nc.txt=C\r\nd.txt=D\r\ngone.txt=stale\r\n";
} // namespace

TEST(FolderCatalogue, ListsWhatAUserExpectsAndSkipsWhatItMust)
{
    TTempDir dir;
    dir.MakeDir("sub");
    dir.MakeDir(".hidden dir");
    dir.MakeDir("FOLDER.DNT"); // a folder of that name is listed
    dir.MakeDir("a=b dir");
    dir.WriteFile("file.txt", "x");
    dir.WriteFile(".hidden", "x");
    dir.WriteFile("folder.Dnt", "[Files]\r\n"); // the description file itself is never listed
    dir.WriteFile("x=y.txt", "x");
    ::symlink("sub", dir.FilePath("link to sub").constData());
    ::symlink("nowhere", dir.FilePath("dangling").constData());
    // Temporary files of the description file's writer left by a crash are no files of the
    // user's; names that merely look alike are.
    dir.WriteFile(".Folder.dnt.4242.0", "x");
    dir.WriteFile(".folder.DNT.7.12", "x");
    dir.WriteFile(".Folder.dnt.backup", "x");
    dir.WriteFile(".Folder.dnt.12.x", "x");
    dir.MakeDir(".Folder.dnt.5.6");

    TFolderCatalogue c;
    ScanFolder(dir.Path() + '/', c);
    QList<QByteArray> folders = Names(c.Folders), files = Names(c.Files);
    std::sort(folders.begin(), folders.end());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(folders, (QList<QByteArray>{".Folder.dnt.5.6", ".hidden dir", "FOLDER.DNT", "link to sub", "sub"}));
    EXPECT_EQ(files, (QList<QByteArray>{".Folder.dnt.12.x", ".Folder.dnt.backup", ".hidden", "dangling", "file.txt"}));
    EXPECT_TRUE(c.Error.isEmpty());
}

TEST(FolderCatalogue, DescriptionsAreFoundAndStaleKeysPrunedWithoutRegardToCase)
{
    TTempDir dir;
    dir.MakeDir("Docs");
    dir.WriteFile("README.TXT", "x");
    dir.WriteFile("Folder.dnt", "[ThisFolder]\r\nText0=t\r\n\r\n"
                                "[Folders]\r\ndocs=the documents\r\ngone=old folder\r\n\r\n"
                                "[Files]\r\nvanished.txt=old\r\nreadme.txt=read me\r\n\r\n");
    const TFolderCatalogue c = ListAndPruneFolder(dir.Path());
    EXPECT_EQ(c.Folder, dir.Path() + '/');
    EXPECT_EQ(c.DescPath, dir.Path() + "/Folder.dnt");
    ASSERT_EQ(c.Folders.size(), 1u);
    EXPECT_EQ(c.Folders[0].Description, QByteArray("the documents"));
    ASSERT_EQ(c.Files.size(), 1u);
    EXPECT_EQ(c.Files[0].Description, QByteArray("read me"));
    EXPECT_EQ(ReadFileBytes(c.DescPath), QByteArray("[ThisFolder]\r\nText0=t\r\n\r\n"
                                                    "[Folders]\r\ndocs=the documents\r\n\r\n"
                                                    "[Files]\r\nreadme.txt=read me\r\n\r\n"));
    // Pruning that empties a section keeps its header.
    ::unlink(dir.FilePath("README.TXT").constData());
    ListAndPruneFolder(dir.Path() + '/');
    EXPECT_TRUE(ReadFileBytes(c.DescPath).endsWith("[Files]\r\n\r\n"));
}

TEST(FolderCatalogue, KeysBeyondTheKeyListAreShownButNotPruned)
{
    TTempDir dir;
    QByteArray content = "[Files]\r\n";
    for (int i = 0; i < 1000; ++i)
        content += "stale" + QByteArray::number(i).rightJustified(15, '0') + "=old\r\n";
    dir.WriteFile("late.txt", "x");
    content += "late.txt=described late\r\n";
    dir.WriteFile("Folder.dnt", content);
    const TFolderCatalogue c = ListAndPruneFolder(dir.Path());
    ASSERT_EQ(c.Files.size(), 1u);
    EXPECT_EQ(c.Files[0].Description, QByteArray("described late"));
    ProfileFile p(c.DescPath);
    // The first 780 stale keys fitted the key list and went; the rest stay.
    EXPECT_EQ(p.ReadString("Files", "stale000000000000779"), QByteArray());
    EXPECT_EQ(p.ReadString("Files", "stale000000000000781"), QByteArray("old"));
}

TEST(FolderCatalogue, CreationErrorsUseTheRuntimeMessages)
{
    EXPECT_EQ(FileErrorMessage(EACCES), QStringLiteral("File access denied"));
    EXPECT_EQ(FileErrorMessage(EROFS), QStringLiteral("File access denied"));
    EXPECT_EQ(FileErrorMessage(ENOSPC), QStringLiteral("Disk full"));
    EXPECT_EQ(FileErrorMessage(ENOENT), QStringLiteral("File not found"));
    EXPECT_EQ(FileErrorMessage(EMFILE), QStringLiteral("Too many open files"));
    EXPECT_EQ(FileErrorMessage(EIO), QStringLiteral("I/O error 5"));
    TTempDir dir;
    try {
        CreateDescriptionFile(dir.FilePath("missing/Folder.dnt"));
        FAIL() << "created a file in a missing folder";
    } catch (const TException &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("File not found"));
    }
    if (::geteuid() != 0) {
        ::chmod(dir.Path().constData(), 0555);
        try {
            CreateDescriptionFile(dir.FilePath("Folder.dnt"));
            FAIL() << "created a file in a read-only folder";
        } catch (const TException &e) {
            EXPECT_EQ(e.Message(), QStringLiteral("File access denied"));
        }
        ::chmod(dir.Path().constData(), 0755);
    }
}

TEST(FolderCatalogue, DescriptionsReadAsTheProfileReadsThemInBothTables)
{
    // Values the read changes (quotes, a NUL, beyond the read limit) and values it does not.
    const QByteArray longValue = QByteArray(2046, 'x') + "\xc3\xa9" + "tail";
    const std::pair<QByteArray, QByteArray> values[] = {{"plain", "a plain description"},
                                                        {"quoted", "\"in quotes\""},
                                                        {"single", "'single'"},
                                                        {"half", "\"half quoted"},
                                                        {"nul", QByteArray("be\0fore", 7)},
                                                        {"long", longValue},
                                                        {"blanks", "  blanks around \t "},
                                                        {"empty", ""}};
    TTempDir dir;
    QByteArray content;
    for (const char *section : {"Folders", "Files"}) {
        content += "[" + QByteArray(section) + "]\r\n";
        for (const auto &[name, value] : values) {
            const QByteArray entry = section[1] == 'o' ? "dir " + name : name + ".txt";
            if (section[1] == 'o')
                dir.MakeDir(entry);
            else
                dir.WriteFile(entry, "x");
            content += entry + "=" + value + "\r\n";
        }
    }
    dir.WriteFile("Folder.dnt", content);
    const TFolderCatalogue c = ListAndPruneFolder(dir.Path());
    ProfileFile profile(c.DescPath);
    for (const auto &[section, entries] : {std::pair{"Folders", &c.Folders}, std::pair{"Files", &c.Files}}) {
        ASSERT_EQ(entries->size(), std::size(values)) << section;
        for (const TCatalogueEntry &entry : *entries) {
            EXPECT_EQ(entry.Description, profile.ReadString(section, entry.Name))
                << section << " " << entry.Name.constData();
            // Names and descriptions end with a NUL, as every byte array's bytes do: they are
            // handed to the system's calls as they are.
            EXPECT_EQ(entry.Name.constData()[entry.Name.size()], '\0');
            EXPECT_EQ(entry.Description.constData()[entry.Description.size()], '\0');
        }
    }
    EXPECT_EQ(profile.ReadString("Files", "long.txt").size(), 2046) << "cut before the character the limit splits";
}

TEST(FolderCatalogue, ALargeFolderGetsEveryDescriptionRight)
{
    // Large enough that the look-ups are shared between two cores.
    TTempDir dir;
    QByteArray content = "[Files]\r\n";
    constexpr int kFiles = 20000;
    for (int i = 0; i < kFiles; ++i) {
        const QByteArray name = "f" + QByteArray::number(i) + (i % 3 ? ".txt" : ".TXT");
        dir.WriteFile(name, QByteArray());
        // Stored keys in other letter case and in another order than the folder's.
        content += "F" + QByteArray::number(kFiles - 1 - i) + ((kFiles - 1 - i) % 3 ? ".TXT" : ".txt") + "=about "
                   + QByteArray::number(kFiles - 1 - i) + "\r\n";
    }
    dir.WriteFile("Folder.dnt", content);
    const TFolderCatalogue c = ListAndPruneFolder(dir.Path());
    ASSERT_EQ(c.Files.size(), size_t(kFiles));
    for (int row = 0; row < kFiles; ++row) {
        const TCatalogueEntry &entry = c.Files[size_t(row)];
        const QByteArray number = entry.Name.mid(1, entry.Name.indexOf('.') - 1);
        ASSERT_EQ(entry.Description, "about " + number) << entry.Name.constData();
        ASSERT_EQ(number, QByteArray::number(row)) << "natural order, sorted by both threads";
    }
}

TEST(FolderCatalogue, AFolderThatCannotBeListedWhollyIsReportedShowsWhatWasReadAndPrunesNothing)
{
    // The enumeration fails at once, and part-way after "." and ".." and one to three entries.
    for (const int failAfter : {0, 3, 5}) {
        SCOPED_TRACE(failAfter);
        TTempDir dir;
        dir.MakeDir("sub");
        for (const char *name : {"a.txt", "b.txt", "c.txt", "d.txt"})
            dir.WriteFile(name, "x");
        dir.WriteFile("Folder.dnt", kDescribedFolder);
        FailAfter = failAfter;
        Returned = 0;
        const TFolderCatalogue c = ListAndPruneFolder(dir.Path(), {.Reader = FailingReader});
        EXPECT_EQ(c.Error, QStringLiteral("Unable to list the folder ") + QString::fromUtf8(dir.Path()) + u'/');
        EXPECT_LT(c.Folders.size() + c.Files.size(), 5u);
        for (const TCatalogueEntry &e : c.Files)
            EXPECT_EQ(e.Description, e.Name.left(1).toUpper()) << e.Name.constData();
        EXPECT_EQ(ReadFileBytes(dir.FilePath("Folder.dnt")), kDescribedFolder);
    }
}

TEST(FolderCatalogue, AFolderThatCannotBeOpenedIsReported)
{
    TTempDir dir;
    const TFolderCatalogue vanished = ListAndPruneFolder(dir.FilePath("vanished"));
    EXPECT_EQ(vanished.Error,
              QStringLiteral("Unable to list the folder ") + QString::fromUtf8(dir.FilePath("vanished")) + u'/');

    if (::geteuid() == 0)
        GTEST_SKIP() << "root lists a folder without read permission";
    const QByteArray photos = dir.MakeDir("photos");
    dir.WriteFile("photos/a.txt", "x");
    dir.WriteFile("photos/Folder.dnt", kDescribedFolder);
    ::chmod(photos.constData(), 0311); // may be entered and written, not read
    const TFolderCatalogue c = ListAndPruneFolder(photos);
    ::chmod(photos.constData(), 0755);
    EXPECT_EQ(c.Error, QStringLiteral("Unable to list the folder ") + QString::fromUtf8(photos) + u'/');
    EXPECT_TRUE(c.Files.empty());
    EXPECT_EQ(ReadFileBytes(photos + "/Folder.dnt"), kDescribedFolder);
}

TEST(FolderCatalogue, RowsAreSortedAsFileManagersSortNames)
{
    TTempDir dir;
    const QList<QByteArray> sorted = {"A1", "b", "file1", "File2", "file10", "Sub", "sub"};
    // Created in another order; both tables are sorted alike.
    dir.MakeDir("files");
    dir.MakeDir("folders");
    for (const char *name : {"sub", "file10", "b", "File2", "Sub", "A1", "file1"}) {
        dir.MakeDir("folders/" + QByteArray(name));
        dir.WriteFile("files/" + QByteArray(name), "x");
    }
    // The C locale, which knows no natural number order of its own, sorts as the others do.
    const QLocale userLocale;
    for (const QLocale &locale : {QLocale::c(), QLocale(QLocale::German, QLocale::Germany)}) {
        SCOPED_TRACE(locale.name().toStdString());
        QLocale::setDefault(locale);
        EXPECT_EQ(Names(ListAndPruneFolder(dir.FilePath("folders")).Folders), sorted);
        EXPECT_EQ(Names(ListAndPruneFolder(dir.FilePath("files")).Files), sorted);
    }
    QLocale::setDefault(userLocale);
}

namespace {
// Follows nothing; when first asked, makes what another program creates while the folder is
// listed: after the folder was read, before the listing's write.
class TCreatingFollower : public TRenameFollower {
public:
    explicit TCreatingFollower(std::function<void()> create) : FCreate(std::move(create)) {}
    std::vector<qsizetype> FollowRenames(const QByteArray &, bool, const std::vector<TStaleKey> &stale,
                                         const std::vector<QByteArray> &) override
    {
        return std::vector<qsizetype>(stale.size(), -1);
    }
    std::vector<TDescriptionMove> FollowIdentities(const QByteArray &, const TFollowedTable &) override
    {
        if (FCreate)
            std::exchange(FCreate, {})();
        return {};
    }

private:
    std::function<void()> FCreate;
};
} // namespace

// A key is pruned only when its entry is gone at the moment of the write: files and folders
// created after the folder was read keep their descriptions. A name that turned up as the other
// kind, the description file and a key no name can be are pruned as before.
TEST(FolderCatalogue, KeysOfEntriesCreatedWhileListingAreKept)
{
    TTempDir dir;
    dir.WriteFile("here.txt", "x");
    dir.WriteFile("Folder.dnt", "[Folders]\r\nlate dir=a folder made meanwhile\r\ngone dir=old folder\r\n\r\n"
                                "[Files]\r\nhere.txt=kept\r\nlate.txt=a file made meanwhile\r\n"
                                "late link=a link made meanwhile\r\nnow a folder=was a file\r\n"
                                "Folder.dnt=never an entry\r\nsub/inner=not a name\r\ngone.txt=stale\r\n");
    dir.MakeDir("sub");
    const QByteArray path = dir.Path();
    TCreatingFollower follower([&] {
        WriteFileBytes(path + "/late.txt", "new");
        ASSERT_EQ(::symlink("nowhere", (path + "/late link").constData()), 0);
        ASSERT_EQ(::mkdir((path + "/late dir").constData(), 0755), 0);
        ASSERT_EQ(::mkdir((path + "/now a folder").constData(), 0755), 0);
        WriteFileBytes(path + "/sub/inner", "x");
    });
    const TFolderCatalogue c = ListAndPruneFolder(path, {.Follower = &follower});
    EXPECT_EQ(ReadFileBytes(c.DescPath), "[Folders]\r\nlate dir=a folder made meanwhile\r\n\r\n"
                                         "[Files]\r\nhere.txt=kept\r\nlate.txt=a file made meanwhile\r\n"
                                         "late link=a link made meanwhile\r\n");
    QList<QByteArray> pruned;
    for (const auto *table : {&c.PrunedFolders, &c.PrunedFiles})
        for (const TStaleKey &key : *table)
            pruned << key.Key + '=' + key.Value;
    EXPECT_EQ(pruned, (QList<QByteArray>{"gone dir=old folder", "now a folder=was a file", "Folder.dnt=never an entry",
                                         "sub/inner=not a name", "gone.txt=stale"}));
}

namespace {
// Swaps the descriptions of c and d and gives the stale key "gone" to e; may first change c's
// description as another program would while the folder is listed.
class TSwappingFollower : public TRenameFollower {
public:
    TSwappingFollower(QByteArray descPath, bool changeMeanwhile)
        : FDescPath(std::move(descPath)), FChange(changeMeanwhile)
    {
    }
    std::vector<qsizetype> FollowRenames(const QByteArray &, bool, const std::vector<TStaleKey> &stale,
                                         const std::vector<QByteArray> &) override
    {
        return std::vector<qsizetype>(stale.size(), -1);
    }
    std::vector<TDescriptionMove> FollowIdentities(const QByteArray &, const TFollowedTable &table) override
    {
        if (table.IsFolder)
            return {};
        if (FChange)
            WriteFileBytes(FDescPath, "[Files]\r\nc=typed meanwhile\r\nd=desc-d\r\ngone=stale\r\n");
        auto row = [&table](const char *name) {
            const auto &entries = *table.Entries;
            return qsizetype(std::find_if(entries.begin(), entries.end(),
                                          [name](const TCatalogueEntry &e) { return e.Name == name; })
                             - entries.begin());
        };
        return {{false, row("c"), row("d")}, {false, row("d"), row("c")}, {true, 0, row("e")}};
    }

private:
    QByteArray FDescPath;
    bool FChange;
};
} // namespace

// Descriptions move between entries in the listing's write only while the file holds them as
// listed: one changed by another program meanwhile stays where it is, and the swap is dropped
// whole; a renamed key goes to its undescribed entry either way.
TEST(FolderCatalogue, DescriptionsMoveBetweenEntriesOnlyWhileAsListed)
{
    for (const bool changeMeanwhile : {false, true}) {
        SCOPED_TRACE(changeMeanwhile ? "changed meanwhile" : "as listed");
        TTempDir dir;
        for (const char *name : {"c", "d", "e"})
            dir.WriteFile(name, name);
        dir.WriteFile("Folder.dnt", "[Files]\r\nc=desc-c\r\nd=desc-d\r\ngone=stale\r\n");
        TSwappingFollower follower(dir.FilePath("Folder.dnt"), changeMeanwhile);
        const TFolderCatalogue c = ListAndPruneFolder(dir.Path(), {.Follower = &follower});
        EXPECT_EQ(ReadFileBytes(c.DescPath), changeMeanwhile ? "[Files]\r\nc=typed meanwhile\r\nd=desc-d\r\ne=stale\r\n"
                                                             : "[Files]\r\nc=desc-d\r\nd=desc-c\r\ne=stale\r\n");
        EXPECT_EQ(c.Renamed.size(), changeMeanwhile ? 1u : 3u);
        EXPECT_TRUE(c.PrunedFiles.empty());
        for (const TCatalogueEntry &entry : c.Files) {
            // The window shows what the file says (c as read before it was changed).
            if (entry.Name != "c" || !changeMeanwhile) {
                EXPECT_EQ(entry.Description, ProfileFile(c.DescPath).ReadString("Files", entry.Name))
                    << entry.Name.constData();
            }
        }
    }
}

namespace {
// Gives the stale key "moved" to the undescribed entry "renamed", as the index does for a file
// renamed by another program: with such a move the listing's write edits the whole file, without
// one it only cuts lines out.
class TRenamingFollower : public TRenameFollower {
public:
    // What another program does while the folder is listed.
    std::function<void()> Meanwhile;
    std::vector<qsizetype> FollowRenames(const QByteArray &, bool, const std::vector<TStaleKey> &stale,
                                         const std::vector<QByteArray> &undescribed) override
    {
        if (Meanwhile)
            std::exchange(Meanwhile, nullptr)();
        std::vector<qsizetype> owners(stale.size(), -1);
        const auto renamed = std::find(undescribed.begin(), undescribed.end(), QByteArray("renamed"));
        for (size_t k = 0; k < stale.size(); ++k)
            if (stale[k].Key == "moved" && renamed != undescribed.end())
                owners[k] = qsizetype(renamed - undescribed.begin());
        return owners;
    }
};

struct TFailedWrite {
    const char *Name;
    bool Folders;  // the table whose keys are stale
    bool WithMove; // a followed rename: the write that edits the whole file, else the cut
};

void PrintTo(const TFailedWrite &c, std::ostream *os)
{
    *os << c.Name;
}

class FolderCatalogueFailedWrite : public ::testing::TestWithParam<TFailedWrite> {};
} // namespace

// A listing whose write cannot be made (a full disk) claims nothing it did not write: no key is
// reported pruned, no description followed its renamed entry, and the rows show what the file
// holds; the listing says that the file could not be written. A second listing, with room, does all of it.
TEST_P(FolderCatalogueFailedWrite, NothingIsClaimedPrunedOrFollowedWhenTheWriteFails)
{
    const TFailedWrite c = GetParam();
    TTempDir dir;
    for (const char *name : {"kept", "renamed"}) {
        if (c.Folders)
            dir.MakeDir(name);
        else
            dir.WriteFile(name, "x");
    }
    const char *section = c.Folders ? kSectionFolders : kSectionFiles;
    QByteArray bytes = QByteArray("[") + section + "]\r\nkept=still here\r\ngone=old text\r\nmoved=renamed text\r\n";
    // More than the disk takes: the new file cannot be written whole.
    bytes += "\r\n[Notes]\r\n";
    for (int i = 0; i < 200; ++i)
        bytes += "note" + QByteArray::number(i) + "=a line of the file that takes room\r\n";
    const QByteArray path = dir.WriteFile("Folder.dnt", bytes);
    TRenamingFollower follower;
    const TListingOptions options{.Follower = c.WithMove ? &follower : nullptr};
    const auto described = [&](const TFolderCatalogue &listed, const char *name) {
        for (const TCatalogueEntry &entry : c.Folders ? listed.Folders : listed.Files)
            if (entry.Name == name)
                return entry.Description;
        return QByteArray("<not listed>");
    };

    TFolderCatalogue failed;
    {
        const TFileSizeLimit full(1024);
        ASSERT_TRUE(full.Set);
        failed = ListAndPruneFolder(dir.Path(), options);
    }
    EXPECT_EQ(ReadFileBytes(path), bytes);
    EXPECT_TRUE(failed.Error.isEmpty()) << failed.Error.toStdString() << ": the folder was listed";
    EXPECT_TRUE(failed.WriteError.startsWith(QStringLiteral("Unable to write to %1: ").arg(QString::fromUtf8(path))))
        << failed.WriteError.toStdString();
    EXPECT_TRUE(failed.PrunedFolders.empty() && failed.PrunedFiles.empty()) << "reported pruned, still in the file";
    EXPECT_TRUE(failed.Renamed.empty());
    EXPECT_EQ(described(failed, "kept"), "still here");
    EXPECT_EQ(described(failed, "renamed"), "") << "shown as followed, not written";

    const TFolderCatalogue written = ListAndPruneFolder(dir.Path(), options);
    EXPECT_TRUE(written.WriteError.isEmpty()) << written.WriteError.toStdString();
    const std::vector<TStaleKey> &pruned = c.Folders ? written.PrunedFolders : written.PrunedFiles;
    ASSERT_EQ(pruned.size(), c.WithMove ? 1u : 2u);
    EXPECT_EQ(pruned[0].Key, "gone");
    EXPECT_EQ(described(written, "renamed"), c.WithMove ? "renamed text" : "");
    EXPECT_FALSE(ReadFileBytes(path).contains("gone=old text"));
}

INSTANTIATE_TEST_SUITE_P(BothTablesBothWrites, FolderCatalogueFailedWrite,
                         ::testing::Values(TFailedWrite{"FilesCut", false, false},
                                           TFailedWrite{"FilesEdit", false, true},
                                           TFailedWrite{"FoldersCut", true, false},
                                           TFailedWrite{"FoldersEdit", true, true}),
                         [](const auto &param) { return std::string(param.param.Name); });

// Folder.dnt removed by another program while the folder is listed: the listing's write finds no
// file to edit and creates none, and no row shows a followed description that nothing holds.
TEST(FolderCatalogue, AFileRemovedWhileListedGetsNoFollowedDescription)
{
    TTempDir dir;
    dir.WriteFile("renamed", "x");
    const QByteArray path = dir.WriteFile("Folder.dnt", "[Files]\r\nmoved=renamed text\r\n");
    TRenamingFollower follower;
    follower.Meanwhile = [&] { ::unlink(path.constData()); };
    const TFolderCatalogue c = ListAndPruneFolder(dir.Path(), {.Follower = &follower});
    EXPECT_FALSE(StampOf(path).Exists);
    EXPECT_TRUE(c.Renamed.empty());
    ASSERT_EQ(c.Files.size(), 1u);
    EXPECT_EQ(c.Files[0].Description, "");
}
