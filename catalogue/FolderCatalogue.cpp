// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/FolderCatalogue.h"

#include "catalogue/DescriptionFile.h"
#include "catalogue/DescriptionStream.h"
#include "catalogue/FoldedName.h"
#include "catalogue/NameOrder.h"
#include "catalogue/PackedTexts.h"
#include "catalogue/ProfileFile.h"
#include "catalogue/ProfileSplice.h"
#include "common/AtomicFile.h"
#include "common/Exceptions.h"
#include "common/PathUtils.h"
#include "common/TextCodec.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <map>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
// Reads the folder's entries in enumeration order and hands each one the listing keeps to `found`
// (its name, whether it is a folder, its inode number as the folder gives it); returns the error of
// a folder that could not be listed, or listed only in part, else an empty text.
QString EnumerateFolder(const QByteArray &folder, TDirectoryReader reader,
                        const std::function<void(std::string_view name, bool isFolder, std::uint64_t inode)> &found)
{
    const QByteArray path = folder.isEmpty() ? QByteArrayLiteral(".") : folder;
    const QString failed = QStringLiteral("Unable to list the folder %1").arg(DecodeName(path));
    DIR *dir = ::opendir(path.constData());
    if (!dir)
        return failed;
    const int dirFd = ::dirfd(dir);
    QString error;
    std::vector<std::string> leftovers; // of crashed writers, for the next write's clean-up
    for (;;) {
        errno = 0;
        const dirent *entry = reader(dir);
        if (!entry) {
            if (errno != 0)
                error = failed;
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
            found(view, isFolder, std::uint64_t(entry->d_ino));
        else if (!isFolder && IsWriterTemporary(view))
            leftovers.emplace_back(view);
    }
    // The write that prunes after this listing need not read the folder again for leftovers.
    if (error.isEmpty())
        NoteLeftoverSearch(IncludeTrailingPathDelimiter(path), dirFd, std::move(leftovers));
    ::closedir(dir);
    return error;
}

// Entries found by the enumeration, handed in batches from the thread that reads the folder to
// the one that builds the tables.
struct TFoundBatch {
    std::string Names;
    std::vector<std::uint32_t> Ends; // where each name ends in Names
    std::vector<bool> IsFolder;
    std::vector<std::uint64_t> Inodes; // only for a follower
};

class TFoundQueue {
public:
    void Push(TFoundBatch &&batch)
    {
        {
            const std::lock_guard<std::mutex> lock(FMutex);
            FBatches.push_back(std::move(batch));
        }
        FReady.notify_one();
    }
    void Close()
    {
        {
            const std::lock_guard<std::mutex> lock(FMutex);
            FClosed = true;
        }
        FReady.notify_one();
    }
    // The next batch; false once the queue is closed and empty.
    bool Pop(TFoundBatch &batch)
    {
        std::unique_lock<std::mutex> lock(FMutex);
        FReady.wait(lock, [this] { return FClosed || !FBatches.empty(); });
        if (FBatches.empty())
            return false;
        batch = std::move(FBatches.front());
        FBatches.pop_front();
        return true;
    }

private:
    std::mutex FMutex;
    std::condition_variable FReady;
    std::deque<TFoundBatch> FBatches;
    bool FClosed = false;
};
} // namespace

void ScanFolder(const QByteArray &folder, TFolderCatalogue &catalogue, TDirectoryReader reader)
{
    catalogue.Folders.clear();
    catalogue.Files.clear();
    TPackedTexts packed;
    std::vector<QByteArray> names;
    std::vector<bool> isFolderName;
    catalogue.Error = EnumerateFolder(folder, reader, [&](std::string_view name, bool isFolder, std::uint64_t) {
        names.push_back(packed.Add(name));
        isFolderName.push_back(isFolder);
    });
    const auto folders = size_t(std::count(isFolderName.begin(), isFolderName.end(), true));
    catalogue.Folders.reserve(folders);
    catalogue.Files.reserve(names.size() - folders);
    for (size_t i = 0; i < names.size(); ++i)
        (isFolderName[i] ? catalogue.Folders : catalogue.Files).push_back({std::move(names[i]), {}});
}

namespace {
// The cycles of an order (row r takes entry order[r]) as two threads put them in place at once:
// a long cycle is cut at its middle, a half for each; the others go whole to either.
struct TCycles {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> Cut; // the start and the middle of each
    std::vector<std::uint32_t> Whole;                         // the start of each longer than one row
};

TCycles CyclesOf(const std::vector<std::uint32_t> &order)
{
    constexpr size_t kCutFrom = 1024;
    TCycles cycles;
    std::vector<bool> seen(order.size());
    for (size_t start = 0; start < order.size(); ++start) {
        if (seen[start])
            continue;
        size_t length = 0;
        for (size_t row = start; !seen[row]; row = order[row]) {
            seen[row] = true;
            ++length;
        }
        if (length >= kCutFrom) {
            size_t middle = start;
            for (size_t k = 0; k < length / 2; ++k)
                middle = order[middle];
            cycles.Cut.push_back({std::uint32_t(start), std::uint32_t(middle)});
        } else if (length > 1) {
            cycles.Whole.push_back(std::uint32_t(start));
        }
    }
    return cycles;
}

// Moves a cycle's entries row by row from the row `from` up to the row that takes the entry of
// `to`, which takes `last` instead; each row is handed to `placed` once its entry is in it.
template <typename Placed>
void MoveAlong(std::vector<TCatalogueEntry> &entries, const std::vector<std::uint32_t> &order, size_t from, size_t to,
               TCatalogueEntry last, Placed &placed)
{
    // The entries a cycle moves lie anywhere: each is fetched some moves ahead, found along the
    // order, which the cache holds better than the entries.
    constexpr int kAhead = 8;
    size_t ahead = from;
    for (int k = 0; k < kAhead && order[ahead] != to; ++k)
        __builtin_prefetch(&entries[ahead = order[ahead]]);
    size_t row = from;
    for (; order[row] != to; row = order[row]) {
        if (order[ahead] != to)
            __builtin_prefetch(&entries[ahead = order[ahead]]);
        entries[row] = std::move(entries[order[row]]);
        placed(row);
    }
    entries[row] = std::move(last);
    placed(row);
}

// Puts the entries into the order in place, cycle by cycle (a second vector of a million entries
// would cost as much again), on two threads when `share` is set. Each row is handed to the
// `placed` of the thread that filled it, once its entry is in it.
template <typename Placed>
void Reorder(std::vector<TCatalogueEntry> &entries, const std::vector<std::uint32_t> &order, const TCycles &cycles,
             std::array<Placed, 2> &placed, bool share)
{
    // The entries at the cuts are taken out first: each half ends with the other's first.
    std::vector<TCatalogueEntry> starts, middles;
    for (const auto &[start, middle] : cycles.Cut) {
        starts.push_back(std::move(entries[start]));
        middles.push_back(std::move(entries[middle]));
    }
    auto half = [&](size_t h) {
        for (size_t row = h * entries.size() / 2; row < (h + 1) * entries.size() / 2; ++row)
            if (order[row] == row)
                placed[h](row);
        for (size_t c = 0; c < cycles.Cut.size(); ++c) {
            const auto [start, middle] = cycles.Cut[c];
            if (h == 0)
                MoveAlong(entries, order, start, middle, std::move(middles[c]), placed[h]);
            else
                MoveAlong(entries, order, middle, start, std::move(starts[c]), placed[h]);
        }
        for (size_t w = h * cycles.Whole.size() / 2; w < (h + 1) * cycles.Whole.size() / 2; ++w) {
            const size_t start = cycles.Whole[w];
            MoveAlong(entries, order, start, start, std::move(entries[start]), placed[h]);
        }
    };
    std::future<void> second = std::async(share ? std::launch::async : std::launch::deferred, half, 1);
    half(0);
    second.get();
}

// The estimates of the rows a thread puts in place, for the columns' widest texts.
struct TWidthNotes {
    const std::vector<TCatalogueEntry> *Rows = nullptr;
    TWidthRanking Names, Descriptions;
    void operator()(size_t row)
    {
        Names.Note(std::uint32_t(row), (*Rows)[row].NameWidth);
        Descriptions.Note(std::uint32_t(row), (*Rows)[row].DescriptionWidth);
    }
};
struct TNoNotes {
    void operator()(size_t) const {}
};

// What the listing's one write of the description file does to a table: the stale keys (pruned,
// or given to the entries they followed) and the descriptions that move between entries.
struct TTableWrite {
    const char *Section = nullptr;
    bool IsFolder = false;
    std::vector<TCatalogueEntry> *Entries = nullptr;
    std::vector<TStaleKey> Stale;
    std::vector<TDescriptionMove> Moves; // checked: each source and each entry once, in range
    // Decided under the write's lock:
    std::vector<bool> Kept;  // stale keys whose names turned up as entries meanwhile
    bool EntryMoves = false; // true once written: every entry's description was as listed
};

// The moves a follower gives that the write can carry out: in range, each source and each
// target once, a stale key with a value, an entry with a description, a value its target's name
// can hold. An entry's move is refused as a whole table's: a swap half done would lose a text.
std::vector<TDescriptionMove> CheckedMoves(const TTableWrite &table, std::vector<TDescriptionMove> moves)
{
    const std::vector<TCatalogueEntry> &entries = *table.Entries;
    std::vector<bool> staleGiven(table.Stale.size()), entryGiven(entries.size()), taken(entries.size());
    std::vector<TDescriptionMove> checked;
    bool entriesValid = true;
    for (const TDescriptionMove &move : moves) {
        const bool inRange = move.To >= 0 && size_t(move.To) < entries.size() && move.From >= 0
                             && size_t(move.From) < (move.FromStale ? table.Stale.size() : entries.size());
        bool valid = inRange && !taken[size_t(move.To)];
        if (valid) {
            std::vector<bool> &given = move.FromStale ? staleGiven : entryGiven;
            const QByteArray &value = move.FromStale ? table.Stale[size_t(move.From)].Value
                                                     : entries[size_t(move.From)].Description;
            valid = !given[size_t(move.From)] && !value.isEmpty() && (move.FromStale || move.From != move.To)
                    && ProfileFile::UnsafeEntryReason(table.Section, entries[size_t(move.To)].Name, value).isEmpty();
        }
        if (!valid) {
            entriesValid = entriesValid && move.FromStale;
            continue;
        }
        (move.FromStale ? staleGiven : entryGiven)[size_t(move.From)] = true;
        taken[size_t(move.To)] = true;
        checked.push_back(move);
    }
    if (!entriesValid)
        checked.erase(std::remove_if(checked.begin(), checked.end(),
                                     [&entries](const TDescriptionMove &m) {
                                         return !m.FromStale || !entries[size_t(m.To)].Description.isEmpty();
                                     }),
                      checked.end());
    return checked;
}

// Whether a move is carried out: a stale key's to an undescribed entry always (a rename, as
// before), any other only while every entry's description involved is as listed.
bool Applies(const TTableWrite &table, const TDescriptionMove &move)
{
    return table.EntryMoves || (move.FromStale && (*table.Entries)[size_t(move.To)].Description.isEmpty());
}

// Whether the name of a stale key is, now, an entry of the table: one created after the folder
// was read claims its key, which must not be pruned.
bool IsListedNow(int dirFd, const QByteArray &name, bool isFolder)
{
    if (dirFd < 0 || name.isEmpty() || name.contains('/') || name.contains('=') || name == "." || name == "..")
        return false;
    struct stat st;
    bool folder = false;
    if (::fstatat(dirFd, name.constData(), &st, 0) == 0)
        folder = S_ISDIR(st.st_mode);
    else if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false; // a dangling link counts as a file
    if (folder != isFolder)
        return false;
    const std::string_view view(name.constData(), size_t(name.size()));
    return isFolder || (!IsDescriptionFileName(view) && !IsWriterTemporary(view));
}

// The edit of the listing's one write, on the file as it is under the lock: the stale keys whose
// names are still no entries are deleted, the followed descriptions written under their new
// names; an entry's description is moved only while the file holds it as listed.
std::optional<QByteArray> EditForListing(const QByteArray &current, std::vector<TTableWrite> &tables, int dirFd)
{
    TProfileDocument doc(current);
    std::vector<std::pair<const char *, std::pair<QByteArray, QByteArray>>> writes;
    for (TTableWrite &table : tables) {
        const std::vector<TCatalogueEntry> &entries = *table.Entries;
        const qsizetype section = doc.FindSection(table.Section);
        table.EntryMoves = true;
        for (const TDescriptionMove &move : table.Moves)
            for (const qsizetype e : {move.FromStale ? qsizetype(-1) : move.From, move.To})
                if (e >= 0 && !entries[size_t(e)].Description.isEmpty()) {
                    const qsizetype line = doc.FindEntryExact(section, entries[size_t(e)].Name);
                    table.EntryMoves = table.EntryMoves && line >= 0
                                       && ProfileFile::LineValue(doc, line) == entries[size_t(e)].Description;
                }
        std::vector<bool> moved(table.Stale.size()), described(entries.size());
        for (const TDescriptionMove &move : table.Moves)
            if (Applies(table, move)) {
                (move.FromStale ? moved : described)[size_t(move.From)] = true;
                writes.push_back(
                    {table.Section,
                     {entries[size_t(move.To)].Name,
                      move.FromStale ? table.Stale[size_t(move.From)].Value : entries[size_t(move.From)].Description}});
            }
        for (const TDescriptionMove &move : table.Moves)
            if (Applies(table, move))
                described[size_t(move.To)] = false;
        table.Kept.assign(table.Stale.size(), false);
        for (size_t k = 0; k < table.Stale.size(); ++k) {
            if (!moved[k] && IsListedNow(dirFd, table.Stale[k].Key, table.IsFolder)) {
                table.Kept[k] = true;
                continue;
            }
            // Its own line: another spelling of its fold may be an entry's own key.
            if (!doc.MarkDeletedExact(table.Section, table.Stale[k].Key))
                doc.MarkDeleted(table.Section, table.Stale[k].Key);
        }
        // Entries whose descriptions went to others and that got none are left undescribed.
        for (size_t e = 0; e < entries.size(); ++e)
            if (described[e])
                doc.MarkDeletedExact(table.Section, entries[e].Name);
    }
    if (!doc.HasDeletions() && writes.empty())
        return std::nullopt;
    QByteArray bytes = doc.BytesWithoutDeleted();
    for (const auto &[section, write] : writes)
        bytes = TProfileDocument(bytes).WithString(section, write.first, write.second, true);
    return bytes;
}

// What the write did, in the listing: the entries' descriptions, the followed renames and the
// pruned descriptions (also those an entry lost to nobody).
void RecordWrite(TTableWrite &table, TFolderCatalogue &catalogue)
{
    std::vector<TCatalogueEntry> &entries = *table.Entries;
    std::vector<TStaleKey> &pruned = table.IsFolder ? catalogue.PrunedFolders : catalogue.PrunedFiles;
    std::vector<bool> moved(table.Stale.size()), given(entries.size()), described(entries.size());
    std::map<size_t, QByteArray> before; // the texts of entries that give theirs: few, in a large table
    for (const TDescriptionMove &move : table.Moves)
        if (Applies(table, move)) {
            (move.FromStale ? moved : given)[size_t(move.From)] = true;
            described[size_t(move.To)] = true;
            if (!move.FromStale)
                before[size_t(move.From)] = entries[size_t(move.From)].Description;
        }
    for (const TDescriptionMove &move : table.Moves) {
        if (!Applies(table, move))
            continue;
        TCatalogueEntry &to = entries[size_t(move.To)];
        // The text this entry held goes to nobody: pruned, so it can be restored.
        if (!to.Description.isEmpty() && !given[size_t(move.To)])
            pruned.push_back({to.Name, to.Description});
        const QByteArray &oldName = move.FromStale ? table.Stale[size_t(move.From)].Key
                                                   : entries[size_t(move.From)].Name;
        to.Description = move.FromStale ? table.Stale[size_t(move.From)].Value : before.at(size_t(move.From));
        to.DescriptionWidth = -1; // measured by the window
        catalogue.Renamed.push_back({table.IsFolder, oldName, to.Name});
    }
    for (size_t e = 0; e < entries.size(); ++e)
        if (given[e] && !described[e]) {
            entries[e].Description.clear();
            entries[e].DescriptionWidth = -1;
        }
    for (size_t k = 0; k < table.Stale.size(); ++k)
        if (!moved[k] && !(k < table.Kept.size() && table.Kept[k]))
            pruned.push_back(std::move(table.Stale[k]));
}
// Deletes the stored keys that no entry claims, after the follower has given the renamed entries
// theirs and moved the descriptions of entries that hold other files now, all in one write. A key
// of the list stored nowhere (cut short by the list's limit) is neither deleted nor reported.
void PruneAndFollow(std::array<TDescribedTable, 2> &tables, const std::array<std::vector<std::uint64_t>, 2> &inodes,
                    TFolderCatalogue &catalogue, TRenameFollower *follower)
{
    std::vector<TTableWrite> writes;
    std::array<std::uint64_t, 2> digests{};
    bool any = false;
    for (size_t t = 0; t < tables.size(); ++t) {
        TDescribedTable &table = tables[t];
        TTableWrite write;
        write.Section = table.Section;
        write.IsFolder = std::strcmp(table.Section, kSectionFolders) == 0;
        write.Entries = table.Entries;
        for (TUnclaimedKey &key : table.Unclaimed)
            if (key.Stored)
                write.Stale.push_back({std::move(key.Key), std::move(key.Value)});
        if (follower) {
            digests[t] = DescribedDigest(*write.Entries, inodes[t]);
            const TFollowedTable followed{write.IsFolder, write.Entries, &inodes[t], &write.Stale, digests[t]};
            write.Moves = CheckedMoves(write, follower->FollowIdentities(catalogue.Folder, followed));
        }
        any = any || !write.Stale.empty() || !write.Moves.empty();
        writes.push_back(std::move(write));
    }
    if (any) {
        const int dirFd = ::open(catalogue.Folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int error = ReplaceFileLocked(catalogue.DescPath,
                                            [&](const std::optional<QByteArray> &current) -> std::optional<QByteArray> {
                                                for (TTableWrite &write : writes)
                                                    write.EntryMoves = false;
                                                if (!current)
                                                    return std::nullopt;
                                                return EditForListing(*current, writes, dirFd);
                                            });
        if (dirFd >= 0)
            ::close(dirFd);
        if (error != 0)
            for (TTableWrite &write : writes)
                write.EntryMoves = false;
    }
    const size_t followed = catalogue.Renamed.size();
    for (TTableWrite &write : writes)
        RecordWrite(write, catalogue);
    if (follower) {
        // Only a followed description changes which entries are described.
        if (catalogue.Renamed.size() != followed)
            digests = {DescribedDigest(catalogue.Folders, inodes[0]), DescribedDigest(catalogue.Files, inodes[1])};
        catalogue.DescribedDigests = digests;
        catalogue.Digested = true;
    }
}

} // namespace

std::uint64_t DescribedNameHash(std::string_view name)
{
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (const char c : name)
        h = (h ^ std::uint8_t(c)) * 0x100000001b3ULL;
    return h;
}

std::uint64_t DescribedDigest(const std::vector<TCatalogueEntry> &entries, const std::vector<std::uint64_t> &inodes)
{
    // A sum of each described entry's mixed name hash (FNV-1a) and inode number: the same in any
    // order, and kept by a file of the index across runs, so nothing here may depend on the process.
    std::uint64_t digest = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].Description.isEmpty())
            continue;
        digest += DescribedEntryDigest(ViewOf(entries[i].Name), i < inodes.size() ? inodes[i] : 0);
    }
    return digest;
}

std::uint64_t DescribedEntryDigest(std::string_view name, std::uint64_t inode)
{
    std::uint64_t x = DescribedNameHash(name) ^ (inode * 0x9e3779b97f4a7c15ULL);
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

std::vector<TDescriptionMove> TRenameFollower::FollowIdentities(const QByteArray &folder, const TFollowedTable &table)
{
    std::vector<TDescriptionMove> moves;
    std::vector<qsizetype> rows;
    std::vector<QByteArray> undescribed;
    for (size_t i = 0; i < table.Entries->size(); ++i)
        if ((*table.Entries)[i].Description.isEmpty()) {
            rows.push_back(qsizetype(i));
            undescribed.push_back((*table.Entries)[i].Name);
        }
    if (table.Stale->empty() || undescribed.empty())
        return moves;
    const std::vector<qsizetype> owners = FollowRenames(folder, table.IsFolder, *table.Stale, undescribed);
    for (size_t k = 0; k < owners.size() && k < table.Stale->size(); ++k)
        if (owners[k] >= 0 && size_t(owners[k]) < rows.size())
            moves.push_back({true, qsizetype(k), rows[size_t(owners[k])]});
    return moves;
}

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
    // The folder is read on this core while a second one builds the tables from what it finds:
    // packs the names, estimates their widths, and sees whether the fast sort keys take them all.
    TFoundQueue queue;
    std::array<bool, 2> asciiTaken{true, true};
    std::array<TNameHashes, 2> hashes; // for the index that the descriptions are looked up in
    const bool following = follower && stale == TStaleKeys::Prune;
    std::array<std::vector<std::uint64_t>, 2> inodes; // by entry, for the follower
    // A large folder's files are given their table's memory at once rather than in doublings,
    // each of which a fresh process pays for in page faults and moves: the folder's size on disk
    // comes to 32 bytes or more a name of ordinary length on the common file systems, and what
    // the table does not fill is never touched.
    size_t expectedFiles = 0;
    if (struct stat st; ::stat(catalogue.Folder.isEmpty() ? "." : catalogue.Folder.constData(), &st) == 0
                        && st.st_size / 32 >= off_t(kShareFrom))
        expectedFiles = size_t(std::min<off_t>(st.st_size / 32, off_t(1) << 23));
    std::future<void> built = std::async(
        std::launch::async, [&catalogue, &queue, &asciiTaken, &hashes, &inodes, following, advances, expectedFiles] {
            try {
                catalogue.Files.reserve(expectedFiles);
            } catch (const std::bad_alloc &) { // no room for the guess: the table grows as it fills
            }
            const std::optional<TAsciiSortKeys> ascii = TAsciiSortKeys::For(NameCollator());
            TPackedTexts packed;
            TFoundBatch batch;
            while (queue.Pop(batch)) {
                std::uint32_t begin = 0;
                for (size_t i = 0; i < batch.Ends.size(); ++i) {
                    const std::string_view name(batch.Names.data() + begin, batch.Ends[i] - begin);
                    begin = batch.Ends[i];
                    const int table = batch.IsFolder[i] ? 0 : 1;
                    TCatalogueEntry entry{packed.Add(name), {}};
                    if (advances)
                        entry.NameWidth = EstimatedAsciiWidth(*advances, name);
                    asciiTaken[size_t(table)] = asciiTaken[size_t(table)] && ascii && ascii->Takes(name);
                    hashes[size_t(table)].Add(name);
                    if (following)
                        inodes[size_t(table)].push_back(batch.Inodes[i]);
                    (table == 0 ? catalogue.Folders : catalogue.Files).push_back(std::move(entry));
                }
            }
        });
    {
        constexpr size_t kBatch = 4096;
        TFoundBatch batch;
        struct TClose { // the builder ends however the enumeration does
            TFoundQueue &Queue;
            ~TClose() { Queue.Close(); }
        } close{queue};
        catalogue.Error = EnumerateFolder(catalogue.Folder, reader,
                                          [&](std::string_view name, bool isFolder, std::uint64_t inode) {
                                              batch.Names.append(name);
                                              batch.Ends.push_back(std::uint32_t(batch.Names.size()));
                                              batch.IsFolder.push_back(isFolder);
                                              if (following)
                                                  batch.Inodes.push_back(inode);
                                              if (batch.Ends.size() == kBatch)
                                                  queue.Push(std::exchange(batch, TFoundBatch()));
                                          });
        queue.Push(std::move(batch));
    }
    built.get();
    // While this core reads the descriptions, the second one orders the rows; where the
    // collator's sort keys are needed, it makes them, this core helps once it is done, and the
    // rows are ordered after. All of it only reads the names.
    // A second thread pays only for many names: starting one and waiting for it costs more than
    // the order of a small folder.
    const bool share = catalogue.Folders.size() + catalogue.Files.size() >= kShareFrom;
    TNameOrder sortKeys(catalogue.Folders, catalogue.Files, &asciiTaken);
    std::vector<std::uint32_t> orders[2];
    std::array<std::optional<TCycles>, 2> cycles; // of the orders, for the rows put in order on two threads
    std::future<void> keyed;
    if (share)
        keyed = std::async(std::launch::async, [&sortKeys, &orders, &cycles] {
            sortKeys.Work();
            if (!sortKeys.NeedsKeys())
                for (size_t table = 0; table < 2; ++table) {
                    orders[table] = sortKeys.Order(int(table), false);
                    // While the descriptions are still read, as a rule.
                    if (orders[table].size() >= kShareFrom)
                        cycles[table] = CyclesOf(orders[table]);
                }
        });
    std::array<TDescribedTable, 2> tables{
        {{&catalogue.Folders, kSectionFolders, {}, &hashes[0]}, {&catalogue.Files, kSectionFiles, {}, &hashes[1]}}};
    try {
        // A description file refused as another user's link fails the listing: nothing is pruned.
        if (QString refused = ReadDescriptions(catalogue.DescPath, tables, advances);
            !refused.isEmpty() && catalogue.Error.isEmpty())
            catalogue.Error = std::move(refused);
    } catch (...) {
        if (keyed.valid())
            keyed.get();
        throw;
    }
    sortKeys.Work();
    if (keyed.valid())
        keyed.get();
    // A listing that failed does not know which entries exist: nothing may be pruned after it.
    if (catalogue.Error.isEmpty() && stale == TStaleKeys::Prune)
        PruneAndFollow(tables, inodes, catalogue, follower);
    if (!share || sortKeys.NeedsKeys()) {
        // Two large tables are sorted one on each core; a single large one on both.
        const bool shareOrder = std::min(catalogue.Folders.size(), catalogue.Files.size()) >= kShareFrom;
        std::future<std::vector<std::uint32_t>> folderOrder = std::async(
            shareOrder ? std::launch::async : std::launch::deferred,
            [&] { return sortKeys.Order(0, !shareOrder && catalogue.Folders.size() >= kShareFrom); });
        orders[1] = sortKeys.Order(1, !shareOrder && catalogue.Files.size() >= kShareFrom);
        orders[0] = folderOrder.get();
    }
    // With estimated widths, the columns' widest texts are looked for as the rows are put in
    // order, while each entry is at hand, rather than in the window after the listing.
    const std::array<std::vector<TCatalogueEntry> *, 2> entries{&catalogue.Folders, &catalogue.Files};
    for (size_t table = 0; table < 2; ++table) {
        std::vector<TCatalogueEntry> &rows = *entries[table];
        const bool shareRows = rows.size() >= kShareFrom;
        if (!cycles[table])
            cycles[table] = CyclesOf(orders[table]);
        if (!advances) {
            std::array<TNoNotes, 2> none;
            Reorder(rows, orders[table], *cycles[table], none, shareRows);
            continue;
        }
        std::array<TWidthNotes, 2> notes{TWidthNotes{&rows, {}, {}}, TWidthNotes{&rows, {}, {}}};
        Reorder(rows, orders[table], *cycles[table], notes, shareRows);
        notes[0].Names.Merge(std::move(notes[1].Names));
        notes[0].Descriptions.Merge(std::move(notes[1].Descriptions));
        catalogue.Widest[table] = {notes[0].Names.Take(), notes[0].Descriptions.Take()};
    }
    catalogue.WidthsRanked = advances != nullptr;
    return catalogue;
}

TWidthCandidates WidthCandidates(const std::vector<TCatalogueEntry> &entries, bool descriptions)
{
    TWidthRanking ranking;
    for (size_t row = 0; row < entries.size(); ++row)
        ranking.Note(std::uint32_t(row), descriptions ? entries[row].DescriptionWidth : entries[row].NameWidth);
    return ranking.Take();
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
