// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ImportOffer.h"

#include "catalogue/FolderCatalogue.h"
#include "common/Exceptions.h"
#include "common/MessageDlg.h"
#include "common/PathUtils.h"
#include "common/TextCodec.h"
#include "exchange/DescriptIon.h"
#include "exchange/Import.h"
#include "settings/RegSpecial.h"

#include <QCoreApplication>

namespace {
// kToldNothing: the folder was told its descript.ion has nothing to import; it is asked once
// its names match after all (the files were renamed or copied in), and told nothing again.
constexpr qint32 kNotAsked = -1, kDeclined = 0, kImported = 1, kToldNothing = 2;

bool HasDescriptions(const TFolderCatalogue &catalogue)
{
    for (const auto *entries : {&catalogue.Folders, &catalogue.Files})
        for (const TCatalogueEntry &entry : *entries)
            if (!entry.Description.isEmpty())
                return true;
    return false;
}

// Why nothing of the file can be imported, or why some of it was not: the user sees an import
// that did less than the file holds.
QString NothingMatchedText(const TImportReport &report, const QString &file)
{
    return QCoreApplication::translate("ImportOffer",
                                       "Not one of the %n descriptions of %1 names a file or folder here (read as "
                                       "%2: %3), so nothing was imported.",
                                       nullptr, int(report.Lines))
        .arg(file, report.Encoding, report.EncodingBasis);
}

QString RefusedText(const TImportReport &report, const QString &file)
{
    constexpr qsizetype kShown = 10;
    QStringList reasons;
    for (const TImportStep &step : report.Steps)
        if (step.Action == TImportAction::Refused && reasons.size() < kShown)
            reasons << QStringLiteral("- ") + step.Reason;
    const qsizetype refused = report.Count(TImportAction::Refused);
    if (refused > kShown)
        reasons << QCoreApplication::translate("ImportOffer", "and %n more", nullptr, int(refused - kShown));
    return QCoreApplication::translate("ImportOffer", "%n of the descriptions of %1 could not be imported:\n%2",
                                       nullptr, int(refused))
        .arg(file, reasons.join(u'\n'));
}
} // namespace

QString ImportOfferRegKey()
{
    return RegProgramKey + QStringLiteral("\\DescriptIonImport");
}

bool OfferDescriptIonImport(const TFolderCatalogue &catalogue, QWidget *parent, const std::function<bool()> &stillAsked,
                            const std::function<void(const TImportReport &)> &imported)
{
    if (!catalogue.Error.isEmpty() || HasDescriptions(catalogue))
        return false;
    const QByteArray source = FindDescriptIon(catalogue.Folder);
    if (source.isEmpty())
        return false;
    const QString folder = DecodeName(catalogue.Folder);
    qint32 answer = kNotAsked;
    try {
        answer =
            ReadRegValue(HKEY_CURRENT_USER, ImportOfferRegKey(), folder, RegValue::FromInteger(kNotAsked)).AsInteger();
    } catch (const TException &) {
        answer = kDeclined; // a value that is not ours: rather never ask than ask every time
    }
    if (answer != kNotAsked && answer != kToldNothing)
        return false;
    const QString file = DecodeName(ExtractFileName(source));
    TImportOptions options;
    options.DryRun = true;
    const TImportReport trial = ImportDescriptions(catalogue.Folder, options);
    const qsizetype count = trial.Count(TImportAction::Set);
    if (count == 0) {
        // Said once: a folder listed again and again with an unrelated descript.ion would
        // otherwise say it every time.
        if (answer == kToldNothing || !trial.Errors.isEmpty())
            return false;
        QString why;
        if (trial.NothingMatched())
            why = NothingMatchedText(trial, file);
        else if (trial.Count(TImportAction::Refused) > 0)
            why = RefusedText(trial, file) + u'\n'
                  + QCoreApplication::translate("ImportOffer", "Nothing was imported.");
        if (why.isEmpty())
            return false;
        MessageDlg(why, TMsgDlgType::mtInformation, mbOK, parent);
        if (stillAsked && !stillAsked())
            return false;
        WriteRegValue(HKEY_CURRENT_USER, ImportOfferRegKey(), folder, RegValue::FromInteger(kToldNothing));
        return false;
    }
    const TModalResult result = MessageDlg(
        QCoreApplication::translate("ImportOffer", "Import the %n descriptions of %1?", nullptr, int(count)).arg(file),
        TMsgDlgType::mtConfirmation, mbYes | mbNo, parent);
    if (stillAsked && !stillAsked())
        return false;
    const bool yes = result == mrYes;
    WriteRegValue(HKEY_CURRENT_USER, ImportOfferRegKey(), folder, RegValue::FromInteger(yes ? kImported : kDeclined));
    if (!yes)
        return false;
    options.DryRun = false;
    const TImportReport report = ImportDescriptions(catalogue.Folder, options);
    if (imported)
        imported(report);
    if (!report.Errors.isEmpty())
        throw TException(report.Errors.join(u'\n'));
    if (report.Count(TImportAction::Refused) > 0)
        MessageDlg(RefusedText(report, file), TMsgDlgType::mtWarning, mbOK, parent);
    return report.Count(TImportAction::Set) > 0;
}
