// SPDX-License-Identifier: GPL-3.0-or-later
#include "TerminalText.h"

#include "common/TextCodec.h"

#include <QList>
#include <QString>

#include <clocale>
#include <cwchar>

#include <locale.h>

namespace {
bool IsControl(char32_t c)
{
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0);
}

bool IsPlainAscii(const QByteArray &bytes)
{
    // Whole chunks without an early exit, which the compiler turns into vector instructions: a
    // listing passes every name and text through here.
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const size_t size = size_t(bytes.size());
    constexpr size_t kChunk = 32;
    size_t i = 0;
    for (; i + kChunk <= size; i += kChunk) {
        unsigned bad = 0;
        for (size_t j = 0; j < kChunk; ++j)
            bad |= unsigned(p[i + j] < 0x20) | unsigned(p[i + j] >= 0x7F);
        if (bad)
            return false;
    }
    for (; i < size; ++i)
        if (p[i] < 0x20 || p[i] >= 0x7F)
            return false;
    return true;
}

QByteArray Safe(QString text)
{
    for (QChar &c : text)
        if (IsControl(c.unicode()))
            c = u'?';
    return text.toUtf8();
}
} // namespace

QByteArray TerminalName(const QByteArray &name)
{
    return IsPlainAscii(name) ? name : Safe(DecodeName(name));
}

QByteArray TerminalText(const QByteArray &text)
{
    return IsPlainAscii(text) ? text : Safe(DecodeText(text));
}

QByteArray TerminalLines(const QByteArray &text)
{
    const QList<QByteArray> lines = text.split('\n');
    QByteArray result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const bool last = i + 1 == lines.size();
        const bool crlf = !last && lines[i].endsWith('\r');
        result += TerminalText(crlf ? lines[i].chopped(1) : lines[i]);
        if (!last)
            result += crlf ? "\r\n" : "\n";
    }
    return result;
}

int DisplayWidth(const QByteArray &text)
{
    if (IsPlainAscii(text))
        return int(text.size());
    // The C library knows the widths of Unicode; they are the same in every UTF-8 locale, so the
    // built-in one is used whatever locale the user runs.
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    const QList<uint> characters = QString::fromUtf8(text).toUcs4();
    if (!utf8)
        return int(characters.size());
    const locale_t previous = ::uselocale(utf8);
    int width = 0;
    for (const uint c : characters) {
        const int w = ::wcwidth(wchar_t(c));
        width += w < 0 ? 1 : w;
    }
    ::uselocale(previous);
    return width;
}
