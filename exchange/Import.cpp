// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/Import.h"

#include "catalogue/DescriptionFile.h"
#include "catalogue/FoldedName.h"
#include "catalogue/FolderCatalogue.h"
#include "catalogue/ProfileFile.h"
#include "common/AtomicFile.h"
#include "common/Exceptions.h"
#include "common/PathUtils.h"
#include "common/TextCodec.h"
#include "exchange/FolderListing.h"
#include "exchange/Xattr.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

qsizetype TImportReport::Count(TImportAction action) const
{
    return std::count_if(Steps.begin(), Steps.end(), [action](const TImportStep &s) { return s.Action == action; });
}

bool TImportReport::NothingMatched() const
{
    return Lines > 0 && Count(TImportAction::NoEntry) == Lines;
}

namespace {
struct TTable {
    const char *Section;
    const std::vector<TCatalogueEntry> *Entries;
    bool IsFolder;
};

// One text found for an entry of a table.
struct TFound {
    size_t Entry;
    QString Text;
};

// The descript.ion's names matched as keys would be: each entry takes at most one of them.
struct TMatch {
    std::vector<TFound> Found[2];
    std::vector<size_t> Unmatched; // the file's entries that name no entry of the folder
    size_t Matched() const { return Found[0].size() + Found[1].size(); }
};

TMatch MatchDescriptIon(const TDescriptIon &file, const TTable (&tables)[2])
{
    TMatch match;
    std::vector<QByteArray> names;
    std::vector<std::string_view> keys;
    names.reserve(file.Entries.size());
    for (const TDescriptIonEntry &entry : file.Entries)
        names.push_back(EncodeName(entry.Name));
    for (const QByteArray &name : names)
        keys.push_back(ViewOf(name));
    std::vector<bool> used(keys.size(), false);
    for (int t = 0; t < 2; ++t) {
        const std::vector<std::string_view> entryNames = NameViews(*tables[t].Entries);
        const TNameRule rule(entryNames, keys);
        for (size_t i = 0; i < entryNames.size(); ++i) {
            const qsizetype key = rule.KeyOf(i);
            if (key < 0 || used[size_t(key)])
                continue;
            used[size_t(key)] = true;
            match.Found[t].push_back({i, file.Entries[size_t(key)].Text});
        }
    }
    for (size_t k = 0; k < keys.size(); ++k)
        if (!used[k])
            match.Unmatched.push_back(k);
    return match;
}

// The file read in the asked encoding, or else in the one under which most of its names match the
// folder's entries: a file written in another code page than the DOS one names nothing there
// when read as DOS text. Where the names match alike, the likelier encoding wins.
void ReadDescriptIon(const QByteArray &bytes, const TImportOptions &options, const TTable (&tables)[2],
                     std::vector<TFound> (&found)[2], TImportReport &report)
{
    const std::vector<TDescriptIonEncoding> candidates = options.Encoding
                                                             ? std::vector<TDescriptIonEncoding>{*options.Encoding}
                                                             : CandidateEncodings(bytes);
    std::optional<TDescriptIon> best;
    TMatch bestMatch;
    size_t runnerUp = 0; // the most names another encoding matched
    for (const TDescriptIonEncoding encoding : candidates) {
        TDescriptIon file = ParseDescriptIon(bytes, encoding);
        TMatch match = MatchDescriptIon(file, tables);
        if (!best || match.Matched() > bestMatch.Matched()) {
            if (best)
                runnerUp = bestMatch.Matched();
            best = std::move(file);
            bestMatch = std::move(match);
        } else {
            runnerUp = std::max(runnerUp, match.Matched());
        }
    }
    const bool decided = bestMatch.Matched() > runnerUp;
    report.Encoding = EncodingName(best->Encoding);
    report.EncodingBasis = options.Encoding         ? QStringLiteral("as asked")
                           : candidates.size() == 1 ? QStringLiteral("a byte-order mark")
                           : decided                ? QStringLiteral("its names match the folder's entries")
                                                    : QStringLiteral("the names do not decide");
    report.Lines = qsizetype(best->Entries.size());
    for (int t = 0; t < 2; ++t)
        found[t] = std::move(bestMatch.Found[t]);
    for (const size_t k : bestMatch.Unmatched) {
        const TDescriptIonEntry &entry = best->Entries[k];
        report.Steps.push_back({EncodeName(entry.Name), false, entry.Text, TImportAction::NoEntry, {}});
    }
}

void ReadComments(const QByteArray &folder, const TTable (&tables)[2], std::vector<TFound> (&found)[2],
                  TImportReport &report)
{
    for (int t = 0; t < 2; ++t) {
        const std::vector<TCatalogueEntry> &entries = *tables[t].Entries;
        for (size_t i = 0; i < entries.size(); ++i) {
            const QByteArray path = folder + entries[i].Name;
            int error = 0;
            const std::optional<QByteArray> comment = ReadComment(path, &error);
            if (error && error != ENOTSUP)
                report.Errors.append(QStringLiteral("Unable to read the comment of %1: %2")
                                         .arg(DecodeName(path), QString::fromLocal8Bit(std::strerror(error))));
            if (const QString text = comment ? JoinedLines(DecodeText(*comment)) : QString(); !text.isEmpty())
                found[t].push_back({i, text});
        }
    }
}
} // namespace

TImportReport ImportDescriptions(const QByteArray &folder, const TImportOptions &options)
{
    TImportReport report;
    const TReadListing listing = ReadListing(folder);
    // Without the descriptions the folder has, none could be kept: nothing is written.
    if (!listing.Whole()) {
        report.Errors.append(listing.Problem());
        return report;
    }
    const TFolderCatalogue &catalogue = listing.Catalogue;
    const TTable tables[2] = {{kSectionFolders, &catalogue.Folders, true}, {kSectionFiles, &catalogue.Files, false}};
    std::vector<TFound> found[2];
    if (options.Source == TImportSource::DescriptIon) {
        report.Source = FindDescriptIon(catalogue.Folder);
        if (report.Source.isEmpty())
            return report;
        int error = 0;
        const std::optional<QByteArray> bytes = ReadWholeFile(report.Source, nullptr, &error);
        if (!bytes) {
            report.Errors.append(
                QStringLiteral("Unable to read %1: %2").arg(DecodeName(report.Source), FileErrorText(error)));
            return report;
        }
        ReadDescriptIon(*bytes, options, tables, found, report);
    } else {
        ReadComments(catalogue.Folder, tables, found, report);
    }

    ProfileFile profile(catalogue.DescPath);
    bool created = false;
    for (int t = 0; t < 2; ++t) {
        const TTable &table = tables[t];
        std::vector<QByteArray> names;
        for (const TCatalogueEntry &entry : *table.Entries)
            names.push_back(entry.Name);
        for (const TFound &f : found[t]) {
            const TCatalogueEntry &entry = (*table.Entries)[f.Entry];
            TImportStep step{entry.Name, table.IsFolder, f.Text, TImportAction::Set, {}};
            const QByteArray bytes = EncodeText(f.Text);
            if (!entry.Description.isEmpty() && DecodeText(entry.Description) == f.Text)
                step.Action = TImportAction::Same;
            else if (!entry.Description.isEmpty() && !options.Overwrite)
                step.Action = TImportAction::Kept;
            else if (const QString reason = ProfileFile::UnsafeEntryReason(table.Section, entry.Name, bytes);
                     !reason.isEmpty()) {
                step.Action = TImportAction::Refused;
                step.Reason = reason;
            } else if (!options.DryRun) {
                try {
                    // The window creates this file when it lists the folder; a new one looks the same.
                    if (!created) {
                        try {
                            CreateDescriptionFile(catalogue.DescPath);
                        } catch (const TException &e) {
                            throw TException(QStringLiteral("Unable to create %1: %2")
                                                 .arg(DecodeName(catalogue.DescPath), e.Message()));
                        }
                        created = true;
                    }
                    WriteDescription(profile, table.Section, entry.Name, names, bytes);
                } catch (const TException &e) {
                    report.Errors.append(e.Message());
                    return report;
                }
            }
            report.Steps.push_back(std::move(step));
        }
    }
    return report;
}
