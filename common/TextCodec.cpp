// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/TextCodec.h"

#include <QFile>
#include <QStringDecoder>

namespace {
// Windows-1252 differs from Latin-1 only in 0x80..0x9F; unassigned bytes map to the C1 controls.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// UTF-8 as stored: a leading EF BB BF is the character U+FEFF of the value, not a mark to drop
// (QString::fromUtf8 drops it, and the value would then not encode back to its bytes).
QString DecodeUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return decoder(bytes);
}
} // namespace

bool IsValidUtf8(const QByteArray &bytes)
{
    // Valid exactly when the text decodes and encodes back to the same bytes (no overlong forms,
    // surrogates or truncated sequences), without building the text.
    return QByteArrayView(bytes).isValidUtf8();
}

QByteArray CutToWholeCharacters(const QByteArray &bytes, qsizetype maxSize)
{
    if (bytes.size() <= maxSize)
        return bytes;
    QByteArray cut = bytes.left(maxSize);
    if (cut.isEmpty() || !IsValidUtf8(bytes))
        return cut;
    // The last character begins at the last byte that is not a continuation byte (10xxxxxx);
    // its lead byte says how long it is.
    qsizetype lead = cut.size() - 1;
    while (lead > 0 && (static_cast<unsigned char>(cut[lead]) & 0xC0) == 0x80)
        --lead;
    const auto first = static_cast<unsigned char>(cut[lead]);
    const qsizetype length = first < 0x80 ? 1 : first < 0xE0 ? 2 : first < 0xF0 ? 3 : 4;
    if (lead + length > cut.size())
        cut.truncate(lead);
    return cut;
}

QString DecodeWindows1252(const QByteArray &bytes)
{
    QString result(bytes.size(), Qt::Uninitialized);
    QChar *out = result.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *out++ = (b >= 0x80 && b < 0xA0) ? QChar(kHighControls[b - 0x80]) : QChar(char16_t(b));
    }
    return result;
}

QString DecodeText(const QByteArray &bytes)
{
    return IsValidUtf8(bytes) ? DecodeUtf8(bytes) : DecodeWindows1252(bytes);
}

QByteArray EncodeText(const QString &text)
{
    return text.toUtf8();
}

QString DecodeName(const QByteArray &name)
{
    return QFile::decodeName(name);
}

QByteArray EncodeName(const QString &name)
{
    return QFile::encodeName(name);
}
