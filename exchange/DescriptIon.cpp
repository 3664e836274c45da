// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/DescriptIon.h"

#include "catalogue/FoldedName.h"
#include "common/PathUtils.h"
#include "common/TextCodec.h"

#include <QRegularExpression>

#include <dirent.h>
#include <sys/stat.h>

namespace {
constexpr char16_t kCp850High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x00C1, 0x00C2, 0x00C0, 0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x00A4, 0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE, 0x00CF, 0x2518, 0x250C,
    0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580, 0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4, 0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6,
    0x00A7, 0x00F7, 0x00B8, 0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,
};

constexpr char kCtrlD = '\x04';
constexpr char kMultiLineMark = '\xC2'; // after the Ctrl-D of a multi-line entry

struct TRawLine {
    QByteArray Bytes;
    bool MultiLine = false;
};

// "\n" is a line break and "\\" a backslash; any other backslash stays as it is.
QString Unescaped(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\' && i + 1 < text.size() && (text[i + 1] == u'n' || text[i + 1] == u'\\')) {
            result += text[i + 1] == u'n' ? u'\n' : u'\\';
            ++i;
        } else {
            result += text[i];
        }
    }
    return result;
}

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}
} // namespace

QString DecodeCp850(const QByteArray &bytes)
{
    QString result(bytes.size(), Qt::Uninitialized);
    QChar *out = result.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *out++ = b < 0x80 ? QChar(char16_t(b)) : QChar(kCp850High[b - 0x80]);
    }
    return result;
}

QString JoinedLines(const QString &text)
{
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|[\r\n\u2028\u2029]"));
    QStringList lines;
    for (const QString &line : text.split(lineBreak))
        if (const QString trimmed = line.trimmed(); !trimmed.isEmpty())
            lines.append(trimmed);
    return lines.join(QStringLiteral(" / "));
}

QString EncodingName(TDescriptIonEncoding encoding)
{
    switch (encoding) {
    case TDescriptIonEncoding::Cp850: return QStringLiteral("CP850");
    case TDescriptIonEncoding::Cp1252: return QStringLiteral("CP1252");
    case TDescriptIonEncoding::Utf8: break;
    }
    return QStringLiteral("UTF-8");
}

namespace {
struct TRawLines {
    bool Bom = false;
    bool Utf8 = true; // every line is valid UTF-8
    std::vector<TRawLine> Lines;
};

// The file's lines as bytes, each without what follows its Ctrl-D. The marker byte 0xC2 alone is
// no UTF-8, so markers go before the encoding is looked at.
TRawLines SplitLines(const QByteArray &bytes)
{
    TRawLines result;
    QByteArray content = bytes;
    result.Bom = content.startsWith("\xEF\xBB\xBF");
    if (result.Bom)
        content.remove(0, 3);
    if (const qsizetype eof = content.indexOf('\x1A'); eof >= 0)
        content.truncate(eof);
    for (QByteArray line : content.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        for (QByteArray part : line.split('\r')) {
            TRawLine raw;
            if (const qsizetype mark = part.indexOf(kCtrlD); mark >= 0) {
                raw.MultiLine = part.size() == mark + 2 && part[mark + 1] == kMultiLineMark;
                part.truncate(mark);
            }
            result.Utf8 = result.Utf8 && IsValidUtf8(part);
            raw.Bytes = std::move(part);
            result.Lines.push_back(std::move(raw));
        }
    }
    return result;
}

QString Decoded(const QByteArray &bytes, TDescriptIonEncoding encoding)
{
    switch (encoding) {
    case TDescriptIonEncoding::Cp850: return DecodeCp850(bytes);
    case TDescriptIonEncoding::Cp1252: return DecodeWindows1252(bytes);
    case TDescriptIonEncoding::Utf8: break;
    }
    return QString::fromUtf8(bytes);
}
} // namespace

std::vector<TDescriptIonEncoding> CandidateEncodings(const QByteArray &bytes)
{
    const TRawLines lines = SplitLines(bytes);
    if (lines.Bom)
        return {TDescriptIonEncoding::Utf8};
    std::vector<TDescriptIonEncoding> result;
    if (lines.Utf8)
        result.push_back(TDescriptIonEncoding::Utf8);
    result.push_back(TDescriptIonEncoding::Cp850);
    result.push_back(TDescriptIonEncoding::Cp1252);
    return result;
}

TDescriptIon ParseDescriptIon(const QByteArray &bytes, TDescriptIonEncoding encoding)
{
    TDescriptIon result;
    result.Encoding = encoding;
    for (const TRawLine &raw : SplitLines(bytes).Lines) {
        const QString line = Decoded(raw.Bytes, encoding);
        QString name;
        qsizetype rest = 0;
        if (line.startsWith(u'"')) {
            const qsizetype close = line.indexOf(u'"', 1);
            if (close < 0)
                continue;
            name = line.mid(1, close - 1);
            rest = close + 1;
        } else {
            while (rest < line.size() && !IsBlank(line[rest]))
                ++rest;
            name = line.left(rest);
        }
        QString text = line.mid(rest);
        if (raw.MultiLine)
            text = Unescaped(text);
        text = JoinedLines(text);
        if (!name.isEmpty() && !text.isEmpty())
            result.Entries.push_back({name, text});
    }
    return result;
}

QByteArray FindDescriptIon(const QByteArray &folder)
{
    const QByteArray prefix = IncludeTrailingPathDelimiter(folder);
    struct stat st;
    const QByteArray usual = prefix + kDescriptIonName;
    if (::stat(usual.constData(), &st) == 0 && S_ISREG(st.st_mode))
        return usual;
    DIR *dir = ::opendir(prefix.constData());
    if (!dir)
        return {};
    QByteArray found;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray path = prefix + entry->d_name;
        if (TNameEqual()(entry->d_name, kDescriptIonName) && ::stat(path.constData(), &st) == 0
            && S_ISREG(st.st_mode)) {
            found = path;
            break;
        }
    }
    ::closedir(dir);
    return found;
}
