#pragma once

#include "exchange/DescriptIon.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// Descriptions taken over from other tools into a folder's Folder.dnt.

enum class TImportSource { DescriptIon, Xattr };

struct TImportOptions {
    TImportSource Source = TImportSource::DescriptIon;
    TLegacyEncoding Encoding = TLegacyEncoding::Cp850;
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
    QByteArray Source; // the descript.ion read; empty for the attributes or when there is none
    QString Encoding;  // how the descript.ion was read
    std::vector<TImportStep> Steps;
    QStringList Errors; // each names its path
    qsizetype Count(TImportAction action) const;
};

// Imports the source's descriptions for the entries of one folder, matched to them by the same
// name rule as the keys of Folder.dnt (letter case and Unicode form aside), and written by the
// same locked write as the window's. Nothing of the folder is pruned. A folder that cannot be
// listed whole, or whose Folder.dnt cannot be read, gets nothing written.
TImportReport ImportDescriptions(const QByteArray &folder, const TImportOptions &options);
