#include "catalogue/FolderText.h"

#include "catalogue/DescriptionFile.h"
#include "catalogue/ProfileFile.h"
#include "common/TextCodec.h"

QList<QByteArray> ReadFolderText(const QByteArray &descPath)
{
    QList<QByteArray> lines;
    if (descPath.isEmpty())
        return lines;
    ProfileFile profile(descPath);
    for (const QByteArray &key : profile.ReadSection(kSectionThisFolder))
        lines.append(profile.ReadString(kSectionThisFolder, key));
    return lines;
}

QList<QByteArray> FolderTextLines(const QString &text, const QList<QByteArray> &original)
{
    QList<QByteArray> lines;
    if (text.isEmpty())
        return lines;
    QStringList parts = text.split(u'\n');
    if (parts.size() > 1 && parts.last().isEmpty())
        parts.removeLast();
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i < original.size() && DecodeText(original.at(i)) == parts.at(i))
            lines.append(original.at(i));
        else
            lines.append(EncodeText(parts.at(i)));
    }
    return lines;
}

void WriteFolderText(const QByteArray &descPath, const QList<QByteArray> &lines)
{
    if (lines.isEmpty())
        return;
    ProfileFile profile(descPath);
    profile.EraseSection(kSectionThisFolder);
    for (qsizetype n = 0; n < lines.size(); ++n)
        profile.WriteString(kSectionThisFolder, "Text" + QByteArray::number(n), lines.at(n));
}
