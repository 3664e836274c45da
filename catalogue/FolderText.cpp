// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/FolderText.h"

#include "catalogue/DescriptionFile.h"
#include "catalogue/ProfileFile.h"
#include "common/TextCodec.h"

#include <QHash>

#include <deque>
#include <optional>
#include <vector>

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
    if (text.isEmpty())
        return {};
    // A line that reads as a stored one is that stored line, wherever it moved, so its bytes are
    // kept; each stored line serves once, in file order.
    QHash<QString, std::deque<QByteArray>> stored;
    for (const QByteArray &line : original)
        stored[DecodeText(line)].push_back(line);
    auto takeStored = [&stored](const QString &line) -> std::optional<QByteArray> {
        const auto it = stored.find(line);
        if (it == stored.end() || it->empty())
            return std::nullopt;
        QByteArray bytes = it->front();
        it->pop_front();
        return bytes;
    };
    std::vector<std::pair<QString, std::optional<QByteArray>>> lines;
    for (const QString &part : text.split(u'\n')) {
        if (std::optional<QByteArray> bytes = takeStored(part)) {
            lines.emplace_back(part, std::move(bytes));
            continue;
        }
        // A line separator breaks the line too, but one inside a stored line, which the text box
        // shows as a break, stays part of that line.
        for (const QString &piece : part.split(QChar::LineSeparator))
            lines.emplace_back(piece, takeStored(piece));
    }
    if (lines.size() > 1 && lines.back().first.isEmpty())
        lines.pop_back();
    QList<QByteArray> result;
    result.reserve(qsizetype(lines.size()));
    for (auto &[line, bytes] : lines)
        result.append(bytes ? std::move(*bytes) : EncodeText(line));
    return result;
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
