#include "ui/ImportOffer.h"

#include "catalogue/FolderCatalogue.h"
#include "common/Exceptions.h"
#include "common/MessageDlg.h"
#include "common/PathUtils.h"
#include "common/TextCodec.h"
#include "exchange/DescriptIon.h"
#include "exchange/Import.h"
#include "settings/RegSpecial.h"

namespace {
constexpr qint32 kNotAsked = -1, kDeclined = 0, kImported = 1;

bool HasDescriptions(const TFolderCatalogue &catalogue)
{
    for (const auto *entries : {&catalogue.Folders, &catalogue.Files})
        for (const TCatalogueEntry &entry : *entries)
            if (!entry.Description.isEmpty())
                return true;
    return false;
}
} // namespace

QString ImportOfferRegKey()
{
    return RegProgramKey + QStringLiteral("\\DescriptIonImport");
}

bool OfferDescriptIonImport(const TFolderCatalogue &catalogue, QWidget *parent, const std::function<bool()> &stillAsked)
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
    if (answer != kNotAsked)
        return false;
    TImportOptions options;
    options.DryRun = true;
    const qsizetype count = ImportDescriptions(catalogue.Folder, options).Count(TImportAction::Set);
    if (count == 0)
        return false;
    const TModalResult result = MessageDlg(
        QStringLiteral("Import the %1 descriptions of %2?").arg(count).arg(DecodeName(ExtractFileName(source))),
        TMsgDlgType::mtConfirmation, mbYes | mbNo, parent);
    if (stillAsked && !stillAsked())
        return false;
    const bool yes = result == mrYes;
    WriteRegValue(HKEY_CURRENT_USER, ImportOfferRegKey(), folder, RegValue::FromInteger(yes ? kImported : kDeclined));
    if (!yes)
        return false;
    options.DryRun = false;
    const TImportReport report = ImportDescriptions(catalogue.Folder, options);
    if (!report.Errors.isEmpty())
        throw TException(report.Errors.join(u'\n'));
    return report.Count(TImportAction::Set) > 0;
}
