// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/DescriptionFile.h"
#include "catalogue/DescriptionStream.h"
#include "catalogue/FoldedName.h"
#include "catalogue/PackedTexts.h"
#include "catalogue/ProfileFile.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace TestSupport;

namespace {
struct TRead {
    std::vector<QByteArray> Descriptions;
    std::vector<std::pair<QByteArray, QByteArray>> Unclaimed; // key, value
};

std::vector<TCatalogueEntry> Entries(const std::vector<QByteArray> &names)
{
    std::vector<TCatalogueEntry> entries;
    for (const QByteArray &name : names)
        entries.push_back({name, {}});
    return entries;
}

// What the whole parsed file gives: the rule over the profile's own key index, values as
// ReadString reads them, and the key list's keys that no entry claims.
TRead ReadWhole(const QByteArray &path, const char *section, const std::vector<QByteArray> &names)
{
    ProfileFile profile(path);
    std::vector<std::string_view> views;
    for (const QByteArray &name : names)
        views.push_back(ViewOf(name));
    const TKeyGroups groups = profile.KeyGroups(section);
    const TNameRule rule(views, groups);
    TRead read;
    for (size_t i = 0; i < names.size(); ++i)
        read.Descriptions.push_back(rule.KeyOf(i) < 0 ? QByteArray() : profile.EntryValue(rule.KeyOf(i)));
    // A stale key's value is its own line's, also where another spelling of its fold comes first.
    auto valueOf = [&](const QByteArray &key) {
        for (qsizetype k = groups.First(ViewOf(key)); k >= 0; k = groups.Next(k))
            if (groups.Key(k) == ViewOf(key))
                return profile.EntryValue(k);
        return profile.ReadString(section, key);
    };
    for (const QByteArray &key : profile.ReadSection(section))
        if (!rule.Claimed(ViewOf(key)))
            read.Unclaimed.emplace_back(key, valueOf(key));
    return read;
}

TRead ReadInPieces(const QByteArray &path, const std::vector<QByteArray> &folders, const std::vector<QByteArray> &files,
                   qsizetype pieceSize, int table)
{
    std::vector<TCatalogueEntry> entries[2] = {Entries(folders), Entries(files)};
    std::array<TDescribedTable, 2> tables{{{&entries[0], kSectionFolders, {}}, {&entries[1], kSectionFiles, {}}}};
    ReadDescriptions(path, tables, pieceSize);
    TRead read;
    for (const TCatalogueEntry &entry : entries[table])
        read.Descriptions.push_back(entry.Description);
    for (const TUnclaimedKey &key : tables[size_t(table)].Unclaimed)
        read.Unclaimed.emplace_back(key.Key, key.Value);
    return read;
}

void ExpectSameInPiecesOfEverySize(const QByteArray &path, const std::vector<QByteArray> &folders,
                                   const std::vector<QByteArray> &files)
{
    const TRead whole[2] = {ReadWhole(path, kSectionFolders, folders), ReadWhole(path, kSectionFiles, files)};
    for (const qsizetype piece : {1, 2, 3, 5, 8, 13, 64, 1000, 1 << 20})
        for (int table = 0; table < 2; ++table) {
            const TRead pieces = ReadInPieces(path, folders, files, piece, table);
            EXPECT_EQ(pieces.Descriptions, whole[table].Descriptions) << "pieces of " << piece << ", table " << table;
            EXPECT_EQ(pieces.Unclaimed, whole[table].Unclaimed) << "pieces of " << piece << ", table " << table;
        }
}
} // namespace

TEST(DescriptionStream, ReadInPiecesOfAnySizeItGivesWhatTheWholeFileGives)
{
    const QByteArray content =
        QByteArray("\xEF\xBB\xBF[Files]\r\n; made by hand\r\n"
                   "readme.TXT=folded first\r\n"
                   "readme.txt=exact later\n"
                   "Read.me=upper\r\nread.me=lower\rREAD.ME=third\r\n"
                   "caf\xC3\xA9.txt=composed\r\n"
                   "long.txt=")
        + QByteArray(5000, 'x') + "\r\n" + QByteArray("nul.txt=be\0fore\r\n", 17)
        + "gone.txt=stale\r\n  =no key\r\nno value\r\n quoted.txt = \"in quotes\" \r\n"
          "[Other]\r\nreadme.txt=other section\r\n[Files]\r\nundescribed=from a second section\r\n"
          "[folders]\r\nDocs=about docs\nDOCS=second of its fold\r\nold=stale folder\r\n"
          "last=without a line end";
    TTempDir dir;
    const QByteArray path = dir.WriteFile("Folder.dnt", content);
    const std::vector<QByteArray> folders = {"Docs", "last", "empty"};
    const std::vector<QByteArray> files = {"readme.txt", "Read.me", "read.me",    "cafe\xCC\x81.txt",
                                           "long.txt",   "nul.txt", "quoted.txt", "undescribed"};
    // The file holds what the comparison is meant to see.
    const TRead filesWhole = ReadWhole(path, kSectionFiles, files);
    EXPECT_EQ(filesWhole.Descriptions[0], "exact later");
    EXPECT_EQ(filesWhole.Descriptions[3], "composed");
    EXPECT_EQ(filesWhole.Descriptions[6], "in quotes");
    EXPECT_EQ(ReadWhole(path, kSectionFolders, folders).Descriptions[1], "without a line end");
    // Beside their entries' own keys, the other spellings of their folds are stale.
    EXPECT_EQ(filesWhole.Unclaimed, (std::vector<std::pair<QByteArray, QByteArray>>{
                                        {"readme.TXT", "folded first"}, {"READ.ME", "third"}, {"gone.txt", "stale"}}));
    ExpectSameInPiecesOfEverySize(path, folders, files);
}

TEST(DescriptionStream, AKeyListCutShortFindsItsKeyWhereverTheFileStoresIt)
{
    // Keys enough to overflow the key list; the key it cuts short is stored once more further on,
    // in other letter case, and is then a stale key of its own.
    std::vector<QByteArray> keys;
    for (int i = 0; i < 1000; ++i)
        keys.push_back("stale" + QByteArray::number(i).rightJustified(15, '0'));
    std::vector<std::string_view> views(keys.size());
    std::transform(keys.begin(), keys.end(), views.begin(), [](const QByteArray &k) { return ViewOf(k); });
    const QByteArray cut = ProfileFile::KeyList(views).back();
    ASSERT_FALSE(std::find(keys.begin(), keys.end(), cut) != keys.end()) << "the list's last key is cut short";
    QByteArray content = "[Files]\r\n";
    for (const QByteArray &key : keys)
        content += key + "=old\r\n";
    TTempDir dir;
    const QByteArray path = dir.WriteFile("Folder.dnt", content + cut.toUpper() + "=found later\r\n");
    ExpectSameInPiecesOfEverySize(path, {}, {"kept.txt"});
    EXPECT_EQ(ReadWhole(path, kSectionFiles, {}).Unclaimed.back(), std::pair(cut, QByteArray("found later")));
    // Stored nowhere, it is no stale key to delete.
    dir.WriteFile("Folder.dnt", content);
    std::vector<TCatalogueEntry> none;
    std::array<TDescribedTable, 2> tables{{{&none, kSectionFolders, {}}, {&none, kSectionFiles, {}}}};
    ReadDescriptions(path, tables);
    ASSERT_FALSE(tables[1].Unclaimed.empty());
    EXPECT_EQ(tables[1].Unclaimed.back().Key, cut);
    EXPECT_FALSE(tables[1].Unclaimed.back().Stored);
    EXPECT_TRUE(tables[1].Unclaimed.front().Stored);
}

TEST(PackedTexts, TextsOutliveThePackerAndChangeAlone)
{
    // Texts share the packer's blocks: each must keep its block however many a block holds,
    // after the packer and the other texts of its block are gone.
    std::vector<QByteArray> texts;
    const std::string large(5 << 20, 'x'); // larger than a block: a block of its own
    {
        TPackedTexts packer;
        for (int i = 0; i < 200000; ++i) // more texts than one taking of references covers
            texts.push_back(packer.Add("text " + std::to_string(i)));
        texts.push_back(packer.Add(large));
        texts.push_back(packer.Add("after"));
        texts.push_back(packer.Add(""));
    }
    std::vector<QByteArray> kept;
    for (size_t i = 0; i < texts.size(); i += 1000)
        kept.push_back(texts[i]);
    texts.resize(texts.size() - 3);
    texts.erase(texts.begin(), texts.begin() + 150000);
    for (size_t i = 0; i < kept.size() - 1; ++i) {
        ASSERT_EQ(kept[i], QByteArray::fromStdString("text " + std::to_string(i * 1000)));
        ASSERT_EQ(kept[i].constData()[kept[i].size()], '\0');
    }
    EXPECT_EQ(kept.back(), QByteArray::fromStdString(large));
    texts.clear();
    QByteArray changed = kept[1];
    changed[0] = 'T';
    EXPECT_EQ(kept[1], "text 1000");
    EXPECT_EQ(changed, "Text 1000");
    EXPECT_EQ(kept[2], "text 2000");
}
