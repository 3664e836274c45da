#include "common/ShortCut.h"

QString VirtualKeyName(quint8 key)
{
    switch (key) {
    case 0x08: return QStringLiteral("BkSp");
    case 0x09: return QStringLiteral("Tab");
    case 0x0D: return QStringLiteral("Enter");
    case 0x1B: return QStringLiteral("Esc");
    case 0x20: return QStringLiteral("Space");
    case 0x21: return QStringLiteral("PgUp");
    case 0x22: return QStringLiteral("PgDn");
    case 0x23: return QStringLiteral("End");
    case 0x24: return QStringLiteral("Home");
    case 0x25: return QStringLiteral("Left");
    case 0x26: return QStringLiteral("Up");
    case 0x27: return QStringLiteral("Right");
    case 0x28: return QStringLiteral("Down");
    case 0x2D: return QStringLiteral("Ins");
    case 0x2E: return QStringLiteral("Del");
    }
    if ((key >= 0x30 && key <= 0x39) || (key >= 0x41 && key <= 0x5A))
        return QString(QChar(char16_t(key)));
    if (key >= 0x60 && key <= 0x69)
        return QString(QChar(u'0' + (key - 0x60)));
    if (key >= 0x70 && key <= 0x87)
        return QStringLiteral("F%1").arg(key - 0x70 + 1);
    // The remaining keys by the names a US keyboard layout gives them; the layouts of this
    // desktop have no key-name service to ask.
    switch (key) {
    case 0x03: return QStringLiteral("Break");
    case 0x0C: return QStringLiteral("Num 5");
    case 0x10: return QStringLiteral("Shift");
    case 0x11: return QStringLiteral("Ctrl");
    case 0x12: return QStringLiteral("Alt");
    case 0x13: return QStringLiteral("Pause");
    case 0x14: return QStringLiteral("Caps Lock");
    case 0x2C: return QStringLiteral("Prnt Scrn");
    case 0x5B: return QStringLiteral("Left Windows");
    case 0x5C: return QStringLiteral("Right Windows");
    case 0x5D: return QStringLiteral("Application");
    case 0x6A: return QStringLiteral("Num *");
    case 0x6B: return QStringLiteral("Num +");
    case 0x6D: return QStringLiteral("Num -");
    case 0x6E: return QStringLiteral("Num Del");
    case 0x6F: return QStringLiteral("Num /");
    case 0x90: return QStringLiteral("Num Lock");
    case 0x91: return QStringLiteral("Scroll Lock");
    case 0xBA: return QStringLiteral(";");
    case 0xBB: return QStringLiteral("=");
    case 0xBC: return QStringLiteral(",");
    case 0xBD: return QStringLiteral("-");
    case 0xBE: return QStringLiteral(".");
    case 0xBF: return QStringLiteral("/");
    case 0xC0: return QStringLiteral("`");
    case 0xDB: return QStringLiteral("[");
    case 0xDC: return QStringLiteral("\\");
    case 0xDD: return QStringLiteral("]");
    case 0xDE: return QStringLiteral("'");
    }
    return {};
}

QString ShortCutToText(TShortCut code)
{
    const QString name = VirtualKeyName(quint8(code & 0xFF));
    if (name.isEmpty())
        return {};
    QString text;
    if (code & scShift)
        text += QStringLiteral("Shift+");
    if (code & scCtrl)
        text += QStringLiteral("Ctrl+");
    if (code & scAlt)
        text += QStringLiteral("Alt+");
    return text + name;
}
