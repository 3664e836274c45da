// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exchange/DescriptIon.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

#include <vector>

// Descriptions taken over from other tools into a folder's Folder.dnt.

enum class TImportSource { DescriptIon, Xattr };

struct TImportOptions {
    TImportSource Source = TImportSource::DescriptIon;
    // The descript.ion's encoding; without one, the encoding under which the file's names match the
    // folder's entries best (UTF-8 first, then CP850, then CP1252 when they match alike).
    std::optional<TDescriptIonEncoding> Encoding;
    bool Overwrite = false; // replace descriptions the folder already has
    bool DryRun = false;    // decide everything, write nothing
};

enum class TImportAction {
    Set,     // written (or, in a dry run, would be)
    Kept,    // the entry has a description of its own, kept without Overwrite
    Same,    // the entry already has this text
    NoEntry, // the name matches no entry of the folder
    Refused, // the name or text cannot be stored; Reason says why
};

struct TImportStep {
    QByteArray Name;
    bool IsFolder = false;
    QString Text;
    TImportAction Action = TImportAction::Set;
    QString Reason;
};

struct TImportReport {
    QByteArray Source;     // the descript.ion read; empty for the attributes or when there is none
    QString Encoding;      // how the descript.ion was read ("UTF-8", "CP850", "CP1252")
    QString EncodingBasis; // why: "as asked", "a byte-order mark", "its names match the folder's
                           // entries", or "the names do not decide"
    qsizetype Lines = 0;   // the descript.ion's entries
    std::vector<TImportStep> Steps;
    QStringList Errors; // each names its path
    qsizetype Count(TImportAction action) const;
    // The descript.ion has entries and not one of them names an entry of the folder.
    bool NothingMatched() const;
};

// Imports the source's descriptions for the entries of one folder, matched to them by the same
// name rule as the keys of Folder.dnt (letter case and Unicode form aside), and written by the
// same locked write as the window's. Nothing of the folder is pruned. A folder that cannot be
// listed whole, or whose Folder.dnt cannot be read, gets nothing written.
TImportReport ImportDescriptions(const QByteArray &folder, const TImportOptions &options);
