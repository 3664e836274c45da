// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/RegistryFile.h"

#include "common/TextCodec.h"

#include <QList>
#include <QStringDecoder>

#include <cctype>

namespace {

bool IsAscii(const QByteArray &text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// Names match without regard to case, also beyond ASCII (the names are stored text).
bool SameName(const QByteArray &a, const QByteArray &b)
{
    if (IsAscii(a) && IsAscii(b))
        return a.size() == b.size() && qstrnicmp(a.constData(), b.constData(), std::size_t(a.size())) == 0;
    return DecodeText(a).compare(DecodeText(b), Qt::CaseInsensitive) == 0;
}

QList<QByteArray> SplitKeyPath(const QByteArray &keyPath)
{
    QList<QByteArray> parts;
    for (const QByteArray &part : keyPath.split('\\'))
        if (!part.isEmpty())
            parts.append(part);
    return parts;
}

// True when `path` is `key` or lies below it.
bool IsSameOrBelow(const QList<QByteArray> &path, const QList<QByteArray> &key)
{
    if (path.size() < key.size())
        return false;
    for (qsizetype i = 0; i < key.size(); ++i)
        if (!SameName(path[i], key[i]))
            return false;
    return true;
}

bool SamePath(const QByteArray &a, const QByteArray &b)
{
    const QList<QByteArray> left = SplitKeyPath(a);
    const QList<QByteArray> right = SplitKeyPath(b);
    return left.size() == right.size() && IsSameOrBelow(left, right);
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArray StripLineEnd(const QByteArray &line)
{
    qsizetype n = line.size();
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r'))
        --n;
    return line.left(n);
}

QByteArray Escape(const QByteArray &text)
{
    QByteArray out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

// Reads a quoted text starting at text[pos] == '"'; pos ends after the closing quote.
// Only \\ and \" are escapes; any other backslash stands for itself.
std::optional<QByteArray> Unquote(const QByteArray &text, qsizetype &pos)
{
    QByteArray out;
    for (qsizetype i = pos + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            pos = i + 1;
            return out;
        }
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"'))
            ++i;
        out += text[i];
    }
    return std::nullopt;
}

bool IsRestBlank(const QByteArray &text, qsizetype pos)
{
    for (; pos < text.size(); ++pos)
        if (!IsBlank(text[pos]))
            return false;
    return true;
}

std::optional<quint32> ParseHexNumber(const QByteArray &digits, int maxDigits)
{
    if (digits.isEmpty() || digits.size() > maxDigits)
        return std::nullopt;
    bool ok = false;
    const quint32 value = digits.toUInt(&ok, 16);
    for (const char c : digits)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
    return ok ? std::optional<quint32>(value) : std::nullopt;
}

// "00,1f,a0" with optional blanks and a tolerated trailing comma.
std::optional<QByteArray> ParseHexList(const QByteArray &text)
{
    QByteArray out;
    const QList<QByteArray> items = text.split(',');
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QByteArray item = items[i].trimmed();
        if (item.isEmpty() && i == items.size() - 1)
            break;
        const std::optional<quint32> byte = ParseHexNumber(item, 2);
        if (!byte)
            return std::nullopt;
        out += char(*byte);
    }
    return out;
}

bool IsStringType(quint32 type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Text types written as hex lists in a UTF-16 export hold UTF-16LE; they are kept as UTF-8.
QByteArray Utf16ToUtf8(const QByteArray &bytes)
{
    // A byte-order mark is a character like any other here, so the text writes back the same.
    QStringDecoder decode(QStringDecoder::Utf16LE,
                          QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return QString(decode(bytes)).toUtf8();
}

// Little-endian units, a leading byte-order mark included (Qt's encoder would drop it).
QByteArray Utf16Bytes(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size() * 2);
    for (const QChar c : text) {
        bytes += char(c.unicode() & 0xFF);
        bytes += char(c.unicode() >> 8);
    }
    return bytes;
}

std::optional<TRegData> ParseData(const QByteArray &text, bool utf16)
{
    qsizetype pos = 0;
    if (text.startsWith('"')) {
        const std::optional<QByteArray> value = Unquote(text, pos);
        if (!value || !IsRestBlank(text, pos))
            return std::nullopt;
        return TRegData{REG_SZ, *value + '\0'};
    }
    const QByteArray lower = text.toLower();
    if (lower.startsWith("dword:")) {
        const std::optional<quint32> value = ParseHexNumber(text.mid(6).trimmed(), 8);
        if (!value)
            return std::nullopt;
        QByteArray bytes(4, '\0');
        for (int i = 0; i < 4; ++i)
            bytes[i] = char((*value >> (8 * i)) & 0xFF);
        return TRegData{REG_DWORD, bytes};
    }
    quint32 type = REG_BINARY;
    if (lower.startsWith("hex:")) {
        pos = 4;
    } else if (lower.startsWith("hex(")) {
        const qsizetype close = lower.indexOf("):");
        const std::optional<quint32> number = close < 0 ? std::nullopt : ParseHexNumber(text.mid(4, close - 4), 8);
        if (!number)
            return std::nullopt;
        type = *number;
        pos = close + 2;
    } else {
        return std::nullopt;
    }
    const std::optional<QByteArray> bytes = ParseHexList(text.mid(pos));
    if (!bytes)
        return std::nullopt;
    if (utf16 && IsStringType(type) && bytes->size() % 2 == 0)
        return TRegData{type, Utf16ToUtf8(*bytes)};
    return TRegData{type, *bytes};
}

// Where the data of a value line ("name"=data or @=data, blanks allowed around the "=")
// begins; nothing when the line is no value line.
std::optional<qsizetype> DataStart(const QByteArray &text, QByteArray &name)
{
    qsizetype pos = 0;
    if (text.startsWith('@')) {
        name.clear();
        pos = 1;
    } else {
        const std::optional<QByteArray> quoted = Unquote(text, pos);
        if (!quoted || quoted->isEmpty())
            return std::nullopt;
        name = *quoted;
    }
    while (pos < text.size() && IsBlank(text[pos]))
        ++pos;
    if (pos >= text.size() || text[pos] != '=')
        return std::nullopt;
    ++pos;
    while (pos < text.size() && IsBlank(text[pos]))
        ++pos;
    return pos;
}

bool ParseValueLine(const QByteArray &line, bool utf16, QByteArray &name, TRegData &data)
{
    const QByteArray text = line.trimmed();
    const std::optional<qsizetype> start = DataStart(text, name);
    if (!start)
        return false;
    const std::optional<TRegData> parsed = ParseData(text.mid(*start), utf16);
    if (!parsed)
        return false;
    data = *parsed;
    return true;
}

// Only hex lists go on over further lines; a quoted text that ends in a backslash does not.
bool IsHexValueLine(const QByteArray &text)
{
    QByteArray name;
    const std::optional<qsizetype> start = DataStart(text, name);
    return start && text.mid(*start, 3).toLower() == "hex";
}

// A further line of a hex list: hex digits, commas and blanks, perhaps a final backslash. A
// blank line, a section header or another value never is, whatever the line before ends with.
bool IsHexContinuation(const QByteArray &text)
{
    if (text.isEmpty())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ',' && !IsBlank(c)
            && !(c == '\\' && i == text.size() - 1))
            return false;
    }
    return true;
}

// Lines end in LF, CRLF or a lone CR; each line keeps its own line end.
QList<QByteArray> SplitLines(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const bool loneCr = bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n');
        if (bytes[i] == '\n' || loneCr) {
            lines.append(bytes.mid(start, i + 1 - start));
            start = i + 1;
        }
    }
    if (start < bytes.size())
        lines.append(bytes.mid(start));
    return lines;
}

// The 1-based line on which the character after `before` stands.
int LineAfter(const QByteArray &before)
{
    const QList<QByteArray> lines = SplitLines(before);
    if (lines.isEmpty())
        return 1;
    const QByteArray &last = lines.last();
    return int(lines.size()) + (last.endsWith('\n') || last.endsWith('\r') ? 1 : 0);
}

// UTF-16LE text after its byte-order mark, as UTF-8; nothing (and the line of the fault) when
// it is cut short or holds a lone surrogate, which would not be written back the same.
std::optional<QByteArray> ReadUtf16(const QByteArray &bytes, int &badLine)
{
    const qsizetype units = bytes.size() / 2;
    const auto unit = [&](qsizetype i) {
        return char16_t(static_cast<unsigned char>(bytes[2 * i]) | (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    };
    for (qsizetype i = 1; i < units; ++i) {
        const char16_t c = unit(i);
        const bool pair = QChar::isHighSurrogate(c) && i + 1 < units && QChar::isLowSurrogate(unit(i + 1));
        if (pair) {
            ++i;
        } else if (QChar::isSurrogate(c)) {
            badLine = LineAfter(Utf16ToUtf8(bytes.mid(2, 2 * (i - 1))));
            return std::nullopt;
        }
    }
    if (bytes.size() % 2 != 0) {
        badLine = LineAfter(Utf16ToUtf8(bytes.mid(2, bytes.size() - 3)));
        return std::nullopt;
    }
    return Utf16ToUtf8(bytes);
}

// A REG_SZ can be written as a quoted text only when it reads back the same.
bool FitsQuotedText(const TRegData &data)
{
    if (data.Type != REG_SZ || !data.Data.endsWith('\0'))
        return false;
    const QByteArray text = data.Data.chopped(1);
    return !text.contains('\0') && !text.contains('\n') && !text.contains('\r');
}

constexpr qsizetype kHexLineWidth = 76;
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF"; // in UTF-8

} // namespace

bool TRegistryFile::IsValidKeyPath(const QByteArray &keyPath)
{
    return !keyPath.contains('\0') && !keyPath.contains('\n') && !keyPath.contains('\r') && !keyPath.startsWith('\\')
           && !keyPath.endsWith('\\') && !keyPath.contains("\\\\");
}

bool TRegistryFile::IsValidValueName(const QByteArray &name)
{
    return !name.contains('\0') && !name.contains('\n') && !name.contains('\r');
}

bool TRegistryFile::Parse(const QByteArray &bytes)
{
    FEntries.clear();
    FHasHeader = false;
    FLineEnd = QByteArrayLiteral("\n");
    FUtf16 = bytes.startsWith("\xFF\xFE");
    FUnreadableLine = 0;
    const auto unreadable = [this](int line) {
        FEntries.clear();
        FHasHeader = false;
        FUnreadableLine = line;
        return false;
    };

    QByteArray text = bytes;
    if (FUtf16) {
        int badLine = 0;
        std::optional<QByteArray> utf8 = ReadUtf16(bytes, badLine);
        if (!utf8)
            return unreadable(badLine);
        text = std::move(*utf8);
    }
    if (const qsizetype nul = text.indexOf('\0'); nul >= 0)
        return unreadable(LineAfter(text.left(nul)));

    const QList<QByteArray> lines = SplitLines(text);
    if (!lines.isEmpty()) {
        const QByteArray &first = lines.first();
        FLineEnd = first.endsWith("\r\n") ? QByteArrayLiteral("\r\n")
                   : first.endsWith('\r') ? QByteArrayLiteral("\r")
                                          : QByteArrayLiteral("\n");
    }

    for (qsizetype i = 0; i < lines.size(); ++i) {
        TEntry entry;
        entry.Raw = lines[i];
        QByteArray line = StripLineEnd(lines[i]).trimmed();
        if (!FHasHeader) {
            if (i == 0 && line.startsWith(kByteOrderMark))
                line = line.mid(3).trimmed();
            if (!line.isEmpty()) {
                if (line.compare("REGEDIT4", Qt::CaseInsensitive) != 0
                    && line != "Windows Registry Editor Version 5.00")
                    return unreadable(int(i) + 1);
                FHasHeader = true;
            }
        } else if (line.startsWith('[')) {
            entry.Kind = TEntryKind::Section;
            // Anything but a plain key of this root ("[-...]" deletions, other roots) is kept as
            // it stands, and the values under it belong to no key of ours.
            if (line.endsWith(']')) {
                const QByteArray inner = line.mid(1, line.size() - 2);
                const qsizetype slash = inner.indexOf('\\');
                const QByteArray root = slash < 0 ? inner : inner.left(slash);
                if (SameName(root, FRootName)) {
                    entry.Ours = true;
                    entry.KeyPath = slash < 0 ? QByteArray() : SplitKeyPath(inner.mid(slash + 1)).join('\\');
                }
            }
        } else if (line.startsWith('"') || line.startsWith('@')) {
            // Long hex lists go on over lines that end with a backslash. One whose next line
            // does not go on with it is damaged: it is kept, but holds no value.
            QByteArray logical = line;
            bool cutShort = false;
            if (IsHexValueLine(line)) {
                while (logical.endsWith('\\')) {
                    const QByteArray next = i + 1 < lines.size() ? StripLineEnd(lines[i + 1]).trimmed() : QByteArray();
                    if (!IsHexContinuation(next)) {
                        cutShort = true;
                        break;
                    }
                    logical.chop(1);
                    ++i;
                    entry.Raw += lines[i];
                    logical += next;
                }
            }
            if (!cutShort && ParseValueLine(logical, FUtf16, entry.Name, entry.Data))
                entry.Kind = TEntryKind::Value;
        }
        FEntries.push_back(std::move(entry));
    }
    return true;
}

QByteArray TRegistryFile::Render(const TEntry &entry) const
{
    if (entry.Kind == TEntryKind::Section)
        return '[' + FRootName + (entry.KeyPath.isEmpty() ? QByteArray() : '\\' + entry.KeyPath) + ']' + FLineEnd;
    QByteArray line = entry.Name.isEmpty() ? QByteArrayLiteral("@") : Escape(entry.Name);
    line += '=';
    const TRegData &data = entry.Data;
    // In a UTF-16 file SetValue let in only text that is UTF-8, so the text converts exactly.
    if (FitsQuotedText(data))
        return line + Escape(data.Data.chopped(1)) + FLineEnd;
    if (data.Type == REG_DWORD && data.Data.size() == 4) {
        quint32 value = 0;
        for (int i = 3; i >= 0; --i)
            value = (value << 8) | static_cast<unsigned char>(data.Data[i]);
        return line + "dword:" + QByteArray::number(value, 16).rightJustified(8, '0') + FLineEnd;
    }
    line += data.Type == REG_BINARY ? QByteArrayLiteral("hex:") : "hex(" + QByteArray::number(data.Type, 16) + "):";
    const QByteArray bytes = FUtf16 && IsStringType(data.Type) ? Utf16Bytes(DecodeText(data.Data)) : data.Data;
    QByteArray out;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        QByteArray item = QByteArray::number(static_cast<unsigned char>(bytes[i]), 16).rightJustified(2, '0');
        if (i + 1 < bytes.size())
            item += ',';
        if (line.size() + item.size() > kHexLineWidth && !line.endsWith(':')) {
            out += line + '\\' + FLineEnd;
            line = QByteArrayLiteral("  ");
        }
        line += item;
    }
    return out + line + FLineEnd;
}

QByteArray TRegistryFile::Serialize() const
{
    QByteArray out;
    for (const TEntry &entry : FEntries) {
        const QByteArray piece = entry.Raw.isEmpty() ? Render(entry) : entry.Raw;
        if (!out.isEmpty() && !out.endsWith('\n') && !out.endsWith('\r'))
            out += FLineEnd; // a last line without its line end gets one before more follows
        else if (out.endsWith('\r') && piece.startsWith('\n'))
            out += '\r'; // an LF after a lone CR would join it into one line end
        out += piece;
    }
    if (!FUtf16)
        return out;
    // Decoded keeping a leading byte-order mark, which QString::fromUtf8 would drop.
    QStringDecoder decode(QStringDecoder::Utf8,
                          QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return Utf16Bytes(decode(out));
}

bool TRegistryFile::KeyExists(const QByteArray &keyPath) const
{
    const QList<QByteArray> key = SplitKeyPath(keyPath);
    if (key.isEmpty())
        return true;
    for (const TEntry &entry : FEntries)
        if (entry.Kind == TEntryKind::Section && entry.Ours && IsSameOrBelow(SplitKeyPath(entry.KeyPath), key))
            return true;
    return false;
}

std::optional<std::size_t> TRegistryFile::FindSection(const QByteArray &keyPath) const
{
    std::optional<std::size_t> found;
    for (std::size_t i = 0; i < FEntries.size(); ++i)
        if (FEntries[i].Kind == TEntryKind::Section && FEntries[i].Ours && SamePath(FEntries[i].KeyPath, keyPath))
            found = i;
    return found;
}

// As on import, a value given twice takes its last definition.
std::optional<std::size_t> TRegistryFile::FindValue(const QByteArray &keyPath, const QByteArray &name) const
{
    std::optional<std::size_t> found;
    bool inKey = false;
    for (std::size_t i = 0; i < FEntries.size(); ++i) {
        const TEntry &entry = FEntries[i];
        if (entry.Kind == TEntryKind::Section)
            inKey = entry.Ours && SamePath(entry.KeyPath, keyPath);
        else if (inKey && entry.Kind == TEntryKind::Value && SameName(entry.Name, name))
            found = i;
    }
    return found;
}

std::optional<TRegData> TRegistryFile::Value(const QByteArray &keyPath, const QByteArray &name) const
{
    const std::optional<std::size_t> index = FindValue(keyPath, name);
    if (!index)
        return std::nullopt;
    return FEntries[*index].Data;
}

// A new key below an existing one is spelled with the existing key's case.
QByteArray TRegistryFile::ExistingCase(const QByteArray &keyPath) const
{
    QList<QByteArray> key = SplitKeyPath(keyPath);
    for (const TEntry &entry : FEntries) {
        if (entry.Kind != TEntryKind::Section || !entry.Ours)
            continue;
        const QList<QByteArray> path = SplitKeyPath(entry.KeyPath);
        for (qsizetype i = 0; i < key.size() && i < path.size() && SameName(key[i], path[i]); ++i)
            key[i] = path[i];
    }
    return key.join('\\');
}

void TRegistryFile::AppendSection(const QByteArray &keyPath)
{
    if (!FHasHeader) {
        TEntry header;
        header.Raw = (FUtf16 ? QByteArrayLiteral("Windows Registry Editor Version 5.00")
                             : QByteArrayLiteral("REGEDIT4"))
                     + FLineEnd;
        // A byte-order mark stays in front of everything.
        if (!FEntries.empty() && FEntries.front().Raw.startsWith(kByteOrderMark)) {
            header.Raw.prepend(kByteOrderMark);
            FEntries.front().Raw.remove(0, 3);
            if (FEntries.front().Raw.isEmpty())
                FEntries.erase(FEntries.begin());
        }
        FEntries.insert(FEntries.begin(), header);
        FHasHeader = true;
    }
    // Sections are set apart by a blank line, as in an export.
    if (!StripLineEnd(FEntries.back().Raw).trimmed().isEmpty() || FEntries.back().Raw.isEmpty()) {
        TEntry blank;
        blank.Raw = FLineEnd;
        FEntries.push_back(blank);
    }
    TEntry section;
    section.Kind = TEntryKind::Section;
    section.Ours = true;
    section.KeyPath = ExistingCase(keyPath);
    FEntries.push_back(section);
}

bool TRegistryFile::HoldsExactly(const QByteArray &text) const
{
    return !FUtf16 || IsValidUtf8(text);
}

// A new section is spelled as ExistingCase gives it.
bool TRegistryFile::CanAppendSection(const QByteArray &keyPath) const
{
    return HoldsExactly(ExistingCase(keyPath));
}

bool TRegistryFile::CreateKey(const QByteArray &keyPath)
{
    if (!KeyExists(keyPath) && !CanAppendSection(keyPath))
        return false;
    const QList<QByteArray> key = SplitKeyPath(keyPath);
    for (qsizetype n = 1; n <= key.size(); ++n) {
        const QByteArray prefix = key.first(n).join('\\');
        if (!KeyExists(prefix))
            AppendSection(prefix);
    }
    return true;
}

bool TRegistryFile::SetValue(const QByteArray &keyPath, const QByteArray &name, const TRegData &data)
{
    if (IsStringType(data.Type) && !HoldsExactly(data.Data))
        return false;
    if (const std::optional<std::size_t> existing = FindValue(keyPath, name)) {
        // The name stays spelled as it stands in the file.
        FEntries[*existing].Data = data;
        FEntries[*existing].Raw.clear();
        return true;
    }
    std::optional<std::size_t> section = FindSection(keyPath);
    if (!HoldsExactly(name) || (!section && !CanAppendSection(keyPath)))
        return false;
    if (!section) {
        AppendSection(keyPath);
        section = FEntries.size() - 1;
    }
    // New values go after the last value of their section, before blank lines and comments.
    std::size_t position = *section + 1;
    for (std::size_t i = *section + 1; i < FEntries.size() && FEntries[i].Kind != TEntryKind::Section; ++i)
        if (FEntries[i].Kind == TEntryKind::Value)
            position = i + 1;
    TEntry entry;
    entry.Kind = TEntryKind::Value;
    entry.Name = name;
    entry.Data = data;
    FEntries.insert(FEntries.begin() + std::ptrdiff_t(position), entry);
    return true;
}
