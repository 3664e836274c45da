// SPDX-License-Identifier: GPL-3.0-or-later
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

quint8 VirtualKeyOfKey(int key, bool keypad)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return quint8(key - Qt::Key_A + 0x41);
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return quint8(key - Qt::Key_0 + (keypad ? 0x60 : 0x30));
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return quint8(key - Qt::Key_F1 + 0x70);
    if (keypad) {
        // The number pad's operators have codes of their own; its other keys (Enter, and the
        // navigation keys with Num Lock off) are the same keys as elsewhere.
        switch (key) {
        case Qt::Key_Asterisk: return 0x6A;
        case Qt::Key_Plus: return 0x6B;
        case Qt::Key_Minus: return 0x6D;
        case Qt::Key_Period:
        case Qt::Key_Comma: return 0x6E; // the decimal key, whatever sign the layout prints
        case Qt::Key_Slash: return 0x6F;
        }
    }
    switch (key) {
    case Qt::Key_Cancel: return 0x03;
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 0x09;
    case Qt::Key_Clear: return 0x0C;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 0x0D;
    case Qt::Key_Shift: return 0x10;
    case Qt::Key_Control: return 0x11;
    case Qt::Key_Alt: return 0x12;
    case Qt::Key_Pause: return 0x13;
    case Qt::Key_CapsLock: return 0x14;
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_Space: return 0x20;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Select: return 0x29;
    case Qt::Key_Execute: return 0x2B;
    case Qt::Key_Print:
    case Qt::Key_SysReq: return 0x2C;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    case Qt::Key_Help: return 0x2F;
    case Qt::Key_Super_L: return 0x5B;
    case Qt::Key_Super_R: return 0x5C;
    case Qt::Key_Menu: return 0x5D;
    case Qt::Key_Sleep: return 0x5F;
    case Qt::Key_NumLock: return 0x90;
    case Qt::Key_ScrollLock: return 0x91;
    // The symbols of the digit row with Shift.
    case Qt::Key_ParenRight: return 0x30;
    case Qt::Key_Exclam: return 0x31;
    case Qt::Key_At: return 0x32;
    case Qt::Key_NumberSign: return 0x33;
    case Qt::Key_Dollar: return 0x34;
    case Qt::Key_Percent: return 0x35;
    case Qt::Key_AsciiCircum: return 0x36;
    case Qt::Key_Ampersand: return 0x37;
    case Qt::Key_Asterisk: return 0x38;
    case Qt::Key_ParenLeft: return 0x39;
    // The punctuation keys, plain and shifted.
    case Qt::Key_Semicolon:
    case Qt::Key_Colon: return 0xBA;
    case Qt::Key_Equal:
    case Qt::Key_Plus: return 0xBB;
    case Qt::Key_Comma:
    case Qt::Key_Less: return 0xBC;
    case Qt::Key_Minus:
    case Qt::Key_Underscore: return 0xBD;
    case Qt::Key_Period:
    case Qt::Key_Greater: return 0xBE;
    case Qt::Key_Slash:
    case Qt::Key_Question: return 0xBF;
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde: return 0xC0;
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft: return 0xDB;
    case Qt::Key_Backslash:
    case Qt::Key_Bar: return 0xDC;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight: return 0xDD;
    case Qt::Key_Apostrophe:
    case Qt::Key_QuoteDbl: return 0xDE;
    }
    return 0;
}

TShortCut ShortCutOfKeyPress(int key, Qt::KeyboardModifiers modifiers)
{
    const quint8 virtualKey = VirtualKeyOfKey(key, modifiers.testFlag(Qt::KeypadModifier));
    if (virtualKey == 0)
        return 0;
    TShortCut code = virtualKey;
    if (modifiers.testFlag(Qt::ShiftModifier) || key == Qt::Key_Backtab)
        code |= scShift;
    if (modifiers.testFlag(Qt::ControlModifier))
        code |= scCtrl;
    if (modifiers.testFlag(Qt::AltModifier))
        code |= scAlt;
    return code;
}
