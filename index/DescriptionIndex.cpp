// SPDX-License-Identifier: GPL-3.0-or-later
#include "index/DescriptionIndex.h"

#include "catalogue/DescriptionFile.h"
#include "catalogue/FoldedName.h"
#include "catalogue/ProfileDocument.h"
#include "catalogue/ProfileFile.h"
#include "common/AtomicFile.h"
#include "common/PathUtils.h"
#include "common/TextCodec.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QStringList>

#include <sqlite3.h>

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {
// 2: the full-text table without prefix indexes (version 1 had them for 1, 2 and 3 letters);
// 3: the full-text table reads the texts from the entries instead of keeping a copy.
constexpr int kSchemaVersion = 3;
constexpr qint64 kPrunedKeptMs = 90LL * 24 * 3600 * 1000;
// How often (in virtual machine steps) a statement looks whether its work is to stop: often
// enough to stop within a millisecond, rarely enough to cost nothing measurable.
constexpr int kStepsBetweenStopChecks = 1000;
// A log larger than this after an update is emptied at once (see TrimLog).
constexpr qint64 kLogTrimFrom = 16 * 1024 * 1024;

// From this many descriptions in a folder being indexed, its names are read first (FolderNames).
constexpr size_t kNamesReadFrom = 64;

// Unwinds an index operation after the failure has been recorded; never leaves this file.
struct TIndexFailure {};

// One folder's descriptor, closed on every way out.
class TFolderFd {
public:
    explicit TFolderFd(const QByteArray &folder) : FFd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
    }
    ~TFolderFd()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFolderFd(const TFolderFd &) = delete;
    TFolderFd &operator=(const TFolderFd &) = delete;
    int Fd() const { return FFd; }

private:
    int FFd;
};

// The index holds the descriptions of private folders: it is the user's alone, its folder 0700
// and its files 0600, whatever the umask and whatever an older version left. The database file
// is made here first, so SQLite finds it and gives its -wal and -shm files the same mode.
void MakeIndexPrivate(const QByteArray &file)
{
    const uid_t user = ::geteuid();
    struct stat st;
    const QByteArray folder = ExtractFilePath(file);
    if (::stat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == user
        && (st.st_mode & 07777) != 0700)
        ::chmod(folder.constData(), 0700);
    const int fd = ::open(file.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == user && (st.st_mode & 07777) != 0600)
            ::fchmod(fd, 0600);
        ::close(fd);
    }
    for (const char *suffix : {"-wal", "-shm", "-journal"}) {
        const QByteArray side = file + suffix;
        if (::lstat(side.constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == user
            && (st.st_mode & 07777) != 0600)
            ::chmod(side.constData(), 0600);
    }
}

// Every name of an open folder; none when it cannot be read to the end.
std::optional<QSet<QByteArray>> FolderNames(int dirFd)
{
    if (dirFd < 0)
        return std::nullopt;
    const int fd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return std::nullopt;
    }
    QSet<QByteArray> names;
    errno = 0;
    while (const dirent *entry = ::readdir(dir))
        names.insert(QByteArray(entry->d_name));
    const bool complete = errno == 0;
    ::closedir(dir);
    if (!complete)
        return std::nullopt;
    return names;
}

qint64 Nanoseconds(const statx_timestamp &t)
{
    return qint64(t.tv_sec) * 1000000000 + qint64(t.tv_nsec);
}

const char *SectionOf(bool isFolder)
{
    return isFolder ? kSectionFolders : kSectionFiles;
}

// A description's text as the full-text table takes it: the bytes DecodeText would give back
// in UTF-8. Most are UTF-8 in the file already and are taken as they are, without a round trip
// through QString (which keeps a leading byte order mark as it is); the rest are decoded.
QByteArray TextForIndex(const QByteArray &bytes)
{
    return IsValidUtf8(bytes) ? bytes : DecodeText(bytes).toUtf8();
}

// "a b" → "\"a\"* \"b\"*": every word a quoted prefix, so nothing the user types is FTS syntax.
QString MatchExpression(const QString &query)
{
    QStringList terms;
    for (QString word : query.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts))
        terms << QLatin1Char('"') + word.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QStringLiteral("\"*");
    return terms.join(QLatin1Char(' '));
}
} // namespace

QString DefaultIndexPath()
{
    return QFile::decodeName(UserBaseFolder("XDG_DATA_HOME", ".local/share") + "/KER-MOSS/DirNote/index.sqlite");
}

bool TEntryIdentity::IsFollowable() const
{
    return Inode != 0 && (BirthNs >= 0 || (!IsFolder && Size >= 0 && MTimeNs >= 0));
}

bool TEntryIdentity::SameEntry(const TEntryIdentity &other) const
{
    if (!IsFollowable() || Device != other.Device || Inode != other.Inode || IsFolder != other.IsFolder)
        return false;
    // A reused inode number has another birth time; without one, another size or time.
    if (BirthNs >= 0 || other.BirthNs >= 0)
        return BirthNs == other.BirthNs;
    return Size == other.Size && MTimeNs == other.MTimeNs;
}

bool ReadEntryIdentity(int dirFd, const QByteArray &name, TEntryIdentity &identity)
{
    struct statx sx;
    if (::statx(dirFd, name.constData(), AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return false;
    identity = {};
    identity.Device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    identity.Inode = sx.stx_ino;
    identity.IsFolder = S_ISDIR(sx.stx_mode);
    if (sx.stx_mask & STATX_BTIME)
        identity.BirthNs = Nanoseconds(sx.stx_btime);
    if (!identity.IsFolder) {
        identity.Size = qint64(sx.stx_size);
        identity.MTimeNs = Nanoseconds(sx.stx_mtime);
    }
    return true;
}

QString FollowedRenamesMessage(const std::vector<TFollowedRename> &renamed)
{
    if (renamed.empty())
        return {};
    if (renamed.size() == 1)
        return QStringLiteral("1 description followed its file (%1 → %2)")
            .arg(DecodeName(renamed[0].OldName), DecodeName(renamed[0].NewName));
    return QStringLiteral("%1 descriptions followed their files").arg(renamed.size());
}

QString FollowedMovesMessage(const std::vector<TFollowedMove> &moved)
{
    if (moved.empty())
        return {};
    if (moved.size() == 1)
        return QStringLiteral("1 description followed its file from another folder (%1 → %2)")
            .arg(DecodeName(moved[0].OldFolder + moved[0].OldName), DecodeName(moved[0].NewName));
    return QStringLiteral("%1 descriptions followed their files from other folders").arg(moved.size());
}

// ---------------------------------------------------------------------------------------------

class TDescriptionIndex::TImpl {
public:
    // A prepared statement of this connection; every failure is recorded and unwinds.
    class TStatement {
    public:
        TStatement(TImpl &impl, const char *sql) : FImpl(impl)
        {
            FImpl.Check(sqlite3_prepare_v2(FImpl.Db, sql, -1, &FStmt, nullptr));
        }
        ~TStatement() { sqlite3_finalize(FStmt); }
        TStatement(const TStatement &) = delete;
        TStatement &operator=(const TStatement &) = delete;
        TStatement &Bind(int i, qint64 v)
        {
            FImpl.Check(sqlite3_bind_int64(FStmt, i, v));
            return *this;
        }
        TStatement &Bind(int i, const QByteArray &v)
        {
            FImpl.Check(sqlite3_bind_blob64(FStmt, i, v.isNull() ? "" : v.constData(), sqlite3_uint64(v.size()),
                                            SQLITE_TRANSIENT));
            return *this;
        }
        TStatement &Bind(int i, const QString &v)
        {
            const QByteArray utf8 = v.toUtf8();
            FImpl.Check(sqlite3_bind_text64(FStmt, i, utf8.constData(), sqlite3_uint64(utf8.size()), SQLITE_TRANSIENT,
                                            SQLITE_UTF8));
            return *this;
        }
        // A description's text as the full-text table takes it (TextForIndex).
        TStatement &BindText(int i, const QByteArray &bytes)
        {
            const QByteArray text = TextForIndex(bytes);
            FImpl.Check(sqlite3_bind_text64(FStmt, i, text.constData(), sqlite3_uint64(text.size()), SQLITE_TRANSIENT,
                                            SQLITE_UTF8));
            return *this;
        }
        TStatement &BindNull(int i)
        {
            FImpl.Check(sqlite3_bind_null(FStmt, i));
            return *this;
        }
        // True while there is a row.
        bool Next()
        {
            const int rc = sqlite3_step(FStmt);
            if (rc == SQLITE_ROW)
                return true;
            if (rc != SQLITE_DONE)
                FImpl.Check(rc);
            return false;
        }
        void Run()
        {
            while (Next()) {
            }
            Reset();
        }
        void Reset()
        {
            sqlite3_reset(FStmt);
            sqlite3_clear_bindings(FStmt);
        }
        qint64 Int(int c) const { return sqlite3_column_int64(FStmt, c); }
        sqlite3_stmt *Handle() const { return FStmt; }
        bool IsNull(int c) const { return sqlite3_column_type(FStmt, c) == SQLITE_NULL; }
        QByteArray Blob(int c) const
        {
            const void *data = sqlite3_column_blob(FStmt, c);
            return QByteArray(static_cast<const char *>(data), sqlite3_column_bytes(FStmt, c));
        }
        QString Text(int c) const
        {
            const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(FStmt, c));
            return QString::fromUtf8(data, sqlite3_column_bytes(FStmt, c));
        }

    private:
        TImpl &FImpl;
        sqlite3_stmt *FStmt = nullptr;
    };

    // BEGIN IMMEDIATE .. COMMIT; rolled back when left by a failure.
    class TTransaction {
    public:
        explicit TTransaction(TImpl &impl) : FImpl(impl) { FImpl.Exec("BEGIN IMMEDIATE"); }
        ~TTransaction()
        {
            if (!FDone)
                sqlite3_exec(FImpl.Db, "ROLLBACK", nullptr, nullptr, nullptr);
        }
        void Commit()
        {
            FImpl.Exec("COMMIT");
            FDone = true;
        }

    private:
        TImpl &FImpl;
        bool FDone = false;
    };

    // While a tree is indexed, the full-text index merges its segments only when 16 of a size
    // have gathered instead of 4: a third less work for a million rows, searches as fast. Back
    // to the usual afterwards, for the small updates of listings (left at 16 by a crash, which
    // costs nothing but slower merging).
    class TBulkMerging {
    public:
        explicit TBulkMerging(TImpl &impl) : FImpl(impl) { FImpl.SetAutomerge(16); }
        ~TBulkMerging()
        {
            try {
                if (FImpl.Usable)
                    FImpl.SetAutomerge(kUsualAutomerge);
            } catch (const TIndexFailure &) {
            }
        }
        TBulkMerging(const TBulkMerging &) = delete;
        TBulkMerging &operator=(const TBulkMerging &) = delete;

    private:
        static constexpr int kUsualAutomerge = 4; // the full-text engine's own default
        TImpl &FImpl;
    };
    void SetAutomerge(int segments)
    {
        Exec(QByteArray("INSERT INTO texts(texts, rank) VALUES('automerge', " + QByteArray::number(segments) + ")")
                 .constData());
    }

    // A live row of the index.
    struct TRow {
        qint64 Id = 0;
        QByteArray Text;
        TEntryIdentity Identity;
    };

    explicit TImpl(const QString &path) : Path(path) {}
    ~TImpl() { Close(); }

    void Open()
    {
        const QByteArray file = QFile::encodeName(Path);
        MakeUserFolder(ExtractFilePath(file));
        const int rc = TryOpen(file);
        if (rc == SQLITE_OK)
            return;
        if (rc == SQLITE_NOTADB || rc == SQLITE_CORRUPT) {
            // The index is only a cache: a damaged one is replaced by an empty one.
            Close();
            RemoveFiles();
            if (TryOpen(file) == SQLITE_OK) {
                Problem =
                    QStringLiteral("The description index %1 was damaged and has been replaced by a new one").arg(Path);
                Reported = true;
                return;
            }
        }
        Close();
        Usable = false;
    }

    void RemoveFiles() const
    {
        const QByteArray file = QFile::encodeName(Path);
        for (const char *suffix : {"", "-wal", "-shm", "-journal"})
            ::unlink((file + suffix).constData());
    }

    void Close()
    {
        if (Db)
            sqlite3_close_v2(Db);
        Db = nullptr;
    }

    // Opens and checks the file and makes the schema; SQLITE_OK or the failure's code (recorded).
    int TryOpen(const QByteArray &file)
    {
        Usable = true;
        MakeIndexPrivate(file);
        try {
            Check(sqlite3_open_v2(file.constData(), &Db,
                                  SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr));
            // Another writer is waited for up to 2 s, unless the work is to stop.
            sqlite3_busy_handler(Db, &TImpl::WaitForWriter, this);
            Check(sqlite3_create_function_v2(Db, "dirnote_text", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                             &TImpl::TextFunction, nullptr, nullptr, nullptr));
            sqlite3_progress_handler(Db, kStepsBetweenStopChecks, &TImpl::StopAsked, this);
            Exec("PRAGMA journal_mode=WAL");
            Exec("PRAGMA synchronous=NORMAL");
            TStatement version(*this, "PRAGMA user_version");
            const qint64 found = version.Next() ? version.Int(0) : 0;
            version.Reset();
            if (found == 1 || found == 2)
                RemakeTexts();
            else if (found != kSchemaVersion)
                MakeSchema(found != 0);
            // Comments an export wrote into files' attributes; kept across schema versions.
            Exec("CREATE TABLE IF NOT EXISTS exported_comments(folder BLOB NOT NULL, name BLOB NOT NULL,"
                 " device INTEGER NOT NULL, inode INTEGER NOT NULL, text BLOB NOT NULL, PRIMARY KEY(folder, name))");
            // Added to the first version's schema, which an older index lacks.
            Exec("CREATE TABLE IF NOT EXISTS described_digests(folder INTEGER NOT NULL,"
                 " is_folder INTEGER NOT NULL, digest INTEGER NOT NULL, PRIMARY KEY(folder, is_folder))");
        } catch (const TIndexFailure &) {
            return LastCode;
        }
        return SQLITE_OK;
    }

    void MakeSchema(bool dropOld)
    {
        TTransaction transaction(*this);
        if (dropOld)
            Exec("DROP TABLE IF EXISTS texts; DROP VIEW IF EXISTS live_texts; DROP TABLE IF EXISTS entries; "
                 "DROP TABLE IF EXISTS folders; DROP TABLE IF EXISTS described_digests");
        Exec("CREATE TABLE folders(id INTEGER PRIMARY KEY, path BLOB NOT NULL UNIQUE,"
             " dnt_device INTEGER, dnt_inode INTEGER, dnt_size INTEGER, dnt_mtime INTEGER,"
             " checked_mtime INTEGER, checked_pruned INTEGER);"
             "CREATE TABLE entries(id INTEGER PRIMARY KEY, folder INTEGER NOT NULL,"
             " name BLOB NOT NULL, is_folder INTEGER NOT NULL, text BLOB NOT NULL,"
             " device INTEGER, inode INTEGER, birth INTEGER, size INTEGER, mtime INTEGER,"
             " seen INTEGER NOT NULL, pruned INTEGER);"
             "CREATE UNIQUE INDEX entries_live ON entries(folder, is_folder, name) WHERE pruned IS NULL;"
             "CREATE INDEX entries_pruned ON entries(pruned) WHERE pruned IS NOT NULL;"
             "CREATE INDEX entries_moved ON entries(device, inode) WHERE pruned IS NOT NULL;");
        CreateTexts();
        Exec(QByteArray("PRAGMA user_version=" + QByteArray::number(kSchemaVersion)).constData());
        transaction.Commit();
    }

    // No prefix indexes: they took a third of the time of indexing a tree, while the full-text engine
    // answers a word's prefix from its terms within the time a search may take. No copy of the
    // texts either: the table reads the live entries' texts, decoded, for its highlights and
    // deletes. A text must therefore leave the table (DropText) while its row is still live
    // with it, and enter it (AddText) only once its row has it. No sizes of the texts
    // (columnsize=0): they serve only a ranking, which the search does not use.
    void CreateTexts()
    {
        Exec("CREATE VIEW IF NOT EXISTS live_texts AS"
             " SELECT id, dirnote_text(text) AS text FROM entries WHERE pruned IS NULL;"
             "CREATE VIRTUAL TABLE texts USING fts5(text, content='live_texts', content_rowid='id', columnsize=0,"
             " tokenize='unicode61 remove_diacritics 2')");
    }

    // dirnote_text(bytes): a description's text as the full-text table indexes it.
    static void TextFunction(sqlite3_context *context, int, sqlite3_value **args)
    {
        const auto *data = static_cast<const char *>(sqlite3_value_blob(args[0]));
        const QByteArray bytes = QByteArray::fromRawData(data ? data : "", sqlite3_value_bytes(args[0]));
        const QByteArray text = TextForIndex(bytes);
        sqlite3_result_text64(context, text.constData(), sqlite3_uint64(text.size()), SQLITE_TRANSIENT, SQLITE_UTF8);
    }

    // An index of the first version keeps its entries, pruned descriptions and identities; only
    // its full-text table is made anew from the live entries.
    void RemakeTexts()
    {
        TTransaction transaction(*this);
        Exec("DROP TABLE IF EXISTS texts; DROP VIEW IF EXISTS live_texts");
        CreateTexts();
        Exec("INSERT INTO texts(texts) VALUES('rebuild')");
        Exec(QByteArray("PRAGMA user_version=" + QByteArray::number(kSchemaVersion)).constData());
        transaction.Commit();
    }

    void Exec(const char *sql) { Check(sqlite3_exec(Db, sql, nullptr, nullptr, nullptr)); }

    void Check(int rc)
    {
        if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE)
            Fail(rc);
    }

    static int WaitForWriter(void *impl, int count)
    {
        constexpr int kStepMs = 10, kMostMs = 2000;
        if (static_cast<TImpl *>(impl)->Stop.stop_requested() || count * kStepMs >= kMostMs)
            return 0;
        sqlite3_sleep(kStepMs);
        return 1;
    }

    // A large update's log (a million entries write a hundred megabytes of it) is copied into the
    // index and emptied here, on the thread that wrote it, rather than removed at the last close,
    // where that takes tens of milliseconds of the program's end. Left to that close on failure.
    void TrimLog()
    {
        struct stat info {};
        if (::stat(QFile::encodeName(Path + QStringLiteral("-wal")).constData(), &info) != 0
            || info.st_size < kLogTrimFrom)
            return;
        sqlite3_wal_checkpoint_v2(Db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    }

    static int StopAsked(void *impl)
    {
        const auto *self = static_cast<TImpl *>(impl);
        return self->StopInterrupts && self->Stop.stop_requested() ? 1 : 0;
    }

    [[noreturn]] void Fail(int rc)
    {
        LastCode = rc & 0xff;
        // Work asked to stop is no failure of the index.
        if (Stop.stop_requested() && (LastCode == SQLITE_INTERRUPT || LastCode == SQLITE_BUSY))
            throw TIndexFailure();
        // A search the full-text engine refuses is no failure of the index.
        if (InSearch && LastCode == SQLITE_ERROR)
            throw TIndexFailure();
        const QString reason = Db ? QString::fromUtf8(sqlite3_errmsg(Db)) : QString::fromUtf8(sqlite3_errstr(rc));
        // A damaged file is replaced at open. Found damaged later, it stops the index for this
        // run and is removed, so the next start begins a new one.
        if (LastCode != SQLITE_NOTADB && LastCode != SQLITE_CORRUPT) {
            Report(QStringLiteral("The description index %1 cannot be used (%2); DirNote works on without it")
                       .arg(Path, reason));
        } else if (Db && Usable) {
            Report(QStringLiteral("The description index %1 is damaged; DirNote works on without it").arg(Path));
            RemoveFiles();
        }
        Usable = false;
        throw TIndexFailure();
    }

    void Report(const QString &message)
    {
        if (!Reported) {
            Problem = message;
            Reported = true;
        }
    }

    qint64 Now() const { return Clock().toMSecsSinceEpoch(); }

    void PurgeOld()
    {
        if (Purged)
            return;
        TStatement old(*this, "SELECT id FROM entries WHERE pruned IS NOT NULL AND pruned < ?1");
        old.Bind(1, Now() - kPrunedKeptMs);
        std::vector<qint64> ids;
        while (old.Next())
            ids.push_back(old.Int(0));
        old.Reset();
        TStatement drop(*this, "DELETE FROM entries WHERE id = ?1");
        for (const qint64 id : ids)
            drop.Bind(1, id).Run();
        Purged = true;
    }

    qint64 FolderId(const QByteArray &folder, bool create)
    {
        TStatement find(*this, "SELECT id FROM folders WHERE path = ?1");
        if (find.Bind(1, folder).Next())
            return find.Int(0);
        if (!create)
            return 0;
        TStatement add(*this, "INSERT INTO folders(path) VALUES (?1)");
        add.Bind(1, folder).Run();
        return sqlite3_last_insert_rowid(Db);
    }

    static TEntryIdentity IdentityOf(const TStatement &row, int first, bool isFolder)
    {
        TEntryIdentity identity;
        identity.IsFolder = isFolder;
        if (row.IsNull(first))
            return identity;
        identity.Device = quint64(row.Int(first));
        identity.Inode = quint64(row.Int(first + 1));
        identity.BirthNs = row.Int(first + 2);
        identity.Size = row.Int(first + 3);
        identity.MTimeNs = row.Int(first + 4);
        return identity;
    }

    static void BindIdentity(TStatement &statement, int first, const std::optional<TEntryIdentity> &identity)
    {
        if (!identity) {
            for (int i = 0; i < 5; ++i)
                statement.BindNull(first + i);
            return;
        }
        statement.Bind(first, qint64(identity->Device))
            .Bind(first + 1, qint64(identity->Inode))
            .Bind(first + 2, identity->BirthNs)
            .Bind(first + 3, identity->Size)
            .Bind(first + 4, identity->MTimeNs);
    }

    std::optional<TEntryIdentity> Identity(int dirFd, const QByteArray &name) const
    {
        TEntryIdentity identity;
        if (dirFd < 0 || !Reader(dirFd, name, identity))
            return std::nullopt;
        return identity;
    }

    // While the row is live with the text the table has for it.
    void DropText(qint64 id)
    {
        TStatement drop(*this, "DELETE FROM texts WHERE rowid = ?1");
        drop.Bind(1, id).Run();
    }
    // Once the row is live with this text, not before; never twice.
    void AddText(qint64 id, const QByteArray &text)
    {
        if (text.isEmpty())
            return;
        TStatement add(*this, "INSERT INTO texts(rowid, text) VALUES (?1, ?2)");
        add.Bind(1, id).BindText(2, text).Run();
    }

    // The digest of the folder's table (DescribedDigest) when its rows were last brought up to
    // date by a listing; none before.
    std::optional<quint64> StoredDigest(qint64 folderId, bool isFolder)
    {
        TStatement stored(*this, "SELECT digest FROM described_digests WHERE folder = ?1 AND is_folder = ?2");
        if (stored.Bind(1, folderId).Bind(2, qint64(isFolder)).Next())
            return quint64(stored.Int(0));
        return std::nullopt;
    }
    void StoreDigest(qint64 folderId, bool isFolder, quint64 digest)
    {
        TStatement store(*this, "INSERT OR REPLACE INTO described_digests(folder, is_folder, digest)"
                                " VALUES (?1, ?2, ?3)");
        store.Bind(1, folderId).Bind(2, qint64(isFolder)).Bind(3, qint64(digest)).Run();
    }

    // A description that may follow its file: from a stale key (From: its index in the table's
    // stale keys) or from a described entry that holds another file now (From: its row).
    struct TIdentitySource {
        bool FromStale;
        qsizetype From;
        TEntryIdentity Identity;
    };
    // An entry that may take a description (its row), with the identity it has now.
    using TIdentityTarget = std::pair<size_t, TEntryIdentity>;

    // Where descriptions go in a listed table: an entry that now holds the file whose identity
    // was recorded under another name (a stale key, or a described entry that no longer holds
    // it) takes that name's description. The disk is read only when some stale key has an
    // identity, or when the digest of the described names and their inode numbers differs from
    // the one recorded: then the described entries whose inode number changed are read, and the
    // undescribed ones only once there is a description to follow.
    std::vector<TDescriptionMove> FollowIdentities(const QByteArray &folder, const TFollowedTable &table)
    {
        const qint64 folderId = FolderId(folder, false);
        if (folderId == 0)
            return {};
        std::vector<TIdentitySource> sources = StaleKeySources(folderId, table);
        const TFolderFd dir(folder);
        std::vector<TIdentityTarget> targets;
        if (StoredDigest(folderId, table.IsFolder) != table.Digest)
            FindReplacedEntries(folderId, table, dir.Fd(), targets, sources);
        if (sources.empty())
            return {};
        AddUndescribedTargets(*table.Entries, dir.Fd(), targets);
        return MatchIdentities(sources, targets);
    }

    // The stale keys whose recorded entry has an identity to look for.
    std::vector<TIdentitySource> StaleKeySources(qint64 folderId, const TFollowedTable &table)
    {
        std::vector<TIdentitySource> sources;
        const std::vector<TStaleKey> &stale = *table.Stale;
        TStatement row(*this, "SELECT device, inode, birth, size, mtime FROM entries"
                              " WHERE folder = ?1 AND is_folder = ?2 AND name = ?3 AND pruned IS NULL");
        for (size_t k = 0; k < stale.size(); ++k) {
            row.Bind(1, folderId).Bind(2, qint64(table.IsFolder)).Bind(3, stale[k].Key);
            if (row.Next()) {
                const TEntryIdentity identity = IdentityOf(row, 0, table.IsFolder);
                if (identity.IsFollowable())
                    sources.push_back({true, qsizetype(k), identity});
            }
            row.Reset();
        }
        return sources;
    }

    // Described entries whose inode number differs from the recorded one are read from the disk:
    // one that holds another file now may take a description (a target), and its recorded file's
    // description may follow that file elsewhere (a source).
    void FindReplacedEntries(qint64 folderId, const TFollowedTable &table, int dirFd,
                             std::vector<TIdentityTarget> &targets, std::vector<TIdentitySource> &sources)
    {
        const std::vector<TCatalogueEntry> &entries = *table.Entries;
        // By the hashes of the names, sorted: a folder of a hundred thousand rows is read
        // without a text or a hash node made for each.
        std::vector<std::pair<std::uint64_t, TEntryIdentity>> recorded;
        TStatement live(*this, "SELECT name, device, inode, birth, size, mtime FROM entries"
                               " WHERE folder = ?1 AND is_folder = ?2 AND pruned IS NULL");
        live.Bind(1, folderId).Bind(2, qint64(table.IsFolder));
        while (live.Next()) {
            const auto *name = static_cast<const char *>(sqlite3_column_blob(live.Handle(), 0));
            const int length = sqlite3_column_bytes(live.Handle(), 0);
            recorded.push_back({DescribedNameHash({name, size_t(length)}), IdentityOf(live, 1, table.IsFolder)});
        }
        const auto byHash = [](const auto &a, const auto &b) { return a.first < b.first; };
        std::sort(recorded.begin(), recorded.end(), byHash);
        for (size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].Description.isEmpty())
                continue;
            const std::pair<std::uint64_t, TEntryIdentity> key{DescribedNameHash(ViewOf(entries[i].Name)), {}};
            const auto was = std::lower_bound(recorded.begin(), recorded.end(), key, byHash);
            if (was == recorded.end() || was->first != key.first
                || (table.Inodes && i < table.Inodes->size() && (*table.Inodes)[i] == was->second.Inode))
                continue;
            const std::optional<TEntryIdentity> now = Identity(dirFd, entries[i].Name);
            if (now && was->second.SameEntry(*now))
                continue; // a symbolic link, or a mount point: the same file behind it
            if (now)
                targets.push_back({i, *now});
            if (was->second.IsFollowable())
                sources.push_back({false, qsizetype(i), was->second});
        }
    }

    // Every undescribed entry may take a description: read only once there is one to follow.
    void AddUndescribedTargets(const std::vector<TCatalogueEntry> &entries, int dirFd,
                               std::vector<TIdentityTarget> &targets) const
    {
        for (size_t i = 0; i < entries.size(); ++i)
            if (entries[i].Description.isEmpty())
                if (const std::optional<TEntryIdentity> now = Identity(dirFd, entries[i].Name))
                    targets.push_back({i, *now});
    }

    // Each source goes to the first target not yet taken that holds its file (never to its own row).
    static std::vector<TDescriptionMove> MatchIdentities(const std::vector<TIdentitySource> &sources,
                                                         const std::vector<TIdentityTarget> &targets)
    {
        std::vector<TDescriptionMove> moves;
        QMultiHash<quint64, size_t> byInode;
        for (size_t t = 0; t < targets.size(); ++t)
            byInode.insert(targets[t].second.Inode, t);
        std::vector<bool> taken(targets.size(), false);
        for (const TIdentitySource &source : sources)
            for (auto it = byInode.constFind(source.Identity.Inode);
                 it != byInode.cend() && it.key() == source.Identity.Inode; ++it) {
                const auto &[entry, identity] = targets[*it];
                if (taken[*it] || (!source.FromStale && size_t(source.From) == entry)
                    || !source.Identity.SameEntry(identity))
                    continue;
                taken[*it] = true;
                moves.push_back({source.FromStale, source.From, qsizetype(entry)});
                break;
            }
        return moves;
    }

    // What a folder's description file holds now: described entries by table and name.
    struct TDescribed {
        bool IsFolder;
        QByteArray Name;
        QByteArray Text;
    };
    struct TRename {
        bool IsFolder;
        QByteArray OldName, NewName;
    };

    // Brings the folder's rows to `described`. A row whose key has gone is pruned when its entry
    // has gone too (its identity kept for a later move), else dropped (the user cleared it).
    // `pruned` are keys the listing removed, kept for undo even when never indexed.
    // The described entries are handed to a visitor one by one (forEachDescribed(visit)): a
    // listing of a million is not copied into a list of its own first.
    using TDescribedVisitor = std::function<void(const TDescribed &)>;
    using TDescribedEntries = std::function<void(const TDescribedVisitor &)>;
    // A described entry found holding another file than its row recorded.
    struct TReplaced {
        bool IsFolder;
        QByteArray Name, Text;
        qint64 Id;
        TEntryIdentity Was, Now;
    };
    // The folder's rows, by table and name: RowKey below.
    using TRows = QHash<QByteArray, TRow>;
    static QByteArray RowKey(bool isFolder, const QByteArray &name) { return (isFolder ? '1' : '0') + name; }

    // `present`, when given, holds every name of the folder: a name not among them has no
    // identity to read (a description of a file that is gone costs no look-up on the disk).
    std::optional<TEntryIdentity> PresentIdentity(int dirFd, const QSet<QByteArray> *present,
                                                  const QByteArray &name) const
    {
        return present && !present->contains(name) ? std::nullopt : Identity(dirFd, name);
    }

    void Reconcile(qint64 folderId, int dirFd, const TDescribedEntries &forEachDescribed,
                   const std::vector<TRename> &renamed, const std::vector<TDescribed> &pruned,
                   std::vector<TReplaced> *replaced = nullptr, const QSet<QByteArray> *present = nullptr)
    {
        const qint64 now = Now();
        TRows rows = LiveRows(folderId);
        const QSet<QByteArray> known(rows.keyBegin(), rows.keyEnd());
        QSet<QByteArray> prunedNames;
        for (const TDescribed &entry : pruned)
            prunedNames.insert(RowKey(entry.IsFolder, entry.Name));
        MoveRenamedRows(rows, renamed, prunedNames, now);
        const TNames newlyDescribed = StoreDescribed(folderId, dirFd, present, forEachDescribed, rows, replaced, now);
        RetireUndescribedRows(rows, dirFd, present, prunedNames, newlyDescribed, now);
        KeepPrunedKeys(folderId, pruned, known, now);
    }

    TRows LiveRows(qint64 folderId)
    {
        TRows rows;
        TStatement live(*this, "SELECT id, is_folder, name, text, device, inode, birth, size, mtime"
                               " FROM entries WHERE folder = ?1 AND pruned IS NULL");
        live.Bind(1, folderId);
        while (live.Next()) {
            const bool isFolder = live.Int(1) != 0;
            rows.insert(RowKey(isFolder, live.Blob(2)), {live.Int(0), live.Blob(3), IdentityOf(live, 4, isFolder)});
        }
        return rows;
    }

    // The rows follow their descriptions to the new names all at once, as in a swap each new
    // name is another's old one. A row left under a new name is kept as pruned when the
    // listing pruned its text (overwritten by another file), else dropped.
    void MoveRenamedRows(TRows &rows, const std::vector<TRename> &renamed, const QSet<QByteArray> &prunedNames,
                         qint64 now)
    {
        std::vector<std::pair<TRow, QByteArray>> moving; // with its new name
        for (const TRename &r : renamed)
            if (const QByteArray from = RowKey(r.IsFolder, r.OldName); rows.contains(from))
                moving.push_back({rows.take(from), RowKey(r.IsFolder, r.NewName)});
        TStatement rename(*this, "UPDATE entries SET name = ?2 WHERE id = ?1");
        TStatement pruneRow(*this, "UPDATE entries SET pruned = ?2 WHERE id = ?1");
        TStatement dropRow(*this, "DELETE FROM entries WHERE id = ?1");
        for (auto &[row, to] : moving) {
            if (const auto resident = rows.constFind(to); resident != rows.cend()) {
                DropText(resident->Id);
                (prunedNames.contains(to) ? pruneRow.Bind(2, now) : dropRow).Bind(1, resident->Id).Run();
                rows.erase(resident);
            }
            // A name no entry can have, so the new names never meet an old one on the way.
            rename.Bind(1, row.Id).Bind(2, QByteArray(1, '\0') + QByteArray::number(row.Id)).Run();
        }
        for (auto &[row, to] : moving) {
            rename.Bind(1, row.Id).Bind(2, to.mid(1)).Run();
            rows.insert(to, std::move(row));
        }
    }

    // Writes each described entry into its row, or a new row; the rows written leave `rows`.
    // Returns the names described anew, by table, while there were rows to compare them with
    // (RetireUndescribedRows); a folder indexed for the first time collects none.
    using TNames = std::vector<std::pair<bool, QByteArray>>;
    TNames StoreDescribed(qint64 folderId, int dirFd, const QSet<QByteArray> *present,
                          const TDescribedEntries &forEachDescribed, TRows &rows, std::vector<TReplaced> *replaced,
                          qint64 now)
    {
        TStatement update(*this, "UPDATE entries SET text = ?2, device = ?3, inode = ?4, birth = ?5,"
                                 " size = ?6, mtime = ?7, seen = ?8 WHERE id = ?1");
        TStatement insert(*this, "INSERT INTO entries(folder, name, is_folder, text, device, inode,"
                                 " birth, size, mtime, seen) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
        TNames newlyDescribed;
        const bool hadRows = !rows.isEmpty();
        TStatement addText(*this, "INSERT INTO texts(rowid, text) VALUES (?1, ?2)");
        forEachDescribed([&](const TDescribed &entry) {
            const std::optional<TEntryIdentity> identity = PresentIdentity(dirFd, present, entry.Name);
            const auto row = rows.constFind(RowKey(entry.IsFolder, entry.Name));
            if (row == rows.cend()) {
                if (hadRows)
                    newlyDescribed.emplace_back(entry.IsFolder, entry.Name);
                AddRow(insert, addText, folderId, entry, identity, now);
                return;
            }
            RefreshRow(update, *row, entry, identity, replaced, now);
            rows.erase(row);
        });
        return newlyDescribed;
    }

    // A row the description file still names takes its text and the entry's identity now; one
    // whose entry holds another file than recorded is noted in `replaced`.
    void RefreshRow(TStatement &update, const TRow &row, const TDescribed &entry,
                    const std::optional<TEntryIdentity> &identity, std::vector<TReplaced> *replaced, qint64 now)
    {
        const TEntryIdentity now_ = identity.value_or(TEntryIdentity());
        const TEntryIdentity &was = row.Identity;
        const bool sameIdentity = was.Device == now_.Device && was.Inode == now_.Inode && was.BirthNs == now_.BirthNs
                                  && was.Size == now_.Size && was.MTimeNs == now_.MTimeNs;
        if (replaced && !sameIdentity && identity && was.IsFollowable())
            replaced->push_back({entry.IsFolder, entry.Name, entry.Text, row.Id, was, *identity});
        if (row.Text != entry.Text || !sameIdentity) {
            if (row.Text != entry.Text)
                DropText(row.Id);
            update.Bind(1, row.Id).Bind(2, entry.Text);
            BindIdentity(update, 3, identity);
            update.Bind(8, now).Run();
            if (row.Text != entry.Text)
                AddText(row.Id, entry.Text);
        }
    }

    void AddRow(TStatement &insert, TStatement &addText, qint64 folderId, const TDescribed &entry,
                const std::optional<TEntryIdentity> &identity, qint64 now)
    {
        insert.Bind(1, folderId).Bind(2, entry.Name).Bind(3, qint64(entry.IsFolder)).Bind(4, entry.Text);
        BindIdentity(insert, 5, identity);
        insert.Bind(10, now).Run();
        // A new row has no text to replace: one statement for all of them, no delete each.
        if (!entry.Text.isEmpty())
            addText.Bind(1, sqlite3_last_insert_rowid(Db)).BindText(2, entry.Text).Run();
    }

    // The rows no description names any more: pruned when their entry has gone too, else dropped.
    // A key of a name gone that now describes a name described anew by the name rule went to
    // it, and is no pruned description to follow elsewhere.
    void RetireUndescribedRows(const TRows &rows, int dirFd, const QSet<QByteArray> *present,
                               const QSet<QByteArray> &prunedNames, const TNames &newlyDescribed, qint64 now)
    {
        if (rows.isEmpty())
            return;
        QSet<QByteArray> newlyDescribedFolds;
        for (const auto &[isFolder, name] : newlyDescribed)
            newlyDescribedFolds.insert(RowKey(isFolder, FoldProfileName(name)));
        TStatement prune(*this, "UPDATE entries SET pruned = ?2 WHERE id = ?1");
        TStatement drop(*this, "DELETE FROM entries WHERE id = ?1");
        for (auto row = rows.cbegin(); row != rows.cend(); ++row) {
            DropText(row->Id);
            const bool keyTaken = !prunedNames.contains(row.key())
                                  && newlyDescribedFolds.contains(row.key().left(1)
                                                                  + FoldProfileName(row.key().mid(1)));
            const bool entryGone = !keyTaken && !PresentIdentity(dirFd, present, row.key().mid(1));
            (entryGone ? prune.Bind(2, now) : drop).Bind(1, row->Id).Run();
        }
    }

    // Keys the listing pruned that were never indexed are kept as pruned rows, for undo.
    void KeepPrunedKeys(qint64 folderId, const std::vector<TDescribed> &pruned, const QSet<QByteArray> &known,
                        qint64 now)
    {
        TStatement keep(*this, "INSERT INTO entries(folder, name, is_folder, text, seen, pruned)"
                               " VALUES (?1, ?2, ?3, ?4, ?5, ?5)");
        for (const TDescribed &entry : pruned)
            if (!known.contains(RowKey(entry.IsFolder, entry.Name)) && !entry.Text.isEmpty())
                keep.Bind(1, folderId)
                    .Bind(2, entry.Name)
                    .Bind(3, qint64(entry.IsFolder))
                    .Bind(4, entry.Text)
                    .Bind(5, now)
                    .Run();
    }

    // A commit that describes an entry or clears one changes the digest of the described names:
    // the stored one follows, so that the next listing need not read the folder's rows for it.
    void AdjustDigest(qint64 folderId, int dirFd, const TDescribed &entry, qint64 recordedInode)
    {
        const std::optional<quint64> stored = StoredDigest(folderId, entry.IsFolder);
        if (!stored)
            return;
        struct stat st;
        // The inode number as the folder's enumeration gives it: the entry's own, not followed.
        const qint64 inode = dirFd >= 0 && ::fstatat(dirFd, entry.Name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0
                                 ? qint64(st.st_ino)
                                 : recordedInode;
        if (inode < 0) {
            TStatement forget(*this, "DELETE FROM described_digests WHERE folder = ?1 AND is_folder = ?2");
            forget.Bind(1, folderId).Bind(2, qint64(entry.IsFolder)).Run();
            return;
        }
        const quint64 part = DescribedEntryDigest(ViewOf(entry.Name), quint64(inode));
        StoreDigest(folderId, entry.IsFolder, entry.Text.isEmpty() ? *stored - part : *stored + part);
    }

    // One entry's description as just written.
    void WriteEntry(qint64 folderId, int dirFd, const TDescribed &entry)
    {
        const std::optional<TEntryIdentity> identity = Identity(dirFd, entry.Name);
        TStatement live(*this, "SELECT id, text, inode FROM entries WHERE folder = ?1 AND is_folder = ?2"
                               " AND name = ?3 AND pruned IS NULL");
        live.Bind(1, folderId).Bind(2, qint64(entry.IsFolder)).Bind(3, entry.Name);
        const bool known = live.Next();
        const qint64 id = known ? live.Int(0) : 0;
        const QByteArray was = known ? live.Blob(1) : QByteArray();
        const qint64 wasInode = known && !live.IsNull(2) ? live.Int(2) : -1;
        live.Reset();
        if (known != !entry.Text.isEmpty())
            AdjustDigest(folderId, dirFd, entry, wasInode);
        if (entry.Text.isEmpty()) {
            // As a listing treats a key gone: pruned when its entry is gone too, else dropped.
            if (!known)
                return;
            DropText(id);
            TStatement prune(*this, "UPDATE entries SET pruned = ?2 WHERE id = ?1");
            TStatement drop(*this, "DELETE FROM entries WHERE id = ?1");
            (identity ? drop : prune.Bind(2, Now())).Bind(1, id).Run();
            return;
        }
        if (known) {
            if (was != entry.Text)
                DropText(id);
            TStatement update(*this, "UPDATE entries SET text = ?2, device = ?3, inode = ?4, birth = ?5,"
                                     " size = ?6, mtime = ?7, seen = ?8 WHERE id = ?1");
            update.Bind(1, id).Bind(2, entry.Text);
            BindIdentity(update, 3, identity);
            update.Bind(8, Now()).Run();
            if (was != entry.Text)
                AddText(id, entry.Text);
            return;
        }
        TStatement insert(*this, "INSERT INTO entries(folder, name, is_folder, text, device, inode,"
                                 " birth, size, mtime, seen) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
        insert.Bind(1, folderId).Bind(2, entry.Name).Bind(3, qint64(entry.IsFolder)).Bind(4, entry.Text);
        BindIdentity(insert, 5, identity);
        insert.Bind(10, Now()).Run();
        AddText(sqlite3_last_insert_rowid(Db), entry.Text);
    }

    // Whether the description file changed since the folder was last indexed; records it.
    bool DescriptionFileChanged(qint64 folderId, const QByteArray &descPath)
    {
        const TFileStamp stamp = StampOf(descPath);
        TStatement stored(*this, "SELECT dnt_device, dnt_inode, dnt_size, dnt_mtime FROM folders"
                                 " WHERE id = ?1 AND dnt_inode IS NOT NULL");
        if (stored.Bind(1, folderId).Next() && stamp.Exists && quint64(stored.Int(0)) == stamp.Device
            && quint64(stored.Int(1)) == stamp.Inode && stored.Int(2) == stamp.Size
            && stored.Int(3) == stamp.ModifiedNs)
            return false;
        stored.Reset();
        TStatement store(*this, "UPDATE folders SET dnt_device = ?2, dnt_inode = ?3, dnt_size = ?4,"
                                " dnt_mtime = ?5 WHERE id = ?1");
        store.Bind(1, folderId);
        if (stamp.Exists)
            store.Bind(2, qint64(stamp.Device))
                .Bind(3, qint64(stamp.Inode))
                .Bind(4, stamp.Size)
                .Bind(5, stamp.ModifiedNs);
        store.Run();
        return true;
    }

    // Indexes the description file of a folder as it is on disk; false when it has none.
    bool IndexDescriptionFile(const QByteArray &folder)
    {
        const QByteArray descPath = folder + kDescFileName;
        std::optional<QByteArray> bytes = ReadWholeFile(descPath);
        if (!bytes)
            return false;
        const qint64 folderId = FolderId(folder, true);
        if (!DescriptionFileChanged(folderId, descPath))
            return true;
        const TProfileDocument doc(std::move(*bytes));
        std::vector<TDescribed> described;
        for (const bool isFolder : {true, false})
            for (const qsizetype line : doc.EntryLines(doc.FindSection(SectionOf(isFolder)))) {
                const std::string_view key = doc.KeyView(line);
                QByteArray text = ProfileFile::LineValue(doc, line);
                if (!text.isEmpty())
                    described.push_back({isFolder, QByteArray(key.data(), qsizetype(key.size())), std::move(text)});
            }
        const TFolderFd dir(folder);
        // Many descriptions: the folder's names are read once, so that those of files that are
        // gone are not looked up one by one. A few: each looked up beats reading a large folder.
        std::optional<QSet<QByteArray>> present;
        if (described.size() >= kNamesReadFrom)
            present = FolderNames(dir.Fd());
        Reconcile(
            folderId, dir.Fd(),
            [&described](const TDescribedVisitor &visit) {
                for (const TDescribed &entry : described)
                    visit(entry);
            },
            {}, {}, nullptr, present ? &*present : nullptr);
        return true;
    }

    // Pruned descriptions of the folder's device whose entries turn up here are written into its
    // description file: for an undescribed entry, or for a described one that holds another file
    // than its row recorded (moved over it), whose own description is then kept as pruned.
    TFolderUpdate FollowMoves(const TFolderCatalogue &catalogue, int dirFd, qint64 folderId,
                              const std::vector<TReplaced> &replaced)
    {
        TFolderUpdate result;
        struct stat folderStat;
        if (::fstat(dirFd, &folderStat) != 0 || !MovesToLookFor(folderId, folderStat))
            return result;
        const TPrunedCandidates candidates = PrunedCandidates(folderStat.st_dev);
        if (candidates.isEmpty())
            return result;
        const std::vector<TMoveMatch> matches = MatchPruned(catalogue, dirFd, candidates, replaced);
        if (matches.empty())
            return result;
        std::vector<TMoveMatch> written;
        if (const int error = WriteMatches(catalogue.DescPath, matches, written); error != 0) {
            result.Error =
                QStringLiteral("Unable to write to %1: %2").arg(DecodeName(catalogue.DescPath), FileErrorText(error));
            return result;
        }
        ReviveMatches(folderId, written, result);
        return result;
    }

    // Whether there is anything new to look at: the folder or the pruned descriptions changed
    // since the last look, which is recorded.
    bool MovesToLookFor(qint64 folderId, const struct stat &folderStat)
    {
        const qint64 dirMtime = qint64(folderStat.st_mtim.tv_sec) * 1000000000 + folderStat.st_mtim.tv_nsec;
        TStatement latest(*this, "SELECT max(pruned) FROM entries WHERE pruned IS NOT NULL");
        const qint64 latestPruned = latest.Next() && !latest.IsNull(0) ? latest.Int(0) : 0;
        latest.Reset();
        if (latestPruned == 0)
            return false;
        TStatement checked(*this, "SELECT checked_mtime, checked_pruned FROM folders WHERE id = ?1");
        if (checked.Bind(1, folderId).Next() && !checked.IsNull(0) && checked.Int(0) == dirMtime
            && checked.Int(1) == latestPruned)
            return false;
        checked.Reset();
        TStatement mark(*this, "UPDATE folders SET checked_mtime = ?2, checked_pruned = ?3 WHERE id = ?1");
        mark.Bind(1, folderId).Bind(2, dirMtime).Bind(3, latestPruned).Run();
        return true;
    }

    struct TPrunedCandidate {
        qint64 Id;
        QByteArray Folder, Name, Text;
        TEntryIdentity Identity;
    };
    using TPrunedCandidates = QMultiHash<quint64, TPrunedCandidate>; // by inode, newest first

    // The descriptions pruned on the device within the time they are kept.
    TPrunedCandidates PrunedCandidates(dev_t device)
    {
        TPrunedCandidates candidates;
        TStatement pruned(*this, "SELECT e.id, f.path, e.name, e.is_folder, e.text, e.device, e.inode,"
                                 " e.birth, e.size, e.mtime FROM entries e JOIN folders f ON f.id = e.folder"
                                 " WHERE e.device = ?1 AND e.pruned IS NOT NULL AND e.pruned >= ?2"
                                 " ORDER BY e.pruned ASC");
        pruned.Bind(1, qint64(device)).Bind(2, Now() - kPrunedKeptMs);
        while (pruned.Next()) {
            TPrunedCandidate c{pruned.Int(0), pruned.Blob(1), pruned.Blob(2), pruned.Blob(4),
                               IdentityOf(pruned, 5, pruned.Int(3) != 0)};
            candidates.insert(c.Identity.Inode, c); // a later insert is found first
        }
        return candidates;
    }

    struct TMoveMatch {
        TPrunedCandidate From;
        QByteArray Name;
        TEntryIdentity Identity;
        const TReplaced *Replaces = nullptr;
    };

    // The undescribed entries, and the described ones that hold another file now, that hold the
    // file of a pruned description; each description goes to one entry.
    std::vector<TMoveMatch> MatchPruned(const TFolderCatalogue &catalogue, int dirFd,
                                        const TPrunedCandidates &candidates, const std::vector<TReplaced> &replaced)
    {
        std::vector<TMoveMatch> matches;
        QSet<qint64> taken;
        const auto take = [&](const QByteArray &name, const TEntryIdentity &identity, const TReplaced *replaces) {
            for (auto c = candidates.constFind(identity.Inode); c != candidates.cend() && c.key() == identity.Inode;
                 ++c)
                if (!taken.contains(c->Id) && c->Identity.SameEntry(identity)) {
                    taken.insert(c->Id);
                    matches.push_back({*c, name, identity, replaces});
                    return;
                }
        };
        for (const bool isFolder : {true, false})
            for (const TCatalogueEntry &entry : isFolder ? catalogue.Folders : catalogue.Files) {
                if (!entry.Description.isEmpty())
                    continue;
                const std::optional<TEntryIdentity> identity = Identity(dirFd, entry.Name);
                if (identity && candidates.contains(identity->Inode))
                    take(entry.Name, *identity, nullptr);
            }
        for (const TReplaced &entry : replaced)
            take(entry.Name, entry.Now, &entry);
        return matches;
    }

    // One write of the description file; an entry described meanwhile keeps its text, and a
    // replaced entry's description is overwritten only while it is as listed. `written` are the
    // matches the file took.
    static int WriteMatches(const QByteArray &descPath, const std::vector<TMoveMatch> &matches,
                            std::vector<TMoveMatch> &written)
    {
        return ReplaceFileLocked(descPath, [&](const std::optional<QByteArray> &current) -> std::optional<QByteArray> {
            written.clear();
            QByteArray bytes = current.value_or(DefaultDescriptionContent());
            for (const TMoveMatch &m : matches) {
                const char *section = SectionOf(m.Identity.IsFolder);
                const TProfileDocument doc(bytes);
                if (!ProfileFile::UnsafeEntryReason(section, m.Name, m.From.Text).isEmpty())
                    continue;
                const qsizetype line = m.Replaces ? doc.FindEntryExact(doc.FindSection(section), m.Name)
                                                  : doc.FindEntry(doc.FindSection(section), m.Name);
                if (m.Replaces ? line < 0 || ProfileFile::LineValue(doc, line) != m.Replaces->Text : line >= 0)
                    continue;
                bytes = doc.WithString(section, m.Name, m.From.Text, true);
                written.push_back(m);
            }
            if (written.empty())
                return std::nullopt;
            return bytes;
        });
    }

    // The written descriptions live again under their new names; a replaced entry's own
    // description is kept as pruned.
    void ReviveMatches(qint64 folderId, const std::vector<TMoveMatch> &written, TFolderUpdate &result)
    {
        TStatement dropLiveText(*this, "DELETE FROM texts WHERE rowid IN (SELECT id FROM entries WHERE folder = ?1"
                                       " AND is_folder = ?2 AND name = ?3 AND pruned IS NULL)");
        TStatement dropLive(*this, "DELETE FROM entries WHERE folder = ?1 AND is_folder = ?2 AND name = ?3"
                                   " AND pruned IS NULL");
        TStatement revive(*this, "UPDATE entries SET folder = ?2, name = ?3, pruned = NULL, seen = ?4,"
                                 " device = ?5, inode = ?6, birth = ?7, size = ?8, mtime = ?9 WHERE id = ?1");
        TStatement keepReplaced(*this, "UPDATE entries SET pruned = ?2, device = ?3, inode = ?4, birth = ?5,"
                                       " size = ?6, mtime = ?7 WHERE id = ?1");
        for (const TMoveMatch &m : written) {
            if (m.Replaces) {
                DropText(m.Replaces->Id);
                keepReplaced.Bind(1, m.Replaces->Id).Bind(2, Now());
                BindIdentity(keepReplaced, 3, m.Replaces->Was);
                keepReplaced.Run();
            }
            dropLiveText.Bind(1, folderId).Bind(2, qint64(m.Identity.IsFolder)).Bind(3, m.Name).Run();
            dropLive.Bind(1, folderId).Bind(2, qint64(m.Identity.IsFolder)).Bind(3, m.Name).Run();
            revive.Bind(1, m.From.Id).Bind(2, folderId).Bind(3, m.Name).Bind(4, Now());
            BindIdentity(revive, 5, m.Identity);
            revive.Run();
            AddText(m.From.Id, m.From.Text);
            result.Moved.push_back({m.Identity.IsFolder, m.From.Folder, m.From.Name, m.Name});
        }
    }

    QString Path;
    sqlite3 *Db = nullptr;
    bool Usable = false;
    bool Reported = false;
    bool Purged = false;
    bool InSearch = false;
    int LastCode = SQLITE_OK;
    QString Problem;
    std::stop_token Stop;
    bool StopInterrupts = true;
    TIdentityReader Reader = ReadEntryIdentity;
    std::function<QDateTime()> Clock = [] { return QDateTime::currentDateTimeUtc(); };
};

// ---------------------------------------------------------------------------------------------

TDescriptionIndex::TDescriptionIndex(const QString &path) : FPath(path), FImpl(std::make_unique<TImpl>(path))
{
    FImpl->Open();
}

TDescriptionIndex::~TDescriptionIndex() = default;

void TDescriptionIndex::SetStopToken(std::stop_token token, bool interrupt)
{
    FImpl->Stop = std::move(token);
    FImpl->StopInterrupts = interrupt;
}

bool TDescriptionIndex::IsUsable() const
{
    return FImpl->Usable;
}

QString TDescriptionIndex::TakeProblem()
{
    return std::exchange(FImpl->Problem, QString());
}

void TDescriptionIndex::SetIdentityReader(TIdentityReader reader)
{
    FImpl->Reader = std::move(reader);
}

void TDescriptionIndex::SetClock(std::function<QDateTime()> clock)
{
    FImpl->Clock = std::move(clock);
}

std::vector<TIndexHit> TDescriptionIndex::Search(const QString &query, int limit, const QByteArray &below)
{
    std::vector<TIndexHit> hits;
    const QString match = MatchExpression(query);
    if (!FImpl->Usable || match.isEmpty() || limit <= 0)
        return hits;
    FImpl->InSearch = true;
    try {
        TImpl::TStatement search(
            *FImpl, "SELECT f.path, e.name, e.is_folder, e.text, highlight(texts, 0, char(1), char(2))"
                    " FROM texts CROSS JOIN entries e ON e.id = texts.rowid CROSS JOIN folders f ON f.id = e.folder"
                    " WHERE texts MATCH ?1 AND e.pruned IS NULL"
                    " AND (length(?2) = 0 OR substr(f.path, 1, length(?2)) = ?2) LIMIT ?3");
        search.Bind(1, match).Bind(2, IncludeTrailingPathDelimiter(below)).Bind(3, qint64(limit));
        while (search.Next())
            hits.push_back(
                {search.Blob(0), search.Blob(1), search.Int(2) != 0, DecodeText(search.Blob(3)), search.Text(4)});
    } catch (const TIndexFailure &) {
        hits.clear();
    }
    FImpl->InSearch = false;
    return hits;
}

std::vector<TPrunedDescription> TDescriptionIndex::Pruned()
{
    std::vector<TPrunedDescription> result;
    if (!FImpl->Usable)
        return result;
    try {
        TImpl::TStatement pruned(*FImpl,
                                 "SELECT e.id, f.path, e.name, e.is_folder, e.text, e.pruned FROM entries e"
                                 " JOIN folders f ON f.id = e.folder WHERE e.pruned IS NOT NULL AND e.pruned >= ?1"
                                 " ORDER BY e.pruned DESC, e.id DESC");
        pruned.Bind(1, FImpl->Now() - kPrunedKeptMs);
        while (pruned.Next())
            result.push_back({pruned.Int(0), pruned.Blob(1), pruned.Blob(2), pruned.Int(3) != 0, pruned.Blob(4),
                              QDateTime::fromMSecsSinceEpoch(pruned.Int(5), Qt::UTC)});
    } catch (const TIndexFailure &) {
        result.clear();
    }
    return result;
}

void TDescriptionIndex::ForgetPruned(qint64 id)
{
    if (!FImpl->Usable)
        return;
    try {
        TImpl::TStatement forget(*FImpl, "DELETE FROM entries WHERE id = ?1 AND pruned IS NOT NULL");
        forget.Bind(1, id).Run();
    } catch (const TIndexFailure &) {
    }
}

void TDescriptionIndex::KeepPruned(const QByteArray &folder, bool isFolder, const QByteArray &name,
                                   const QByteArray &text)
{
    if (!FImpl->Usable || text.isEmpty())
        return;
    try {
        TImpl::TTransaction transaction(*FImpl);
        TImpl::TStatement keep(*FImpl, "INSERT INTO entries(folder, name, is_folder, text, seen, pruned)"
                                       " VALUES (?1, ?2, ?3, ?4, ?5, ?5)");
        keep.Bind(1, FImpl->FolderId(IncludeTrailingPathDelimiter(folder), true))
            .Bind(2, name)
            .Bind(3, qint64(isFolder))
            .Bind(4, text)
            .Bind(5, FImpl->Now())
            .Run();
        transaction.Commit();
    } catch (const TIndexFailure &) {
    }
}

TFolderUpdate TDescriptionIndex::UpdateFolder(const TFolderCatalogue &catalogue)
{
    // A listing that failed does not say which entries exist.
    if (!FImpl->Usable || !catalogue.Error.isEmpty())
        return {};
    const TFolderFd dir(catalogue.Folder);
    if (dir.Fd() < 0)
        return {};
    try {
        TImpl::TTransaction transaction(*FImpl);
        FImpl->PurgeOld();
        const qint64 folderId = FImpl->FolderId(catalogue.Folder, true);
        const bool followed = !catalogue.Renamed.empty() || !catalogue.PrunedFolders.empty()
                              || !catalogue.PrunedFiles.empty();
        // Described names that hold other files than their rows say (the digest of their names and
        // inode numbers tells) have their identities brought up to date.
        bool identitiesMoved = false;
        std::vector<TImpl::TReplaced> replaced;
        for (const bool isFolder : {true, false})
            identitiesMoved = identitiesMoved
                              || (catalogue.Digested
                                  && FImpl->StoredDigest(folderId, isFolder)
                                         != catalogue.DescribedDigests[isFolder ? 0 : 1]);
        if (FImpl->DescriptionFileChanged(folderId, catalogue.DescPath) || followed || identitiesMoved) {
            std::vector<TImpl::TDescribed> pruned;
            std::vector<TImpl::TRename> renamed;
            for (const bool isFolder : {true, false})
                for (const TStaleKey &key : isFolder ? catalogue.PrunedFolders : catalogue.PrunedFiles)
                    pruned.push_back({isFolder, key.Key, key.Value});
            for (const TFollowedRename &r : catalogue.Renamed)
                renamed.push_back({r.IsFolder, r.OldName, r.NewName});
            const auto forEachDescribed = [&catalogue](const TImpl::TDescribedVisitor &visit) {
                for (const bool isFolder : {true, false})
                    for (const TCatalogueEntry &entry : isFolder ? catalogue.Folders : catalogue.Files)
                        if (!entry.Description.isEmpty())
                            visit({isFolder, entry.Name, entry.Description});
            };
            FImpl->Reconcile(folderId, dir.Fd(), forEachDescribed, renamed, pruned, &replaced);
            if (catalogue.Digested)
                for (const bool isFolder : {true, false})
                    FImpl->StoreDigest(folderId, isFolder, catalogue.DescribedDigests[isFolder ? 0 : 1]);
        }
        TFolderUpdate result = FImpl->FollowMoves(catalogue, dir.Fd(), folderId, replaced);
        transaction.Commit();
        FImpl->TrimLog();
        return result;
    } catch (const TIndexFailure &) {
        return {};
    }
}

std::vector<TDescriptionMove> TDescriptionIndex::FollowIdentities(const QByteArray &folder, const TFollowedTable &table)
{
    if (!FImpl->Usable)
        return {};
    try {
        return FImpl->FollowIdentities(folder, table);
    } catch (const TIndexFailure &) {
        return {};
    }
}

void TDescriptionIndex::IndexFolder(const QByteArray &folder)
{
    if (!FImpl->Usable)
        return;
    try {
        TImpl::TTransaction transaction(*FImpl);
        FImpl->IndexDescriptionFile(IncludeTrailingPathDelimiter(folder));
        transaction.Commit();
    } catch (const TIndexFailure &) {
    }
}

void TDescriptionIndex::EntryWritten(const QByteArray &folder, bool isFolder, const QByteArray &name,
                                     const QByteArray &text)
{
    if (!FImpl->Usable)
        return;
    const QByteArray path = IncludeTrailingPathDelimiter(folder);
    const TFolderFd dir(path);
    try {
        TImpl::TTransaction transaction(*FImpl);
        FImpl->WriteEntry(FImpl->FolderId(path, true), dir.Fd(), {isFolder, name, text});
        transaction.Commit();
    } catch (const TIndexFailure &) {
    }
}

bool TDescriptionIndex::IndexTree(const QByteArray &root, const std::function<bool(const TTreeProgress &)> &progress)
{
    if (!FImpl->Usable)
        return false;
    TTreeProgress state;
    // The folders are listed before any is indexed: a total that grew during the walk kept the
    // progress near its end all the time.
    std::vector<QByteArray> folders{IncludeTrailingPathDelimiter(root)};
    state.FoldersSeen = 1;
    for (size_t next = 0; next < folders.size(); ++next) {
        const QByteArray folder = folders[next];
        if (DIR *dir = ::opendir(folder.constData())) {
            const int fd = ::dirfd(dir);
            while (const dirent *entry = ::readdir(dir)) {
                const char *name = entry->d_name;
                if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                    continue;
                bool isFolder = entry->d_type == DT_DIR;
                if (entry->d_type == DT_UNKNOWN) {
                    struct stat st;
                    // Links are not followed: a link to a parent would never end.
                    isFolder = ::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
                }
                if (isFolder) {
                    folders.push_back(folder + name + '/');
                    ++state.FoldersSeen;
                }
            }
            ::closedir(dir);
        }
        state.Current = folder;
        if (progress && !progress(state))
            return false;
    }
    state.Counted = true;
    constexpr size_t kFoldersPerTransaction = 256;
    try {
        const TImpl::TBulkMerging merging(*FImpl);
        for (size_t first = 0; first < folders.size(); first += kFoldersPerTransaction) {
            // Committed in batches: a cancel or a failure keeps every batch before it.
            TImpl::TTransaction transaction(*FImpl);
            for (size_t i = first; i < std::min(folders.size(), first + kFoldersPerTransaction); ++i) {
                FImpl->IndexDescriptionFile(folders[i]);
                ++state.FoldersDone;
                state.Current = folders[i];
                if (progress && !progress(state)) {
                    transaction.Commit();
                    return false;
                }
            }
            transaction.Commit();
        }
    } catch (const TIndexFailure &) {
        return false;
    }
    return true;
}

std::vector<qsizetype> TDescriptionIndex::FollowRenames(const QByteArray &folder, bool isFolder,
                                                        const std::vector<TStaleKey> &stale,
                                                        const std::vector<QByteArray> &undescribed)
{
    std::vector<qsizetype> owners(stale.size(), -1);
    if (!FImpl->Usable)
        return owners;
    try {
        const qint64 folderId = FImpl->FolderId(folder, false);
        if (folderId == 0)
            return owners;
        std::vector<std::optional<TEntryIdentity>> known(stale.size());
        bool any = false;
        TImpl::TStatement row(*FImpl, "SELECT device, inode, birth, size, mtime FROM entries"
                                      " WHERE folder = ?1 AND is_folder = ?2 AND name = ?3 AND pruned IS NULL");
        for (size_t k = 0; k < stale.size(); ++k) {
            row.Bind(1, folderId).Bind(2, qint64(isFolder)).Bind(3, stale[k].Key);
            if (row.Next()) {
                const TEntryIdentity identity = TImpl::IdentityOf(row, 0, isFolder);
                if (identity.IsFollowable()) {
                    known[k] = identity;
                    any = true;
                }
            }
            row.Reset();
        }
        // Only now is anything read from the disk: most listings have no stale key with an identity.
        if (!any)
            return owners;
        const TFolderFd dir(folder);
        QMultiHash<quint64, size_t> byInode;
        std::vector<TEntryIdentity> identities(undescribed.size());
        for (size_t i = 0; i < undescribed.size(); ++i)
            if (dir.Fd() >= 0 && FImpl->Reader(dir.Fd(), undescribed[i], identities[i]))
                byInode.insert(identities[i].Inode, i);
        std::vector<bool> given(undescribed.size(), false);
        for (size_t k = 0; k < stale.size(); ++k) {
            if (!known[k])
                continue;
            for (auto it = byInode.constFind(known[k]->Inode); it != byInode.cend() && it.key() == known[k]->Inode;
                 ++it)
                if (!given[*it] && known[k]->SameEntry(identities[*it])) {
                    given[*it] = true;
                    owners[k] = qsizetype(*it);
                    break;
                }
        }
    } catch (const TIndexFailure &) {
        std::fill(owners.begin(), owners.end(), -1);
    }
    return owners;
}

std::vector<TDescriptionIndex::TExportedComment> TDescriptionIndex::ExportedComments(const QByteArray &folder)
{
    std::vector<TExportedComment> comments;
    if (!FImpl->Usable)
        return comments;
    try {
        TImpl::TStatement rows(*FImpl, "SELECT name, device, inode, text FROM exported_comments WHERE folder = ?1");
        rows.Bind(1, folder);
        while (rows.Next())
            comments.push_back({rows.Blob(0), quint64(rows.Int(1)), quint64(rows.Int(2)), rows.Blob(3)});
    } catch (const TIndexFailure &) {
        comments.clear();
    }
    return comments;
}

bool TDescriptionIndex::SetExportedComments(const QByteArray &folder, const std::vector<TExportedComment> &comments)
{
    if (!FImpl->Usable)
        return false;
    try {
        TImpl::TTransaction transaction(*FImpl);
        TImpl::TStatement drop(*FImpl, "DELETE FROM exported_comments WHERE folder = ?1");
        drop.Bind(1, folder).Run();
        TImpl::TStatement add(*FImpl, "INSERT OR REPLACE INTO exported_comments(folder, name, device, inode, text)"
                                      " VALUES (?1, ?2, ?3, ?4, ?5)");
        for (const TExportedComment &comment : comments)
            add.Bind(1, folder)
                .Bind(2, comment.Name)
                .Bind(3, qint64(comment.Device))
                .Bind(4, qint64(comment.Inode))
                .Bind(5, comment.Text)
                .Run();
        transaction.Commit();
    } catch (const TIndexFailure &) {
        return false;
    }
    return true;
}
