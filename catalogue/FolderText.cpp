#include "catalogue/FolderText.h"

#include "catalogue/DescriptionFile.h"
#include "catalogue/ProfileFile.h"
#include "common/TextCodec.h"

#include <QHash>

#include <deque>

QList<QByteArray> ReadFolderText(const QByteArray &descPath)
{
    QList<QByteArray> lines;
    if (descPath.isEmpty())
        return lines;
    // Every line, not only those whose keys fit the key list: a save replaces the whole section.
    return ProfileFile(descPath).ReadSectionValues(kSectionThisFolder);
}

QList<QByteArray> FolderTextLines(const QString &text, const QList<QByteArray> &original)
{
    QList<QByteArray> lines;
    if (text.isEmpty())
        return lines;
    QStringList parts = text.split(u'\n');
    if (parts.size() > 1 && parts.last().isEmpty())
        parts.removeLast();
    // A line that reads as a stored one is that stored line, wherever it moved, so its bytes are
    // kept; each stored line serves once, in file order.
    QHash<QString, std::deque<QByteArray>> stored;
    for (const QByteArray &line : original)
        stored[DecodeText(line)].push_back(line);
    for (const QString &part : parts) {
        const auto it = stored.find(part);
        if (it == stored.end() || it->empty()) {
            lines.append(EncodeText(part));
            continue;
        }
        lines.append(it->front());
        it->pop_front();
    }
    return lines;
}

void WriteFolderText(const QByteArray &descPath, const QList<QByteArray> &lines)
{
    if (lines.isEmpty())
        return;
    std::vector<std::pair<QByteArray, QByteArray>> entries;
    entries.reserve(size_t(lines.size()));
    for (qsizetype n = 0; n < lines.size(); ++n)
        entries.emplace_back("Text" + QByteArray::number(n), lines.at(n));
    ProfileFile(descPath).ReplaceSection(kSectionThisFolder, entries);
}
