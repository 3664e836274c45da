#include "TerminalText.h"

#include <QList>

#include <clocale>
#include <cwchar>

#include <locale.h>

QString TerminalSafe(const QString &text)
{
    QString result = text;
    for (QChar &c : result)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || (c.unicode() >= 0x80 && c.unicode() < 0xA0))
            c = u'?';
    return result;
}

int DisplayWidth(const QString &text)
{
    // The C library knows the widths of Unicode; they are the same in every UTF-8 locale, so the
    // built-in one is used whatever locale the user runs.
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    int width = 0;
    bool ascii = true;
    for (const QChar c : text)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii || !utf8)
        return int(text.size());
    const locale_t previous = ::uselocale(utf8);
    for (const uint c : text.toUcs4()) {
        const int w = ::wcwidth(wchar_t(c));
        width += w < 0 ? 1 : w;
    }
    ::uselocale(previous);
    return width;
}
