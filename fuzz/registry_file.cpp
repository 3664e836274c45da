// SPDX-License-Identifier: GPL-3.0-or-later
// The registry file: any bytes are read; a file that reads is written back byte for byte; then
// keys and values of every type are set, and after each the file reads back whole, with the
// value set, every earlier value kept and no line changed but that value's own. Only a name or
// text that a UTF-16 file cannot hold may be refused, and then nothing changes.

#include "FuzzSupport.h"

#include "common/TextCodec.h"
#include "settings/RegistryFile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QList>
#include <QString>

#include <algorithm>
#include <iterator>
#include <vector>

namespace {

QByteArray PickKey(FuzzedDataProvider &input)
{
    static const char *const kKeys[] = {"",
                                        "Software",
                                        "SOFTWARE",
                                        "Software\\DirNote",
                                        "software\\dirnote\\Settings",
                                        "A\\B\\C",
                                        "\xC3\xA4\\x",
                                        "\xC3\x84\\X",
                                        "x]y",
                                        "[x",
                                        " s ",
                                        "a\\\\b",
                                        "\\a",
                                        "\xE4"};
    if (input.ConsumeBool())
        return kKeys[input.ConsumeIntegralInRange<size_t>(0, std::size(kKeys) - 1)];
    return Bytes(input.ConsumeRandomLengthString(24));
}

QByteArray PickName(FuzzedDataProvider &input)
{
    static const char *const kNames[] = {"",    "Width", "WIDTH",    "@",        "\"",   "\\",  "a\\",
                                         "x=y", " n ",   "\xC3\xA4", "\xC3\x84", "\\\"", "a\"b"};
    if (input.ConsumeBool())
        return kNames[input.ConsumeIntegralInRange<size_t>(0, std::size(kNames) - 1)];
    return Bytes(input.ConsumeRandomLengthString(24));
}

TRegData PickData(FuzzedDataProvider &input)
{
    static const quint32 kTypes[] = {REG_NONE,     REG_SZ,   REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN,
                                     REG_MULTI_SZ, REG_QWORD};
    TRegData data;
    data.Type = input.ConsumeBool() ? kTypes[input.ConsumeIntegralInRange<size_t>(0, std::size(kTypes) - 1)]
                                    : input.ConsumeIntegral<quint32>();
    data.Data = Bytes(input.ConsumeRandomLengthString(input.ConsumeBool() ? 8 : 300));
    if (data.Type == REG_SZ && input.ConsumeBool())
        data.Data += '\0';
    return data;
}

// The lines of `bytes` (each ended by LF, CR LF or a lone CR) that [from, to) touches, from the
// start of a value continued over lines to its end.
QByteArray WholeLines(const QByteArray &bytes, qsizetype from, qsizetype to)
{
    std::vector<qsizetype> starts{0}; // line i is [starts[i], starts[i + 1])
    for (qsizetype i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\n' || (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n')))
            starts.push_back(i + 1);
    if (starts.back() != bytes.size())
        starts.push_back(bytes.size());
    const size_t lines = starts.size() - 1;
    if (lines == 0)
        return {};
    const auto lineOf = [&](qsizetype pos) {
        const size_t i = size_t(std::upper_bound(starts.begin(), starts.end(), pos) - starts.begin()) - 1;
        return std::min(i, lines - 1);
    };
    const auto goesOn = [&](size_t i) {
        return bytes.mid(starts[i], starts[i + 1] - starts[i]).trimmed().endsWith('\\');
    };
    size_t first = lineOf(from);
    size_t last = to > from ? lineOf(to - 1) : first;
    while (first > 0 && goesOn(first - 1))
        --first;
    while (last + 1 < lines && goesOn(last))
        ++last;
    return bytes.mid(starts[first], starts[last + 1] - starts[first]);
}

// A file with no line but blank ones (the first maybe holding a byte-order mark) has no header
// line yet.
bool IsBlankFile(const QByteArray &bytes)
{
    const QList<QByteArray> lines = bytes.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray text = lines[i].trimmed();
        if (i == 0 && text.startsWith("\xEF\xBB\xBF"))
            text = text.mid(3).trimmed();
        if (!text.isEmpty())
            return false;
    }
    return true;
}

// The lines compared as text: a file in UTF-16 (with its byte-order mark) as UTF-8.
QByteArray AsText(const QByteArray &bytes)
{
    if (!bytes.startsWith("\xFF\xFE"))
        return bytes;
    QString text(bytes.size() / 2 - 1, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        text[i] = QChar(uchar(bytes[2 + 2 * i]) | uchar(bytes[3 + 2 * i]) << 8);
    return text.toUtf8();
}

// UTF-8 text as a file in UTF-16 (with its byte-order mark) when `utf16`, else as it is.
QByteArray InEncoding(const QByteArray &text, bool utf16)
{
    if (!utf16)
        return text;
    const QString characters = QString::fromUtf8(text);
    return "\xFF\xFE" + QByteArray(reinterpret_cast<const char *>(characters.utf16()), characters.size() * 2);
}

struct TSetValue {
    QByteArray Key, Name;
    TRegData Data;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const QByteArray bytes = Bytes(input.ConsumeRandomLengthString(8192));
    TRegistryFile file;
    if (!file.Parse(bytes)) {
        Require(file.Serialize().isEmpty(), "a file that does not read was not left empty");
        return 0;
    }
    Require(file.Serialize() == bytes, "a file read and written unchanged came back different");

    std::vector<TSetValue> set;
    for (int step = 0; step < 16 && input.remaining_bytes() > 0; ++step) {
        const QByteArray key = PickKey(input);
        const QByteArray name = PickName(input);
        const TRegData value = PickData(input);
        if (!TRegistryFile::IsValidKeyPath(key) || !TRegistryFile::IsValidValueName(name))
            continue;
        const QByteArray unchanged = file.Serialize();
        const QByteArray beforeKey = AsText(unchanged);
        // A UTF-16 file holds characters: a name or text that is not UTF-8 is refused there, and
        // only that is.
        const bool utf16 = unchanged.startsWith("\xFF\xFE");
        if (!file.CreateKey(key)) {
            Require(utf16 && !IsValidUtf8(key), "a key the file can hold was refused");
            Require(file.Serialize() == unchanged, "a refused key changed the file");
            continue;
        }
        Require(file.KeyExists(key), "a created key does not exist");
        const QByteArray before = AsText(file.Serialize());
        // A file of blank lines first gets its header line in front.
        if (!IsBlankFile(beforeKey))
            Require(IsOneInsertion(beforeKey, before), "creating a key changed lines of the file", beforeKey, before);
        const auto old = file.Value(key, name);
        if (!file.SetValue(key, name, value)) {
            const bool text = value.Type == REG_SZ || value.Type == REG_EXPAND_SZ || value.Type == REG_MULTI_SZ;
            Require(utf16 && (!IsValidUtf8(name) || !IsValidUtf8(key) || (text && !IsValidUtf8(value.Data))),
                    "a value the file can hold was refused");
            Require(AsText(file.Serialize()) == before, "a refused value changed the file");
            continue;
        }
        const QByteArray written = file.Serialize();
        const QByteArray after = AsText(written);

        // Only the value's own lines changed, or new ones were added.
        const qsizetype prefix = CommonPrefix(before, after);
        const qsizetype suffix = CommonSuffix(before, after);
        if (!IsBlankFile(before) && prefix + suffix < before.size()) {
            Require(old.has_value(), "a new value changed lines of the file", before, after);
            TRegistryFile removed;
            const QByteArray lines = WholeLines(before, prefix, before.size() - suffix);
            // Read in the file's own encoding: a text written as a hex list is UTF-16 there.
            const QByteArray header = utf16 ? "Windows Registry Editor Version 5.00\n" : "REGEDIT4\n";
            // Under the root key, as the key's name may be spelled otherwise in the file (another
            // letter case, or not UTF-8 in the call).
            Require(removed.Parse(InEncoding(header + "[HKEY_CURRENT_USER]\n" + lines, utf16))
                        && removed.Value("", name) == old,
                    "setting a value changed lines other than its own", before, after);
        }

        TRegistryFile reread;
        Require(reread.Parse(written), "the written file does not read");
        Require(reread.Serialize() == written, "the written file does not read back as written");
        Require(reread.Value(key, name) == value, "a value set does not read back", before, after);
        for (TSetValue &earlier : set) {
            const auto now = reread.Value(earlier.Key, earlier.Name);
            Require(now == earlier.Data || now == value, "an earlier value was lost or changed");
            earlier.Data = *now;
        }
        set.push_back({key, name, value});
        file = reread;
    }
    return 0;
}
