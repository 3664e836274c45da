// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/Export.h"

#include "catalogue/FolderCatalogue.h"
#include "catalogue/FolderText.h"
#include "common/PathUtils.h"
#include "common/TextCodec.h"
#include "exchange/FolderListing.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>

namespace {
void Collect(const QByteArray &folder, bool recursive, bool keepEmpty, std::vector<TExportFolder> &folders,
             QStringList &errors)
{
    const TReadListing listing = ReadListing(folder);
    const TFolderCatalogue &catalogue = listing.Catalogue;
    for (const QString &error : {catalogue.Error, listing.DescriptionError})
        if (!error.isEmpty())
            errors.append(error);
    TExportFolder result{catalogue.Folder, catalogue.DescPath, {}, {}, listing.Whole()};
    if (listing.DescriptionError.isEmpty())
        result.Text = ReadFolderText(catalogue.DescPath);
    for (const auto &[entries, isFolder] : {std::pair{&catalogue.Folders, true}, std::pair{&catalogue.Files, false}})
        for (const TCatalogueEntry &entry : *entries)
            if (!entry.Description.isEmpty())
                result.Entries.push_back({entry.Name, isFolder, entry.Description});
    if (keepEmpty || !result.Text.isEmpty() || !result.Entries.empty())
        folders.push_back(std::move(result));
    if (!recursive)
        return;
    // A folder whose descriptions cannot be read still leads to its subfolders.
    for (const QByteArray &path : RealSubfolders(catalogue))
        Collect(path, recursive, keepEmpty, folders, errors);
}

QString TypeOf(const TExportEntry &entry)
{
    return entry.IsFolder ? QStringLiteral("folder") : QStringLiteral("file");
}

// Every character Markdown could take for markup is escaped, so names and texts show as they are.
QString MarkdownText(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (QStringView(u"\\`*_[]<>|#!~&").contains(c))
            result += u'\\';
        result += c;
    }
    return result;
}

QString CsvField(const QString &field)
{
    if (!field.contains(u'"') && !field.contains(u',') && !field.contains(u'\n') && !field.contains(u'\r'))
        return field;
    QString quoted = field;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

QString CsvRow(std::initializer_list<QString> fields)
{
    QStringList cells;
    for (const QString &field : fields)
        cells.append(CsvField(field));
    return cells.join(u',') + QStringLiteral("\r\n");
}

QStringList TextLines(const TExportFolder &folder)
{
    QStringList lines;
    for (const QByteArray &line : folder.Text)
        lines.append(DecodeText(line));
    return lines;
}
} // namespace

std::vector<QByteArray> RealSubfolders(const TFolderCatalogue &catalogue)
{
    std::vector<QByteArray> paths;
    for (const TCatalogueEntry &sub : catalogue.Folders) {
        const QByteArray path = catalogue.Folder + sub.Name;
        struct stat st;
        if (::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            paths.push_back(path);
    }
    return paths;
}

std::vector<TExportFolder> CollectDescriptions(const QByteArray &folder, bool recursive, QStringList &errors,
                                               bool keepEmpty)
{
    std::vector<TExportFolder> folders;
    Collect(folder, recursive, keepEmpty, folders, errors);
    return folders;
}

QByteArray ExportMarkdown(const std::vector<TExportFolder> &folders)
{
    QString out;
    for (const TExportFolder &folder : folders) {
        if (!out.isEmpty())
            out += u'\n';
        out += QStringLiteral("## %1\n\n").arg(MarkdownText(DecodeName(folder.Path)));
        if (!folder.Text.isEmpty()) {
            QStringList lines;
            for (const QString &line : TextLines(folder))
                lines.append(MarkdownText(line));
            // A backslash at the end of a line is a hard line break.
            out += lines.join(QStringLiteral("\\\n")) + QStringLiteral("\n\n");
        }
        if (folder.Entries.empty())
            continue;
        out += QStringLiteral("| Name | Type | Description |\n|---|---|---|\n");
        for (const TExportEntry &entry : folder.Entries)
            out += QStringLiteral("| %1 | %2 | %3 |\n")
                       .arg(MarkdownText(DecodeName(entry.Name)), TypeOf(entry),
                            MarkdownText(DecodeText(entry.Description)));
    }
    return EncodeText(out);
}

QByteArray ExportCsv(const std::vector<TExportFolder> &folders)
{
    QString out = CsvRow(
        {QStringLiteral("Folder"), QStringLiteral("Name"), QStringLiteral("Type"), QStringLiteral("Description")});
    for (const TExportFolder &folder : folders) {
        const QString path = DecodeName(folder.Path);
        if (!folder.Text.isEmpty())
            out += CsvRow({path, QString(), QStringLiteral("folder text"), TextLines(folder).join(u'\n')});
        for (const TExportEntry &entry : folder.Entries)
            out += CsvRow({path, DecodeName(entry.Name), TypeOf(entry), DecodeText(entry.Description)});
    }
    return EncodeText(out);
}

void InsertJsonName(QJsonObject &object, const QString &field, const QByteArray &name)
{
    object.insert(field, DecodeName(name));
    if (!IsValidUtf8(name))
        object.insert(field + QStringLiteral("_base64"), QString::fromLatin1(name.toBase64()));
}

QByteArray ExportJson(const std::vector<TExportFolder> &folders)
{
    QJsonArray list;
    for (const TExportFolder &folder : folders) {
        QJsonArray entries;
        for (const TExportEntry &entry : folder.Entries) {
            QJsonObject object;
            InsertJsonName(object, QStringLiteral("name"), entry.Name);
            object.insert(QStringLiteral("type"), TypeOf(entry));
            object.insert(QStringLiteral("description"), DecodeText(entry.Description));
            entries.append(object);
        }
        QJsonObject object;
        InsertJsonName(object, QStringLiteral("folder"), folder.Path);
        object.insert(QStringLiteral("text"), QJsonArray::fromStringList(TextLines(folder)));
        object.insert(QStringLiteral("entries"), entries);
        list.append(object);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("folders"), list}}).toJson(QJsonDocument::Indented);
}
