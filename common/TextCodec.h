// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// Values in Folder.dnt and the registry file are bytes. They are shown as UTF-8 when they are
// valid UTF-8, otherwise as Windows-1252 (so the 0xA0 of old files is a no-break space). A
// leading EF BB BF is the character U+FEFF, so every UTF-8 value encodes back to its own bytes.
QString DecodeText(const QByteArray &bytes);
// What the user types is stored as UTF-8.
QByteArray EncodeText(const QString &text);
bool IsValidUtf8(const QByteArray &bytes);
// At most maxSize bytes. Valid UTF-8 is cut back to a whole character, so the part still reads
// as UTF-8; anything else is cut at maxSize, where every byte is a character of its own.
QByteArray CutToWholeCharacters(const QByteArray &bytes, qsizetype maxSize);
QString DecodeWindows1252(const QByteArray &bytes);

// Names of files and folders are the file system's bytes; shown through Qt's file-name codec.
QString DecodeName(const QByteArray &name);
QByteArray EncodeName(const QString &name);
