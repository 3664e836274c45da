#include "catalogue/FolderCatalogue.h"

#include "catalogue/DescriptionFile.h"
#include "catalogue/FoldedName.h"
#include "catalogue/NameOrder.h"
#include "catalogue/ProfileFile.h"
#include "catalogue/ProfileSplice.h"
#include "common/Exceptions.h"
#include "common/PathUtils.h"
#include "common/TextCodec.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <future>
#include <optional>

#include <sys/stat.h>

bool IsExistingFolder(const QByteArray &path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {
// A second thread pays only for many entries: starting one and waiting for it costs more than
// the work of a small folder.
constexpr size_t kShareFrom = 8192;

bool IsDescriptionFileName(std::string_view name)
{
    return TNameEqual()(name, "FOLDER.DNT");
}

// ".Folder.dnt.<pid>.<n>": the hidden name under which the atomic writer builds a new file. One
// left behind by a crash is no file of the user's.
bool IsWriterTemporary(std::string_view name)
{
    constexpr size_t prefix = sizeof(".Folder.dnt.") - 1;
    if (name.size() <= prefix || name[0] != '.' || name[prefix - 1] != '.'
        || !IsDescriptionFileName(name.substr(1, prefix - 2)))
        return false;
    auto digits = [](std::string_view s) {
        return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    const std::string_view rest = name.substr(prefix);
    const size_t dot = rest.find('.');
    return dot != std::string_view::npos && digits(rest.substr(0, dot)) && digits(rest.substr(dot + 1));
}
} // namespace

namespace {
// Texts of a listing packed into a few large blocks, each text followed by a NUL as a byte
// array's own bytes are: a million names or descriptions cost a few allocations instead of a
// million, and the entries' byte arrays share the blocks. Blocks of a few MiB are not copied as
// they fill, and the allocator keeps them for the next listing instead of returning them to
// the system each time.
class TPackedTexts {
public:
    size_t Add(std::string_view text)
    {
        const auto size = qsizetype(text.size());
        if (FBlocks.empty() || FBlocks.back().capacity() - FBlocks.back().size() < size + 1) {
            FBlocks.emplace_back();
            FBlocks.back().reserve(std::max(kBlockSize, size + 1));
        }
        QByteArray &block = FBlocks.back();
        FSpans.push_back({FBlocks.size() - 1, block.size(), size});
        block.append(text.data(), size);
        block.append('\0');
        return FSpans.size() - 1;
    }
    // A byte array of text n that shares its block; the block lives while any of them does.
    QByteArray Text(size_t n)
    {
        const TSpan &span = FSpans[n];
        QByteArray::DataPointer shared = FBlocks[span.Block].data_ptr(); // one more reference
        shared.ptr += span.Begin;
        shared.size = span.Size;
        return QByteArray(std::move(shared));
    }

private:
    static constexpr qsizetype kBlockSize = 4 << 20;
    struct TSpan {
        size_t Block;
        qsizetype Begin, Size;
    };
    std::vector<QByteArray> FBlocks;
    std::vector<TSpan> FSpans;
};
} // namespace

void ScanFolder(const QByteArray &folder, TFolderCatalogue &catalogue, TDirectoryReader reader)
{
    catalogue.Folders.clear();
    catalogue.Files.clear();
    catalogue.Error.clear();
    const QByteArray path = folder.isEmpty() ? QByteArrayLiteral(".") : folder;
    const QString failed = QStringLiteral("Unable to list the folder %1").arg(DecodeName(path));
    DIR *dir = ::opendir(path.constData());
    if (!dir) {
        catalogue.Error = failed;
        return;
    }
    const int dirFd = ::dirfd(dir);
    TPackedTexts names;
    std::vector<std::pair<bool, size_t>> found; // folder or file, packed name
    for (;;) {
        errno = 0;
        const dirent *entry = reader(dir);
        if (!entry) {
            if (errno != 0)
                catalogue.Error = failed;
            break;
        }
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        const size_t length = std::strlen(name);
        if (std::memchr(name, '=', length))
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat st;
            isFolder = ::fstatat(dirFd, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        const std::string_view view(name, length);
        if (isFolder || (!IsDescriptionFileName(view) && !IsWriterTemporary(view)))
            found.emplace_back(isFolder, names.Add(view));
    }
    ::closedir(dir);
    const auto folders = size_t(std::count_if(found.begin(), found.end(), [](const auto &f) { return f.first; }));
    catalogue.Folders.reserve(folders);
    catalogue.Files.reserve(found.size() - folders);
    for (const auto &[isFolder, name] : found)
        (isFolder ? catalogue.Folders : catalogue.Files).push_back({names.Text(name), {}});
}

namespace {
// Puts the entries into the order (row r takes entry order[r]) in place, cycle by cycle: a
// second vector of a million entries would cost as much again.
void Reorder(std::vector<TCatalogueEntry> &entries, const std::vector<size_t> &order)
{
    std::vector<bool> placed(entries.size());
    for (size_t start = 0; start < entries.size(); ++start) {
        if (placed[start])
            continue;
        TCatalogueEntry first = std::move(entries[start]);
        size_t row = start;
        for (; order[row] != start; row = order[row]) {
            entries[row] = std::move(entries[order[row]]);
            placed[row] = true;
        }
        entries[row] = std::move(first);
        placed[row] = true;
    }
}

// The stale keys the follower gives to renamed entries: each moves to its entry's name (written
// with the deletions, so in the same write) and is taken out of `stale`.
void FollowRenames(ProfileFile &profile, const char *section, bool isFolder, const QByteArray &folder,
                   std::vector<TCatalogueEntry> &entries, std::vector<TStaleKey> &stale, TRenameFollower &follower,
                   std::vector<TFollowedRename> &renamed)
{
    std::vector<size_t> undescribedRows;
    std::vector<QByteArray> undescribed;
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].Description.isEmpty()) {
            undescribedRows.push_back(i);
            undescribed.push_back(entries[i].Name);
        }
    if (undescribed.empty())
        return;
    const std::vector<qsizetype> owners = follower.FollowRenames(folder, isFolder, stale, undescribed);
    std::vector<bool> given(undescribed.size(), false);
    std::vector<TStaleKey> left;
    for (size_t k = 0; k < stale.size(); ++k) {
        const qsizetype owner = k < owners.size() ? owners[k] : -1;
        if (owner < 0 || size_t(owner) >= undescribed.size() || given[size_t(owner)] || stale[k].Value.isEmpty()) {
            left.push_back(std::move(stale[k]));
            continue;
        }
        TCatalogueEntry &entry = entries[undescribedRows[size_t(owner)]];
        try {
            profile.WriteStringWithDeletions(section, entry.Name, stale[k].Value);
        } catch (const TException &) {
            left.push_back(std::move(stale[k])); // a name no key can hold
            continue;
        }
        given[size_t(owner)] = true;
        profile.DeleteKey(section, stale[k].Key);
        entry.Description = stale[k].Value;
        entry.DescriptionWidth = -1; // measured by the window
        renamed.push_back({isFolder, stale[k].Key, entry.Name});
    }
    stale = std::move(left);
}

void LookUpAndPrune(ProfileFile &profile, const char *section, std::vector<TCatalogueEntry> &entries, bool prune,
                    TFolderCatalogue &catalogue, TRenameFollower *follower, const TAdvanceTable *advances)
{
    // Only the keys of the section's key list are candidates for pruning, as the profile
    // functions see them. They are read first: the rule reads the file as it is then, and a key
    // that has gone from it meanwhile is simply not found again.
    QList<QByteArray> keys = prune ? profile.ReadSection(section) : QList<QByteArray>();
    const TNameRule rule(NameViews(entries), profile.KeyGroups(section), 2);
    // The values, and their widths while their bytes are at hand; a large table's on two
    // threads, each packing its own half (the profile is only read meanwhile).
    auto readValues = [&](size_t from, size_t to) {
        TPackedTexts values;
        std::vector<std::pair<size_t, size_t>> packed; // entry, packed value
        constexpr size_t kAhead = 16;                  // look-ups whose memory is fetched meanwhile
        for (size_t i = from; i < to; ++i) {
            if (i + 2 * kAhead < to && rule.KeyOf(i + 2 * kAhead) >= 0)
                profile.PrefetchLine(rule.KeyOf(i + 2 * kAhead));
            if (i + kAhead < to && rule.KeyOf(i + kAhead) >= 0)
                profile.PrefetchValue(rule.KeyOf(i + kAhead));
            TCatalogueEntry &entry = entries[i];
            if (advances)
                entry.DescriptionWidth = 0;
            const qsizetype line = rule.KeyOf(i);
            if (line < 0)
                continue;
            if (const std::optional<std::string_view> value = profile.PlainEntryValue(line)) {
                if (!value->empty())
                    packed.emplace_back(i, values.Add(*value));
                if (advances)
                    entry.DescriptionWidth = EstimatedAsciiWidth(*advances, *value);
            } else {
                entry.Description = profile.EntryValue(line);
                entry.DescriptionWidth = -1; // measured by the window
            }
        }
        for (const auto &[i, value] : packed)
            entries[i].Description = values.Text(value);
    };
    if (entries.size() >= kShareFrom) {
        const size_t half = entries.size() / 2;
        std::future<void> other = std::async(std::launch::async, readValues, half, entries.size());
        readValues(0, half);
        other.get();
    } else {
        readValues(0, entries.size());
    }
    keys.removeIf([&rule](const QByteArray &key) { return rule.Claimed(ViewOf(key)); });
    if (keys.isEmpty())
        return;
    std::vector<TStaleKey> stale;
    stale.reserve(size_t(keys.size()));
    for (const QByteArray &key : keys)
        stale.push_back({key, profile.ReadString(section, key)});
    const bool isFolder = std::strcmp(section, kSectionFolders) == 0;
    if (follower)
        FollowRenames(profile, section, isFolder, catalogue.Folder, entries, stale, *follower, catalogue.Renamed);
    for (const TStaleKey &key : stale)
        profile.DeleteKey(section, key.Key);
    std::vector<TStaleKey> &pruned = isFolder ? catalogue.PrunedFolders : catalogue.PrunedFiles;
    pruned = std::move(stale);
}
} // namespace

std::vector<std::string_view> NameViews(const std::vector<TCatalogueEntry> &entries)
{
    std::vector<std::string_view> names;
    names.reserve(entries.size());
    for (const TCatalogueEntry &entry : entries)
        names.push_back(ViewOf(entry.Name));
    return names;
}

TFolderCatalogue ReadFolderCatalogue(const QByteArray &folder, TDirectoryReader reader, TRenameFollower *follower,
                                     TStaleKeys stale, const TAdvanceTable *advances)
{
    TFolderCatalogue catalogue;
    catalogue.Folder = IncludeTrailingPathDelimiter(folder);
    catalogue.DescPath = catalogue.Folder + kDescFileName;
    std::optional<ProfileFile> described(std::in_place, catalogue.DescPath);
    ProfileFile &profile = *described;
    // The description file is read and indexed on a second core while this one enumerates the
    // folder; nothing else touches the accessor until then.
    std::future<void> prepared = std::async(std::launch::async, [&profile] {
        profile.Prepare({kSectionFolders, kSectionFiles});
    });
    ScanFolder(catalogue.Folder, catalogue, reader);
    prepared.get();
    // The sort keys are made on the second core while this one looks up the descriptions, then
    // on both; all of it only reads the names.
    // A second thread pays only for many names: starting one and waiting for it costs more than
    // the keys of a small folder.
    const bool share = catalogue.Folders.size() + catalogue.Files.size() >= kShareFrom;
    TNameOrder sortKeys(catalogue.Folders, catalogue.Files);
    // Names are measured in enumeration order, in which their bytes lie one after the other.
    auto measureNames = [&catalogue, advances] {
        if (advances)
            for (auto *entries : {&catalogue.Folders, &catalogue.Files})
                for (TCatalogueEntry &entry : *entries)
                    entry.NameWidth = EstimatedAsciiWidth(*advances, ViewOf(entry.Name));
    };
    std::future<void> keyed;
    if (share)
        keyed = std::async(std::launch::async, [&sortKeys, &measureNames] {
            measureNames();
            sortKeys.Work();
        });
    else
        measureNames();
    // A listing that failed does not know which entries exist: nothing may be pruned after it.
    const bool prune = catalogue.Error.isEmpty() && stale == TStaleKeys::Prune;
    LookUpAndPrune(profile, kSectionFolders, catalogue.Folders, prune, catalogue, follower, advances);
    LookUpAndPrune(profile, kSectionFiles, catalogue.Files, prune, catalogue, follower, advances);
    sortKeys.Work();
    if (keyed.valid())
        keyed.get();
    // Releasing the profile writes the deletions; its bytes and index make room for the sorting.
    described.reset();
    // Two large tables are sorted one on each core; a single large one on both.
    const bool shareOrder = std::min(catalogue.Folders.size(), catalogue.Files.size()) >= kShareFrom;
    std::future<std::vector<size_t>> folderOrder = std::async(
        shareOrder ? std::launch::async : std::launch::deferred,
        [&] { return sortKeys.Order(0, !shareOrder && catalogue.Folders.size() >= kShareFrom); });
    const std::vector<size_t> fileOrder = sortKeys.Order(1, !shareOrder && catalogue.Files.size() >= kShareFrom);
    Reorder(catalogue.Folders, folderOrder.get());
    Reorder(catalogue.Files, fileOrder);
    return catalogue;
}

QByteArray DescriptionKey(ProfileFile &profile, const char *section, const QByteArray &name,
                          const std::vector<QByteArray> &names)
{
    // Only names that fold alike can contend for the name's keys; the rule over them alone
    // decides as the rule over the whole table, without a look-up per entry of a large folder.
    const std::vector<std::string_view> views = KeyContenders(ViewOf(name), names);
    const size_t index = size_t(std::find(views.begin(), views.end(), ViewOf(name)) - views.begin());
    const TKeyGroups groups = profile.KeyGroups(section);
    const TNameRule rule(views, groups);
    const qsizetype line = rule.KeyOf(index);
    if (line < 0)
        return name;
    const std::string_view key = groups.Key(line);
    return QByteArray(key.data(), qsizetype(key.size()));
}

namespace {
QByteArray WriteDescriptionBy(ProfileFile &profile, const char *section, const QByteArray &name,
                              const TContenders &contenders, const QByteArray &value)
{
    auto refuse = [&profile](const QString &reason) {
        throw TException(QStringLiteral("Unable to write to %1: %2").arg(DecodeName(profile.Path()), reason));
    };
    if (const QString reason = ProfileFile::UnsafeEntryReason(section, name, value); !reason.isEmpty())
        refuse(reason);
    // The key is chosen on the file as it is under the lock, in the read that the write edits:
    // another writer's key added meanwhile is taken into account.
    QString reason;
    QByteArray key;
    profile.WriteSplice([&](const std::optional<QByteArray> &current) -> std::optional<TFileSplice> {
        TDescriptionCommit commit = DescriptionCommit(current ? QByteArrayView(*current) : QByteArrayView(), section,
                                                      name, contenders, value);
        reason = commit.Reason;
        key = commit.Key;
        if (!reason.isEmpty())
            return std::nullopt;
        return std::move(commit.Splice);
    });
    if (!reason.isEmpty())
        refuse(reason);
    return key;
}
} // namespace

QByteArray WriteDescription(ProfileFile &profile, const char *section, const QByteArray &name,
                            const std::vector<QByteArray> &names, const QByteArray &value)
{
    std::optional<std::vector<std::string_view>> contenders;
    return WriteDescriptionBy(
        profile, section, name,
        [&]() -> const std::vector<std::string_view> & {
            if (!contenders)
                contenders = KeyContenders(ViewOf(name), names);
            return *contenders;
        },
        value);
}

QByteArray WriteDescription(ProfileFile &profile, const char *section, const QByteArray &name, const TTableNames &names,
                            const QByteArray &value)
{
    std::optional<std::vector<QByteArray>> table;
    std::optional<std::vector<std::string_view>> contenders;
    return WriteDescriptionBy(
        profile, section, name,
        [&]() -> const std::vector<std::string_view> & {
            if (!contenders) {
                table = names();
                contenders = KeyContenders(ViewOf(name), *table);
            }
            return *contenders;
        },
        value);
}
