// SPDX-License-Identifier: GPL-3.0-or-later
#include "DntCommands.h"

#include "DntHelp.h"
#include "TerminalText.h"

#include "catalogue/DescriptionFile.h"
#include "catalogue/FoldedName.h"
#include "catalogue/FolderCatalogue.h"
#include "catalogue/ProfileDocument.h"
#include "catalogue/ProfileFile.h"
#include "common/AtomicFile.h"
#include "common/Exceptions.h"
#include "common/PathUtils.h"
#include "common/TextCodec.h"
#include "exchange/CommentMirror.h"
#include "exchange/Export.h"
#include "exchange/FolderListing.h"
#include "exchange/Import.h"
#include "exchange/Xattr.h"
#include "index/DescriptionIndex.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <set>

#include <sys/stat.h>
#include <unistd.h>

namespace {
void Write(FILE *stream, const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

// Messages are for people and often carry names from the disk: their control characters are
// always shown as "?", whether standard error is a terminal or a log file.
QByteArray MessageBytes(const QString &message)
{
    return TerminalText(EncodeText(message));
}

// An error the message names the path of; returns the exit code for it.
int Fail(const QString &message)
{
    Write(stderr, "dnt: " + MessageBytes(message) + '\n');
    return kExitError;
}

int Usage(const QString &message)
{
    Write(stderr, "dnt: " + MessageBytes(message) + "\nTry 'dnt --help' for more information.\n");
    return kExitUsage;
}

void Note(const QString &message)
{
    Write(stderr, "dnt: " + MessageBytes(message) + '\n');
}

// Standard output goes to a person's terminal: text from files is shown escaped there.
bool OutputIsTerminal()
{
    return ::isatty(STDOUT_FILENO) == 1;
}

QString SystemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The folder as the index names it: its real absolute path with a trailing "/"; empty when it
// cannot be resolved.
QByteArray RealFolder(const QByteArray &folder)
{
    char resolved[PATH_MAX];
    if (!::realpath(folder.constData(), resolved))
        return {};
    return IncludeTrailingPathDelimiter(QByteArray(resolved));
}

// DIRNOTE_NO_INDEX=1 switches the per-user index off, for dnt as for the window.
bool IndexSwitchedOff()
{
    return qEnvironmentVariableIntValue("DIRNOTE_NO_INDEX") == 1;
}

// The per-user index is a cache that listings keep current; what dnt writes goes in at once, so
// that `dnt find` sees it. A failing index changes nothing else.
void KeepIndexCurrent(const QByteArray &folder)
{
    if (IndexSwitchedOff())
        return;
    if (const QByteArray real = RealFolder(folder); !real.isEmpty())
        TDescriptionIndex().IndexFolder(real);
}

// The mirror setting for a write: off when the settings file cannot be read, which is told once,
// so that the mirror does not stop without a word.
bool MirrorSettingOn()
{
    static bool told = false;
    try {
        return ReadMirrorComments();
    } catch (const TException &e) {
        if (!told)
            Note(e.Message() + QStringLiteral("; descriptions are not mirrored to file comments"));
        told = true;
        return false;
    }
}

// While the mirror setting is on, the comments of the entries whose descriptions were just
// written follow them. Nothing here fails the command: skipped entries and comments another
// program wrote are told on standard error, other failures too.
void MirrorWritten(const QByteArray &folder, const std::vector<std::pair<QByteArray, QByteArray>> &descriptions)
{
    if (descriptions.empty() || !MirrorSettingOn())
        return;
    std::optional<TDescriptionIndex> index;
    if (!IndexSwitchedOff())
        index.emplace();
    TCommentMirror mirror(index ? &*index : nullptr);
    mirror.Entries(folder, descriptions);
    const TMirrorCounts &counts = mirror.Counts();
    for (const QByteArray &path : counts.NotOurs)
        Note(NotOursMessage(path));
    for (const QString &e : counts.Errors)
        Note(e);
    if (counts.Skipped() > 0)
        Note(MirrorSummary(counts));
}

struct TArgs {
    std::vector<QByteArray> Positional;
    std::map<QByteArray, QByteArray> Values;
    std::set<QByteArray> Flags;
    bool Has(const char *flag) const { return Flags.count(flag) != 0; }
    QByteArray Value(const char *option) const
    {
        const auto it = Values.find(option);
        return it == Values.end() ? QByteArray() : it->second;
    }
};

// Options anywhere after the command, "--option value" or "--option=value"; "--" ends them.
std::optional<TArgs> ParseArgs(const std::vector<QByteArray> &args, std::initializer_list<const char *> flags,
                               std::initializer_list<const char *> valued, QString &error)
{
    TArgs parsed;
    bool options = true;
    for (size_t i = 1; i < args.size(); ++i) {
        const QByteArray &arg = args[i];
        if (options && arg == "--") {
            options = false;
            continue;
        }
        if (!options || !arg.startsWith("--")) {
            parsed.Positional.push_back(arg);
            continue;
        }
        const qsizetype equals = arg.indexOf('=');
        const QByteArray name = equals < 0 ? arg : arg.left(equals);
        if (std::find_if(flags.begin(), flags.end(), [&](const char *f) { return name == f; }) != flags.end()
            && equals < 0) {
            parsed.Flags.insert(name);
        } else if (std::find_if(valued.begin(), valued.end(), [&](const char *v) { return name == v; })
                   != valued.end()) {
            if (equals >= 0) {
                parsed.Values[name] = arg.mid(equals + 1);
            } else if (i + 1 < args.size()) {
                parsed.Values[name] = args[++i];
            } else {
                error = QStringLiteral("%1 needs a value").arg(DecodeName(name));
                return std::nullopt;
            }
        } else {
            error = QStringLiteral("unknown option %1 for %2").arg(DecodeName(arg), DecodeName(args[0]));
            return std::nullopt;
        }
    }
    return parsed;
}

// --- the entry a path names ------------------------------------------------------------------

struct TEntryRef {
    TFolderCatalogue Catalogue;
    bool IsFolder = false;
    size_t Index = 0;
    const TCatalogueEntry &Entry() const { return (IsFolder ? Catalogue.Folders : Catalogue.Files)[Index]; }
    const char *Section() const { return IsFolder ? kSectionFolders : kSectionFiles; }
    std::vector<QByteArray> Names() const
    {
        std::vector<QByteArray> names;
        for (const TCatalogueEntry &entry : IsFolder ? Catalogue.Folders : Catalogue.Files)
            names.push_back(entry.Name);
        return names;
    }
};

// The folder listing that holds the path and its entry there. Nothing is created or pruned.
std::optional<TEntryRef> FindEntry(const QByteArray &given, QString &error)
{
    const QString shown = DecodeName(given);
    QByteArray path = given;
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    struct stat st;
    if (path.isEmpty() || ::lstat(path.constData(), &st) != 0) {
        error = QStringLiteral("%1: %2").arg(shown, path.isEmpty() ? SystemText(ENOENT) : SystemText(errno));
        return std::nullopt;
    }
    QByteArray name = ExtractFileName(path);
    if (name == "." || name == ".." || path == "/") {
        char resolved[PATH_MAX];
        if (!::realpath(path.constData(), resolved)) {
            error = QStringLiteral("%1: %2").arg(shown, SystemText(errno));
            return std::nullopt;
        }
        path = resolved;
        name = ExtractFileName(path);
    }
    if (name.isEmpty()) {
        error = QStringLiteral("%1: the root folder has no folder above it to describe it").arg(shown);
        return std::nullopt;
    }
    QByteArray folder = ExtractFilePath(path);
    if (folder.isEmpty())
        folder = "./";
    TReadListing listing = ReadListing(folder);
    if (!listing.Whole()) {
        error = listing.Problem();
        return std::nullopt;
    }
    TEntryRef ref{std::move(listing.Catalogue)};
    for (const bool isFolder : {true, false}) {
        const std::vector<TCatalogueEntry> &entries = isFolder ? ref.Catalogue.Folders : ref.Catalogue.Files;
        for (size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].Name == name) {
                ref.IsFolder = isFolder;
                ref.Index = i;
                return ref;
            }
        }
    }
    // Not listed: the window shows no row for it either. Say why.
    const QString reason = ProfileFile::UnsafeEntryReason(kSectionFiles, name, {});
    if (!reason.isEmpty())
        error = QStringLiteral("%1: %2").arg(shown, reason);
    else if (TNameEqual()(ViewOf(name), kDescFileName))
        error = QStringLiteral("%1: the description file itself has no description").arg(shown);
    else
        error = QStringLiteral("%1: not listed in its folder").arg(shown);
    return std::nullopt;
}

// --- get, set ----------------------------------------------------------------------------------

int Get(const std::vector<QByteArray> &args)
{
    QString error;
    const std::optional<TArgs> parsed = ParseArgs(args, {}, {}, error);
    if (!parsed)
        return Usage(error);
    if (parsed->Positional.empty())
        return Usage(QStringLiteral("get needs a PATH"));
    const bool several = parsed->Positional.size() > 1;
    // Into a pipe the text stays as stored (as UTF-8), for scripts.
    const bool terminal = OutputIsTerminal();
    int code = kExitDone;
    for (const QByteArray &path : parsed->Positional) {
        const std::optional<TEntryRef> ref = FindEntry(path, error);
        if (!ref) {
            code = Fail(error);
            continue;
        }
        QByteArray text = EncodeText(DecodeText(ref->Entry().Description));
        if (terminal)
            text = TerminalText(text);
        const QByteArray prefix = !several ? QByteArray() : (terminal ? TerminalName(path) : path) + ": ";
        Write(stdout, prefix + text + '\n');
    }
    return code;
}

QByteArray ReadStandardInput()
{
    QByteArray bytes;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;)
        bytes.append(buffer, qsizetype(n));
    return bytes;
}

// Removes the key that describes the entry; a second key that then describes it (one spelled
// alike but for letter case or form) goes too, so that the entry is left without a description.
int RemoveDescription(TEntryRef ref, const QByteArray &path)
{
    for (int round = 0; round < 64 && !ref.Entry().Description.isEmpty(); ++round) {
        const QByteArray descPath = ref.Catalogue.DescPath;
        QByteArray key;
        {
            ProfileFile profile(descPath);
            key = DescriptionKey(profile, ref.Section(), ref.Entry().Name, ref.Names());
        }
        const char *section = ref.Section();
        const int error = ReplaceFileLocked(descPath,
                                            [&](const std::optional<QByteArray> &current) -> std::optional<QByteArray> {
                                                if (!current)
                                                    return std::nullopt;
                                                TProfileDocument doc(*current);
                                                if (!doc.MarkDeletedExact(section, key))
                                                    return std::nullopt;
                                                return doc.BytesWithoutDeleted();
                                            });
        if (error)
            return Fail(QStringLiteral("Unable to write to %1: %2").arg(DecodeName(descPath), FileErrorText(error)));
        QString findError;
        std::optional<TEntryRef> again = FindEntry(path, findError);
        if (!again)
            return Fail(findError);
        ref = std::move(*again);
    }
    return kExitDone;
}

int Set(const std::vector<QByteArray> &args)
{
    // The text is taken as it is, also when it begins with "--".
    std::vector<QByteArray> rest(args.begin() + 1, args.end());
    if (!rest.empty() && rest.front() == "--")
        rest.erase(rest.begin());
    if (rest.size() != 2)
        return Usage(QStringLiteral("set needs a PATH and a TEXT (\"-\" for standard input)"));
    const QByteArray &path = rest[0];
    QByteArray text = rest[1];
    if (text == "-") {
        text = ReadStandardInput();
        if (text.endsWith('\n'))
            text.chop(1);
        if (text.endsWith('\r'))
            text.chop(1);
    }
    if (!IsValidUtf8(text))
        return Fail(QStringLiteral("%1: the text is not UTF-8").arg(DecodeName(path)));
    QString error;
    const std::optional<TEntryRef> ref = FindEntry(path, error);
    if (!ref)
        return Fail(error);
    if (text.isEmpty()) {
        const int code = RemoveDescription(*ref, path);
        KeepIndexCurrent(ref->Catalogue.Folder);
        if (code == kExitDone)
            MirrorWritten(ref->Catalogue.Folder, {{ref->Entry().Name, {}}});
        return code;
    }
    const QByteArray &descPath = ref->Catalogue.DescPath;
    // Refused before anything is created, with the window's message.
    if (const QString reason = ProfileFile::UnsafeEntryReason(ref->Section(), ref->Entry().Name, text);
        !reason.isEmpty())
        return Fail(QStringLiteral("Unable to write to %1: %2").arg(DecodeName(descPath), reason));
    try {
        try {
            // The window creates the file when it lists the folder; one made here looks the same.
            CreateDescriptionFile(descPath);
        } catch (const TException &e) {
            return Fail(QStringLiteral("Unable to create %1: %2").arg(DecodeName(descPath), e.Message()));
        }
        ProfileFile profile(descPath);
        WriteDescription(profile, ref->Section(), ref->Entry().Name, ref->Names(), text);
    } catch (const TException &e) {
        return Fail(e.Message());
    }
    KeepIndexCurrent(ref->Catalogue.Folder);
    MirrorWritten(ref->Catalogue.Folder, {{ref->Entry().Name, text}});
    return kExitDone;
}

// --- ls ------------------------------------------------------------------------------------------

QString TypeName(bool isFolder)
{
    return isFolder ? QStringLiteral("folder") : QStringLiteral("file");
}

int Ls(const std::vector<QByteArray> &args)
{
    QString error;
    const std::optional<TArgs> parsed = ParseArgs(args, {"--undescribed", "--json"}, {}, error);
    if (!parsed)
        return Usage(error);
    if (parsed->Positional.size() > 1)
        return Usage(QStringLiteral("ls takes one FOLDER"));
    const QByteArray folder = parsed->Positional.empty() ? QByteArray(".") : parsed->Positional.front();
    if (!IsExistingFolder(folder))
        return Fail(QStringLiteral("%1: no such folder").arg(DecodeName(folder)));
    const TReadListing listing = ReadListing(folder);
    const TFolderCatalogue &catalogue = listing.Catalogue;
    const bool undescribed = parsed->Has("--undescribed");
    struct TRow {
        const TCatalogueEntry *Entry;
        bool IsFolder;
    };
    std::vector<TRow> rows;
    rows.reserve(catalogue.Folders.size() + catalogue.Files.size());
    // Without its descriptions, a row would tell that an entry has none: no rows then.
    if (listing.DescriptionError.isEmpty())
        for (const auto &[entries, isFolder] :
             {std::pair{&catalogue.Folders, true}, std::pair{&catalogue.Files, false}})
            for (const TCatalogueEntry &entry : *entries)
                if (!undescribed || entry.Description.isEmpty())
                    rows.push_back({&entry, isFolder});

    if (parsed->Has("--json")) {
        QJsonArray list;
        for (const TRow &row : rows) {
            QJsonObject object;
            InsertJsonName(object, QStringLiteral("name"), row.Entry->Name);
            object.insert(QStringLiteral("type"), TypeName(row.IsFolder));
            object.insert(QStringLiteral("description"), DecodeText(row.Entry->Description));
            list.append(object);
        }
        const QByteArray json = QJsonDocument(list).toJson(QJsonDocument::Indented);
        Write(stdout, OutputIsTerminal() ? TerminalLines(json) : json);
    } else {
        // Descriptions start in one column; a name wider than the cap only pushes its own.
        constexpr int kWidestColumn = 40;
        std::vector<std::pair<QByteArray, int>> names;
        names.reserve(rows.size());
        int column = 0;
        for (const TRow &row : rows) {
            QByteArray name = TerminalName(row.Entry->Name);
            if (row.IsFolder)
                name += '/';
            const int width = DisplayWidth(name);
            column = std::max(column, std::min(width, kWidestColumn));
            names.emplace_back(std::move(name), width);
        }
        QByteArray out;
        out.reserve(qsizetype(rows.size()) * 64);
        for (size_t i = 0; i < rows.size(); ++i) {
            out += names[i].first;
            if (!rows[i].Entry->Description.isEmpty()) {
                out.append(qsizetype(std::max(column - names[i].second, 0) + 2), ' ');
                out += TerminalText(rows[i].Entry->Description);
            }
            out += '\n';
        }
        Write(stdout, out);
    }
    if (!listing.Whole())
        return Fail(listing.Problem());
    return kExitDone;
}

// --- export --------------------------------------------------------------------------------------

using TExportedComment = TDescriptionIndex::TExportedComment;

enum class TStaleComment { Removed, NotOurs, Failed };

// Removes a comment that an earlier export wrote for an entry that has no description now, only
// while the same file still holds the very text written: anything else is another program's.
TStaleComment RemoveStaleComment(const QByteArray &path, const TExportedComment &exported, int &error)
{
    error = 0;
    struct stat st;
    if (::stat(path.constData(), &st) != 0) {
        error = errno;
        return error == ENOENT || error == ENOTDIR ? TStaleComment::NotOurs : TStaleComment::Failed;
    }
    if (quint64(st.st_dev) != exported.Device || quint64(st.st_ino) != exported.Inode)
        return TStaleComment::NotOurs;
    const std::optional<QByteArray> current = ReadComment(path, &error);
    if (!current)
        return error && error != ENOTSUP ? TStaleComment::Failed : TStaleComment::NotOurs;
    if (*current != exported.Text)
        return TStaleComment::NotOurs;
    error = RemoveComment(path);
    if (error == ENODATA)
        return TStaleComment::NotOurs;
    return error ? TStaleComment::Failed : TStaleComment::Removed;
}

QString CommentErrorText(int error)
{
    return error == ENOTSUP ? QStringLiteral("the file system keeps no user extended attributes") : SystemText(error);
}

using TRecordedComments = std::map<QByteArray, TExportedComment>; // by entry name

// Writes the comments of a folder's entries, taking each written entry's record out of recorded
// into kept. True when the file system keeps no comments: the rest of the folder is then skipped.
bool WriteFolderComments(const TExportFolder &folder, TRecordedComments &recorded, std::vector<TExportedComment> &kept,
                         int &written, int &code)
{
    bool unsupported = false; // the rest of the folder is on the same file system
    for (const TExportEntry &entry : folder.Entries) {
        const QByteArray path = folder.Path + entry.Name;
        auto before = recorded.extract(entry.Name);
        if (unsupported) {
            if (!before.empty())
                kept.push_back(std::move(before.mapped()));
            continue;
        }
        // The attribute holds UTF-8: an old Windows-1252 description is converted.
        const QByteArray text = EncodeText(DecodeText(entry.Description));
        const int error = WriteComment(path, text);
        if (error == 0) {
            ++written;
            struct stat st;
            if (::stat(path.constData(), &st) == 0)
                kept.push_back({entry.Name, quint64(st.st_dev), quint64(st.st_ino), text});
            continue;
        }
        if (!before.empty())
            kept.push_back(std::move(before.mapped()));
        code = Fail(
            QStringLiteral("Unable to write the comment of %1: %2").arg(DecodeName(path), CommentErrorText(error)));
        unsupported = error == ENOTSUP;
    }
    return unsupported;
}

// Removes the comments written earlier for entries that have no description now (what is left in
// recorded); a record whose comment stays is kept.
void RemoveStaleComments(const TExportFolder &folder, bool unsupported, TRecordedComments &recorded,
                         std::vector<TExportedComment> &kept, int &removed, int &code)
{
    for (auto &[name, comment] : recorded) {
        // Where descriptions could not all be read, a missing one proves nothing.
        if (!folder.Whole || unsupported) {
            kept.push_back(std::move(comment));
            continue;
        }
        const QByteArray path = folder.Path + name;
        int error = 0;
        switch (RemoveStaleComment(path, comment, error)) {
        case TStaleComment::Removed: ++removed; break;
        case TStaleComment::NotOurs: break;
        case TStaleComment::Failed:
            kept.push_back(std::move(comment));
            code = Fail(QStringLiteral("Unable to remove the comment of %1: %2")
                            .arg(DecodeName(path), CommentErrorText(error)));
            break;
        }
    }
}

// One folder's comments: written, the stale ones removed, and what is written now remembered.
void ExportFolderComments(const TExportFolder &folder, std::optional<TDescriptionIndex> &index, int &written,
                          int &removed, int &code)
{
    const QByteArray real = index ? RealFolder(folder.Path) : QByteArray();
    TRecordedComments recorded; // what is left after writing has no description now
    if (!real.isEmpty())
        for (TExportedComment &comment : index->ExportedComments(real))
            recorded.emplace(comment.Name, std::move(comment));
    const bool hadRecords = !recorded.empty();
    std::vector<TExportedComment> kept;
    const bool unsupported = WriteFolderComments(folder, recorded, kept, written, code);
    RemoveStaleComments(folder, unsupported, recorded, kept, removed, code);
    if (!real.isEmpty() && (hadRecords || !kept.empty()))
        index->SetExportedComments(real, kept);
}

void PrintExportSummary(int written, int removed)
{
    QByteArray summary = QByteArray::number(written) + (written == 1 ? " comment written\n" : " comments written\n");
    if (removed > 0)
        summary += QByteArray::number(removed)
                   + (removed == 1 ? " comment removed (its description is gone)\n"
                                   : " comments removed (their descriptions are gone)\n");
    Write(stdout, summary);
}

// The index that remembers the comments written; none, and a note of what that costs (`without`),
// when the user switched it off.
void OpenIndexUnlessSwitchedOff(std::optional<TDescriptionIndex> &index, const QString &without)
{
    if (IndexSwitchedOff())
        Note(QStringLiteral("the description index is switched off (DIRNOTE_NO_INDEX=1): ") + without);
    else
        index.emplace();
}

// Writes each description into its entry's comment. The index remembers what was written, so
// that the comment of a description removed since goes too (in folders listed whole, whose
// descriptions were read); without the index, none is removed.
int ExportComments(const std::vector<TExportFolder> &folders, int code)
{
    std::optional<TDescriptionIndex> index;
    OpenIndexUnlessSwitchedOff(index, QStringLiteral("comments of removed descriptions are not removed"));
    int written = 0, removed = 0;
    for (const TExportFolder &folder : folders)
        ExportFolderComments(folder, index, written, removed, code);
    PrintExportSummary(written, removed);
    if (index && !index->IsUsable()) {
        QString problem = index->TakeProblem();
        if (problem.isEmpty())
            problem = QStringLiteral("The description index %1 cannot be used").arg(index->Path());
        code = Fail(problem + QStringLiteral("; comments of removed descriptions are not removed"));
    }
    return code;
}

int Export(const std::vector<QByteArray> &args)
{
    QString error;
    const std::optional<TArgs> parsed = ParseArgs(args, {"--recursive"}, {"--format", "--to"}, error);
    if (!parsed)
        return Usage(error);
    if (parsed->Positional.size() > 1)
        return Usage(QStringLiteral("export takes one FOLDER"));
    const QByteArray format = parsed->Value("--format"), to = parsed->Value("--to");
    if (format.isEmpty() == to.isEmpty())
        return Usage(QStringLiteral("export needs either --format md|csv|json or --to xattr"));
    if (!format.isEmpty() && format != "md" && format != "csv" && format != "json")
        return Usage(QStringLiteral("unknown format %1 (md, csv or json)").arg(DecodeName(format)));
    if (!to.isEmpty() && to != "xattr")
        return Usage(QStringLiteral("unknown target %1 (xattr)").arg(DecodeName(to)));
    const QByteArray folder = parsed->Positional.empty() ? QByteArray(".") : parsed->Positional.front();
    if (!IsExistingFolder(folder))
        return Fail(QStringLiteral("%1: no such folder").arg(DecodeName(folder)));
    QStringList errors;
    // Attributes need every folder of the walk, also those without descriptions now.
    const std::vector<TExportFolder> folders = CollectDescriptions(folder, parsed->Has("--recursive"), errors,
                                                                   !to.isEmpty());
    int code = kExitDone;
    for (const QString &e : errors)
        code = Fail(e);
    if (!to.isEmpty())
        return ExportComments(folders, code);
    const QByteArray out = format == "md"    ? ExportMarkdown(folders)
                           : format == "csv" ? ExportCsv(folders)
                                             : ExportJson(folders);
    Write(stdout, OutputIsTerminal() ? TerminalLines(out) : out);
    return code;
}

// --- import --------------------------------------------------------------------------------------

int ImportFolder(const QByteArray &folder, const QByteArray &shownPrefix, const TImportOptions &options, bool recursive)
{
    int code = kExitDone;
    const TImportReport report = ImportDescriptions(folder, options);
    // Names and texts come from the disk: shown escaped, as in a listing.
    // Which code page was used decides every name: always said.
    if (!report.Source.isEmpty() && !report.Encoding.isEmpty())
        Write(stdout, "reading " + TerminalName(report.Source) + " as " + EncodeText(report.Encoding) + " ("
                          + EncodeText(report.EncodingBasis) + ")\n");
    const QByteArray would = options.DryRun ? "would set " : "set ";
    for (const TImportStep &step : report.Steps) {
        const QByteArray name = shownPrefix + step.Name + (step.IsFolder ? "/" : "");
        const QByteArray shown = TerminalName(name);
        switch (step.Action) {
        case TImportAction::Set:
            Write(stdout, would + shown + ": " + TerminalText(EncodeText(step.Text)) + '\n');
            break;
        case TImportAction::Kept:
            Write(stdout, "kept " + shown + " (it has a description; --overwrite replaces it)\n");
            break;
        case TImportAction::NoEntry: Write(stdout, "no entry " + shown + '\n'); break;
        case TImportAction::Refused: code = Fail(QStringLiteral("%1: %2").arg(DecodeName(name), step.Reason)); break;
        case TImportAction::Same: break;
        }
    }
    for (const QString &e : report.Errors)
        code = Fail(e);
    if (report.NothingMatched())
        code = Fail(QStringLiteral("%1: none of its %2 entries names an entry of the folder (read as %3; "
                                   "--encoding reads it in another)")
                        .arg(DecodeName(report.Source))
                        .arg(report.Lines)
                        .arg(report.Encoding));
    if (!options.DryRun && report.Count(TImportAction::Set) > 0) {
        KeepIndexCurrent(folder);
        std::vector<std::pair<QByteArray, QByteArray>> written;
        for (const TImportStep &step : report.Steps)
            if (step.Action == TImportAction::Set)
                written.emplace_back(step.Name, EncodeText(step.Text));
        MirrorWritten(folder, written);
    }
    if (!recursive)
        return code;
    // A folder whose descriptions cannot be read still leads to its subfolders.
    for (const QByteArray &path : RealSubfolders(ReadListing(folder).Catalogue))
        code = std::max(code, ImportFolder(path, shownPrefix + ExtractFileName(path) + '/', options, recursive));
    return code;
}

int Import(const std::vector<QByteArray> &args)
{
    QString error;
    const std::optional<TArgs> parsed = ParseArgs(args, {"--recursive", "--overwrite", "--dry-run"},
                                                  {"--from", "--encoding"}, error);
    if (!parsed)
        return Usage(error);
    if (parsed->Positional.size() > 1)
        return Usage(QStringLiteral("import takes one FOLDER"));
    TImportOptions options;
    const QByteArray from = parsed->Value("--from");
    if (from == "descript.ion")
        options.Source = TImportSource::DescriptIon;
    else if (from == "xattr")
        options.Source = TImportSource::Xattr;
    else
        return Usage(QStringLiteral("import needs --from descript.ion or --from xattr"));
    const QByteArray encoding = parsed->Value("--encoding").toLower();
    if (encoding == "utf-8" || encoding == "utf8")
        options.Encoding = TDescriptIonEncoding::Utf8;
    else if (encoding == "cp850")
        options.Encoding = TDescriptIonEncoding::Cp850;
    else if (encoding == "cp1252")
        options.Encoding = TDescriptIonEncoding::Cp1252;
    else if (!encoding.isEmpty())
        return Usage(QStringLiteral("unknown encoding %1 (utf-8, cp850 or cp1252)").arg(DecodeName(encoding)));
    options.Overwrite = parsed->Has("--overwrite");
    options.DryRun = parsed->Has("--dry-run");
    const QByteArray folder = parsed->Positional.empty() ? QByteArray(".") : parsed->Positional.front();
    if (!IsExistingFolder(folder))
        return Fail(QStringLiteral("%1: no such folder").arg(DecodeName(folder)));
    const QByteArray prefix = parsed->Positional.empty() ? QByteArray() : IncludeTrailingPathDelimiter(folder);
    return ImportFolder(folder, prefix, options, parsed->Has("--recursive"));
}
// --- mirror --------------------------------------------------------------------------------------

// Brings the comments of a folder (and, recursive, of the tree below it) up to date with their
// descriptions. On a terminal, standard error shows how many folders were done now and then.
int MirrorTree(const QByteArray &top, bool recursive)
{
    std::optional<TDescriptionIndex> index;
    OpenIndexUnlessSwitchedOff(
        index, QStringLiteral("only entries without a comment get one, and none will be changed later"));
    TCommentMirror mirror(index ? &*index : nullptr);
    const bool progress = ::isatty(STDERR_FILENO) == 1;
    QElapsedTimer shown;
    shown.start();
    int code = kExitDone, folders = 0;
    std::vector<QByteArray> pending{top};
    while (!pending.empty()) {
        const QByteArray folder = std::move(pending.back());
        pending.pop_back();
        const TReadListing listing = ReadListing(folder);
        // Without its descriptions, an entry would seem to have none: its comment is left.
        if (listing.Whole())
            mirror.Folder(listing.Catalogue);
        else
            code = Fail(listing.Problem());
        if (recursive) {
            std::vector<QByteArray> subfolders = RealSubfolders(listing.Catalogue);
            // Taken from the back: name order, as a listing shows them.
            pending.insert(pending.end(), std::make_move_iterator(subfolders.rbegin()),
                           std::make_move_iterator(subfolders.rend()));
        }
        ++folders;
        if (progress && shown.elapsed() >= 1000) {
            Write(stderr, "\r" + QByteArray::number(folders) + (folders == 1 ? " folder" : " folders"));
            std::fflush(stderr);
            shown.restart();
        }
    }
    if (progress && folders > 0)
        Write(stderr, "\r" + QByteArray::number(folders) + (folders == 1 ? " folder\n" : " folders\n"));
    const TMirrorCounts &counts = mirror.Counts();
    for (const QByteArray &path : counts.NotOurs)
        Note(NotOursMessage(path));
    for (const QString &e : counts.Errors)
        code = Fail(e);
    Write(stdout, EncodeText(MirrorSummary(counts)) + '\n');
    return code;
}

int Mirror(const std::vector<QByteArray> &args)
{
    QString error;
    const std::optional<TArgs> parsed = ParseArgs(args, {"--recursive"}, {}, error);
    if (!parsed)
        return Usage(error);
    const std::vector<QByteArray> &words = parsed->Positional;
    if (words.empty())
        return Usage(QStringLiteral("mirror needs on, off or status"));
    const QByteArray &what = words.front();
    if (what != "on" && (words.size() > 1 || parsed->Has("--recursive")))
        return Usage(QStringLiteral("mirror %1 takes no FOLDER and no option").arg(DecodeName(what)));
    if (what == "status") {
        try {
            Write(stdout, ReadMirrorComments() ? "on\n" : "off\n");
        } catch (const TException &e) {
            return Fail(e.Message());
        }
        return kExitDone;
    }
    if (what != "on" && what != "off")
        return Usage(QStringLiteral("unknown mirror setting %1 (on, off or status)").arg(DecodeName(what)));
    if (words.size() > 2)
        return Usage(QStringLiteral("mirror on takes one FOLDER"));
    const QByteArray folder = words.size() == 2 ? words[1] : QByteArray(".");
    if (what == "on" && !IsExistingFolder(folder))
        return Fail(QStringLiteral("%1: no such folder").arg(DecodeName(folder)));
    try {
        SetMirrorComments(what == "on");
    } catch (const TException &e) {
        return Fail(e.Message());
    }
    if (what == "off") {
        Write(stdout, "Descriptions are no longer mirrored to file comments; the comments already written stay.\n");
        return kExitDone;
    }
    Write(stdout, "Descriptions are mirrored to file comments from now on.\n");
    return MirrorTree(folder, parsed->Has("--recursive"));
}

// --- find ----------------------------------------------------------------------------------------

int Find(const std::vector<QByteArray> &args)
{
    QString error;
    const std::optional<TArgs> parsed = ParseArgs(args, {}, {"--below"}, error);
    if (!parsed)
        return Usage(error);
    QStringList words;
    for (const QByteArray &word : parsed->Positional)
        words.append(QString::fromUtf8(word));
    const QString query = words.join(u' ').trimmed();
    if (query.isEmpty())
        return Usage(QStringLiteral("find needs a QUERY"));
    QByteArray below;
    if (const QByteArray given = parsed->Value("--below"); !given.isEmpty()) {
        below = RealFolder(given);
        if (below.isEmpty() || !IsExistingFolder(below))
            return Fail(QStringLiteral("%1: no such folder").arg(DecodeName(given)));
    }
    if (IndexSwitchedOff())
        return Fail(QStringLiteral("The description index is switched off (DIRNOTE_NO_INDEX=1)"));
    TDescriptionIndex index;
    const std::vector<TIndexHit> hits = index.Search(query, 200, below);
    if (!index.IsUsable())
        return Fail(
            QStringLiteral("The description index %1 cannot be used: %2").arg(index.Path(), index.TakeProblem()));
    QByteArray out;
    for (const TIndexHit &hit : hits)
        out += TerminalName(hit.Folder + hit.Name) + (hit.IsFolder ? "/: " : ": ") + TerminalText(EncodeText(hit.Text))
               + '\n';
    Write(stdout, out);
    return kExitDone;
}
// --- help --------------------------------------------------------------------------------------

constexpr const char *kCommands[] = {"get", "set", "ls", "find", "export", "import", "mirror"};

bool IsCommand(const QByteArray &word)
{
    return std::find_if(std::begin(kCommands), std::end(kCommands), [&](const char *c) { return word == c; })
           != std::end(kCommands);
}

// The part of the help text about one command: its synopses ("  get PATH...", continued by lines
// indented by four) and their explanations (indented by six), under "Commands:".
QByteArray CommandHelp(const QByteArray &command)
{
    QByteArray part;
    bool inCommands = false, ours = false;
    for (const QByteArray &line : QByteArray(kDntHelp).split('\n')) {
        if (!line.startsWith(' ')) {
            inCommands = line == "Commands:";
            ours = false;
            continue;
        }
        if (!inCommands)
            continue;
        if (line.size() > 2 && line[2] != ' ') {
            ours = line.mid(2).split(' ').front() == command;
            if (ours)
                part += "  dnt " + line.mid(2) + '\n';
        } else if (ours) {
            // A synopsis continued keeps its place under the first line's text.
            part += (line.startsWith("    ") && line[4] != ' ' ? "    " + line : line) + '\n';
        }
    }
    return "Usage:\n" + part + "\nRun 'dnt --help' for every command, the environment and the exit status.\n";
}

// "--help" among a command's options (before a "--") asks for that command's help.
bool AsksForHelp(const std::vector<QByteArray> &args)
{
    for (size_t i = 1; i < args.size() && args[i] != "--"; ++i)
        if (args[i] == "--help")
            return true;
    return false;
}

int Help(const std::vector<QByteArray> &args)
{
    if (args.size() > 2)
        return Usage(QStringLiteral("help takes one COMMAND"));
    if (args.size() == 2 && !IsCommand(args[1]))
        return Usage(QStringLiteral("unknown command %1").arg(DecodeName(args[1])));
    Write(stdout, args.size() == 2 ? CommandHelp(args[1]) : QByteArray(kDntHelp));
    return kExitDone;
}
} // namespace

int RunDnt(const std::vector<QByteArray> &args)
{
    if (args.empty())
        return Usage(QStringLiteral("no command given"));
    const QByteArray &command = args.front();
    int code = kExitUsage;
    if (command == "--help" || command == "-h" || command == "help") {
        code = Help(args);
    } else if (IsCommand(command) && AsksForHelp(args)) {
        Write(stdout, CommandHelp(command));
        code = kExitDone;
    } else if (command == "--version" || command == "-V") {
        Write(stdout, QByteArray("dnt (DirNote) ") + kDntVersion + '\n');
        code = kExitDone;
    } else if (command == "get") {
        code = Get(args);
    } else if (command == "set") {
        code = Set(args);
    } else if (command == "ls") {
        code = Ls(args);
    } else if (command == "export") {
        code = Export(args);
    } else if (command == "import") {
        code = Import(args);
    } else if (command == "find") {
        code = Find(args);
    } else if (command == "mirror") {
        code = Mirror(args);
    } else {
        code = Usage(QStringLiteral("unknown command %1").arg(DecodeName(command)));
    }
    std::fflush(stdout);
    if (std::ferror(stdout))
        return Fail(QStringLiteral("standard output: %1").arg(SystemText(errno)));
    return code;
}
