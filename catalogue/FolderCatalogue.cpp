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
// `to`, which takes `last` instead.
void MoveAlong(std::vector<TCatalogueEntry> &entries, const std::vector<std::uint32_t> &order, size_t from, size_t to,
               TCatalogueEntry last)
{
    size_t row = from;
    for (; order[row] != to; row = order[row])
        entries[row] = std::move(entries[order[row]]);
    entries[row] = std::move(last);
}

// Puts the entries into the order in place, cycle by cycle (a second vector of a million entries
// would cost as much again), on two threads when `share` is set.
void Reorder(std::vector<TCatalogueEntry> &entries, const std::vector<std::uint32_t> &order, const TCycles &cycles,
             bool share)
{
    // The entries at the cuts are taken out first: each half ends with the other's first.
    std::vector<TCatalogueEntry> starts, middles;
    for (const auto &[start, middle] : cycles.Cut) {
        starts.push_back(std::move(entries[start]));
        middles.push_back(std::move(entries[middle]));
    }
    auto half = [&](size_t h) {
        for (size_t c = 0; c < cycles.Cut.size(); ++c) {
            const auto [start, middle] = cycles.Cut[c];
            if (h == 0)
                MoveAlong(entries, order, start, middle, std::move(middles[c]));
            else
                MoveAlong(entries, order, middle, start, std::move(starts[c]));
        }
        for (size_t w = h * cycles.Whole.size() / 2; w < (h + 1) * cycles.Whole.size() / 2; ++w) {
            const size_t start = cycles.Whole[w];
            MoveAlong(entries, order, start, start, std::move(entries[start]));
        }
    };
    std::future<void> second = std::async(share ? std::launch::async : std::launch::deferred, half, 1);
    half(0);
    second.get();
}

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

// The listing's write when it only deletes lines (no description moves): the same lines as
// EditForListing deletes, found by reading the file once in pieces, so that pruning a few keys of
// a large file costs a piece's memory rather than two copies of the file and an index of its lines.
std::optional<std::vector<TFileSplice>> CutsForListing(const TContentReader &read, std::vector<TTableWrite> &tables,
                                                       int dirFd, int &readError)
{
    TLineDeletionScan scan;
    for (TTableWrite &table : tables) {
        table.Kept.assign(table.Stale.size(), false);
        for (size_t k = 0; k < table.Stale.size(); ++k) {
            if (IsListedNow(dirFd, table.Stale[k].Key, table.IsFolder))
                table.Kept[k] = true;
            else
                scan.AddKey(table.Section, table.Stale[k].Key);
        }
    }
    readError = read([&scan](QByteArrayView piece) { scan.Feed(piece); });
    if (readError)
        return std::nullopt;
    return scan.Finish();
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
        to.DescriptionCut = false;
        catalogue.Renamed.push_back({table.IsFolder, oldName, to.Name});
    }
    for (size_t e = 0; e < entries.size(); ++e)
        if (given[e] && !described[e]) {
            entries[e].Description.clear();
            entries[e].DescriptionCut = false;
        }
    for (size_t k = 0; k < table.Stale.size(); ++k)
        if (!moved[k] && !(k < table.Kept.size() && table.Kept[k]))
            pruned.push_back(std::move(table.Stale[k]));
}
// The write of each table: its stored keys that no entry claims and, with a follower, the moves of
// descriptions to renamed entries and to entries that hold other files now. digests gets each
// table's digest of its described entries as listed.
std::vector<TTableWrite> PlanTableWrites(std::array<TDescribedTable, 2> &tables,
                                         const std::array<std::vector<std::uint64_t>, 2> &inodes,
                                         const TFolderCatalogue &catalogue, TRenameFollower *follower,
                                         std::array<std::uint64_t, 2> &digests)
{
    std::vector<TTableWrite> writes;
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
        writes.push_back(std::move(write));
    }
    return writes;
}

// Writes the tables' changes to the description file in one locked write: cuts only when no
// description moves. On failure the catalogue gets the error and writes is emptied, as nothing
// was done; where the file went away meanwhile, no move is done.
void WriteListingChanges(std::vector<TTableWrite> &writes, TFolderCatalogue &catalogue, const TOwnWrite &ownWrite)
{
    const int dirFd = ::open(catalogue.Folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool onlyDeletions = std::all_of(writes.begin(), writes.end(),
                                           [](const TTableWrite &write) { return write.Moves.empty(); });
    int readError = 0, error = 0;
    bool fileGone = false; // removed by another program since it was read
    const auto write = [&] {
        error = onlyDeletions
                    ? CutFileLocked(
                        catalogue.DescPath,
                        [&](const TContentReader &read) { return CutsForListing(read, writes, dirFd, readError); })
                    : ReplaceFileLocked(catalogue.DescPath,
                                        [&](const std::optional<QByteArray> &current) -> std::optional<QByteArray> {
                                            for (TTableWrite &table : writes)
                                                table.EntryMoves = false;
                                            fileGone = !current;
                                            if (!current)
                                                return std::nullopt;
                                            return EditForListing(*current, writes, dirFd);
                                        });
    };
    if (ownWrite)
        ownWrite(write);
    else
        write();
    if (dirFd >= 0)
        ::close(dirFd);
    // The file is as it was: what the write would have done is not reported as done.
    if (const int failure = error != 0 ? error : readError; failure != 0) {
        catalogue.WriteError =
            QStringLiteral("Unable to write to %1: %2").arg(DecodeName(catalogue.DescPath), FileErrorText(failure));
        writes.clear();
    }
    // No file holds a followed description; what it held is gone with it.
    if (fileGone)
        for (TTableWrite &table : writes)
            table.Moves.clear();
}

// Deletes the stored keys that no entry claims, after the follower has given the renamed entries
// theirs and moved the descriptions of entries that hold other files now, all in one write. A key
// of the list stored nowhere (cut short by the list's limit) is neither deleted nor reported.
void PruneAndFollow(std::array<TDescribedTable, 2> &tables, const std::array<std::vector<std::uint64_t>, 2> &inodes,
                    TFolderCatalogue &catalogue, TRenameFollower *follower, const TOwnWrite &ownWrite)
{
    std::array<std::uint64_t, 2> digests{};
    std::vector<TTableWrite> writes = PlanTableWrites(tables, inodes, catalogue, follower, digests);
    const bool any = std::any_of(writes.begin(), writes.end(),
                                 [](const TTableWrite &write) { return !write.Stale.empty() || !write.Moves.empty(); });
    if (any)
        WriteListingChanges(writes, catalogue, ownWrite);
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

namespace {
// What the scan found besides the rows: for each table (folders, files), whether the fast sort
// keys take every name, the names hashed for the description look-up, and for a follower the
// inode number of each entry.
struct TScanned {
    std::array<bool, 2> AsciiTaken{true, true};
    std::array<TNameHashes, 2> Hashes;
    std::array<std::vector<std::uint64_t>, 2> Inodes;
};

// The rows of the tables as the folder gives them, on two threads: this one reads the folder
// while a second one builds the tables from what it finds (packs the names, hashes them, and sees
// whether the fast sort keys take them all).
TScanned Scan(TFolderCatalogue &catalogue, TDirectoryReader reader, bool withInodes)
{
    TScanned scanned;
    TFoundQueue queue;
    // A large folder's files are given their table's memory at once rather than in doublings,
    // each of which a fresh process pays for in page faults and moves: the folder's size on disk
    // comes to 32 bytes or more a name of ordinary length on the common file systems, and what
    // the table does not fill is never touched.
    size_t expectedFiles = 0;
    if (struct stat st; ::stat(catalogue.Folder.isEmpty() ? "." : catalogue.Folder.constData(), &st) == 0
                        && st.st_size / 32 >= off_t(kShareFrom))
        expectedFiles = size_t(std::min<off_t>(st.st_size / 32, off_t(1) << 23));
    std::future<void> built = std::async(std::launch::async, [&catalogue, &queue, &scanned, withInodes, expectedFiles] {
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
                const size_t table = batch.IsFolder[i] ? 0 : 1;
                scanned.AsciiTaken[table] = scanned.AsciiTaken[table] && ascii && ascii->Takes(name);
                scanned.Hashes[table].Add(name);
                if (withInodes)
                    scanned.Inodes[table].push_back(batch.Inodes[i]);
                (table == 0 ? catalogue.Folders : catalogue.Files).push_back({packed.Add(name), {}});
            }
        }
    });
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
                                          if (withInodes)
                                              batch.Inodes.push_back(inode);
                                          if (batch.Ends.size() == kBatch)
                                              queue.Push(std::exchange(batch, TFoundBatch()));
                                      });
    queue.Push(std::move(batch));
    queue.Close(); // here already, as the builder is waited for
    built.get();
    return scanned;
}

// The order of the rows of both tables. A large listing works it out on a second thread while
// this one reads the descriptions (Start); where the collator's sort keys are needed, it makes
// them, this thread helps once it is done (Finish), and the rows are sorted after (Apply). All of
// it only reads the names, until Apply moves the rows.
class TRowOrder {
public:
    TRowOrder(TFolderCatalogue &catalogue, const std::array<bool, 2> &asciiTaken)
        : FTables{&catalogue.Folders, &catalogue.Files}, FKeys(catalogue.Folders, catalogue.Files, &asciiTaken),
          FShare(catalogue.Folders.size() + catalogue.Files.size() >= kShareFrom)
    {
    }

    void Start()
    {
        if (FShare)
            FKeyed = std::async(std::launch::async, [this] { MakeKeys(); });
    }

    void Finish()
    {
        FKeys.Work();
        if (FKeyed.valid())
            FKeyed.get();
    }

    void Apply()
    {
        if (!FShare || FKeys.NeedsKeys())
            SortBoth();
        for (size_t table = 0; table < 2; ++table) {
            if (!FCycles[table])
                FCycles[table] = CyclesOf(FOrders[table]);
            Reorder(*FTables[table], FOrders[table], *FCycles[table], FTables[table]->size() >= kShareFrom);
        }
    }

private:
    // On the second thread: with the fast keys, the orders are known at once, and their cycles,
    // while the descriptions are still read as a rule.
    void MakeKeys()
    {
        FKeys.Work();
        if (FKeys.NeedsKeys())
            return;
        for (size_t table = 0; table < 2; ++table) {
            FOrders[table] = FKeys.Order(int(table), false);
            if (FOrders[table].size() >= kShareFrom)
                FCycles[table] = CyclesOf(FOrders[table]);
        }
    }

    // Two large tables are sorted one on each core; a single large one on both.
    void SortBoth()
    {
        const bool oneEach = std::min(FTables[0]->size(), FTables[1]->size()) >= kShareFrom;
        auto large = [&](size_t table) { return !oneEach && FTables[table]->size() >= kShareFrom; };
        std::future<std::vector<std::uint32_t>> folders = std::async(
            oneEach ? std::launch::async : std::launch::deferred, [&] { return FKeys.Order(0, large(0)); });
        FOrders[1] = FKeys.Order(1, large(1));
        FOrders[0] = folders.get();
    }

    std::array<std::vector<TCatalogueEntry> *, 2> FTables;
    TNameOrder FKeys;
    bool FShare;
    std::array<std::vector<std::uint32_t>, 2> FOrders;
    std::array<std::optional<TCycles>, 2> FCycles;
    std::future<void> FKeyed; // last: waited for before the rest goes, should a read throw
};

// Gives the entries their descriptions; a description file refused as another user's link fails
// the listing, so that nothing is pruned.
void Describe(TFolderCatalogue &catalogue, std::array<TDescribedTable, 2> &tables)
{
    if (QString refused = ReadDescriptions(catalogue.DescPath, tables); !refused.isEmpty() && catalogue.Error.isEmpty())
        catalogue.Error = std::move(refused);
}
} // namespace

void ListFolderEntries(const QByteArray &folder, TFolderCatalogue &catalogue, TDirectoryReader reader)
{
    catalogue.Folders.clear();
    catalogue.Files.clear();
    TPackedTexts packed;
    catalogue.Error = EnumerateFolder(folder, reader, [&](std::string_view name, bool isFolder, std::uint64_t) {
        (isFolder ? catalogue.Folders : catalogue.Files).push_back({packed.Add(name), {}});
    });
    TNameOrder order(catalogue.Folders, catalogue.Files);
    order.Work();
    for (int table = 0; table < 2; ++table) {
        std::vector<TCatalogueEntry> &entries = table == 0 ? catalogue.Folders : catalogue.Files;
        std::vector<TCatalogueEntry> sorted;
        sorted.reserve(entries.size());
        for (const std::uint32_t i : order.Order(table, false))
            sorted.push_back(std::move(entries[i]));
        entries = std::move(sorted);
    }
}

TFolderCatalogue ListAndPruneFolder(const QByteArray &folder, const TListingOptions &options)
{
    TFolderCatalogue catalogue;
    catalogue.Folder = IncludeTrailingPathDelimiter(folder);
    catalogue.DescPath = catalogue.Folder + kDescFileName;
    TRenameFollower *const follower = options.Stale == TStaleKeys::Prune ? options.Follower : nullptr;
    TScanned scanned = Scan(catalogue, options.Reader, follower != nullptr);
    TRowOrder order(catalogue, scanned.AsciiTaken);
    order.Start();
    std::array<TDescribedTable, 2> tables{{{&catalogue.Folders, kSectionFolders, {}, &scanned.Hashes[0]},
                                           {&catalogue.Files, kSectionFiles, {}, &scanned.Hashes[1]}}};
    Describe(catalogue, tables);
    order.Finish();
    // A listing that failed does not know which entries exist: nothing may be pruned after it.
    if (catalogue.Error.isEmpty() && options.Stale == TStaleKeys::Prune)
        PruneAndFollow(tables, scanned.Inodes, catalogue, follower, options.OwnWrite);
    order.Apply();
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
