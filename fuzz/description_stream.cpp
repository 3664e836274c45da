// SPDX-License-Identifier: GPL-3.0-or-later
// The listing's reader of Folder.dnt, which reads the file in pieces and looks each key up in an
// index of the entries' names, against the whole parsed file: any file, any names in both tables
// and any piece size give each entry the description, and leave unclaimed the keys and values,
// that the name rule over the parsed file gives.

#include "FuzzSupport.h"

#include "catalogue/DescriptionFile.h"
#include "catalogue/DescriptionStream.h"
#include "catalogue/FoldedName.h"
#include "catalogue/ProfileFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>
#include <vector>

namespace {

QTemporaryDir *Folder = nullptr;

struct TRead {
    std::vector<QByteArray> Descriptions;
    std::vector<std::pair<QByteArray, QByteArray>> Unclaimed; // key, value
};

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

// A name a folder listing can give: not empty, not "." or "..", no "/" or NUL, and no "=" (the
// listing skips those).
bool IsListedName(const QByteArray &name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') && !name.contains('\0')
           && !name.contains('=');
}

// Whether a line's key holds a NUL byte. The key list, as the whole file gives it, ends such a
// key at the NUL, so that it names no stored key, and the name rule takes it for unclaimed; the
// listing's reader takes it for claimed when an entry has the name it ends as. Either way the
// line describes no entry, and its pruning changes nothing: the two are not compared there.
bool HasKeyWithNul(const QByteArray &content)
{
    for (const QByteArray &line : content.split('\n'))
        if (const qsizetype equals = line.indexOf('='); equals >= 0 && line.left(equals).contains('\0'))
            return true;
    return false;
}

// The keys the file's lines seem to hold, as names that look them up: as they are, or with the
// case of their ASCII letters changed, so that names fold alike.
std::vector<QByteArray> KeysOf(const QByteArray &content)
{
    std::vector<QByteArray> keys;
    for (const QByteArray &line : content.split('\n'))
        if (const qsizetype equals = line.indexOf('='); equals > 0)
            keys.push_back(line.left(equals).trimmed());
    return keys;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Folder = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/dirnote-fuzz-XXXXXX"));
    Require(Folder->isValid(), "no temporary folder");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const QByteArray content = Bytes(input.ConsumeRandomLengthString(4096));
    const std::vector<QByteArray> keys = KeysOf(content);
    std::array<std::vector<QByteArray>, 2> names;
    for (std::vector<QByteArray> &table : names) {
        const int count = input.ConsumeIntegralInRange(0, 12);
        for (int i = 0; i < count; ++i) {
            QByteArray name;
            if (!keys.empty() && input.ConsumeBool()) {
                name = keys[input.ConsumeIntegralInRange<size_t>(0, keys.size() - 1)];
                if (input.ConsumeBool())
                    name = input.ConsumeBool() ? name.toUpper() : name.toLower();
            } else {
                name = Bytes(input.ConsumeRandomLengthString(24));
            }
            // A folder holds each name once.
            if (IsListedName(name) && std::find(table.begin(), table.end(), name) == table.end())
                table.push_back(name);
        }
    }
    static constexpr qsizetype kPieces[] = {1, 2, 3, 7, 64, 4096, kDescriptionPiece};
    const qsizetype piece = kPieces[input.ConsumeIntegralInRange<size_t>(0, std::size(kPieces) - 1)];

    const QByteArray path = QFile::encodeName(Folder->path()) + "/Folder.dnt";
    {
        QFile file(QFile::decodeName(path));
        Require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size(),
                "cannot write the file");
    }
    std::array<std::vector<TCatalogueEntry>, 2> entries;
    for (size_t t = 0; t < 2; ++t)
        for (const QByteArray &name : names[t])
            entries[t].push_back({name, {}});
    std::array<TDescribedTable, 2> tables{{{&entries[0], kSectionFolders, {}}, {&entries[1], kSectionFiles, {}}}};
    ReadDescriptions(path, tables, piece);
    for (size_t t = 0; t < 2; ++t) {
        const TRead whole = ReadWhole(path, t == 0 ? kSectionFolders : kSectionFiles, names[t]);
        for (size_t i = 0; i < names[t].size(); ++i)
            Require(entries[t][i].Description == whole.Descriptions[i],
                    "an entry's description differs from the whole file's", content, entries[t][i].Name);
        std::vector<std::pair<QByteArray, QByteArray>> unclaimed;
        for (const TUnclaimedKey &key : tables[t].Unclaimed)
            unclaimed.emplace_back(key.Key, key.Value);
        Require(unclaimed == whole.Unclaimed || HasKeyWithNul(content),
                "the unclaimed keys differ from the whole file's", content,
                QByteArray::number(qsizetype(unclaimed.size())) + " against "
                    + QByteArray::number(qsizetype(whole.Unclaimed.size())));
    }
    return 0;
}
