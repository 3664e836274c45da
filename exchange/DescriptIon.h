// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// The per-folder description file of the two-pane file managers and the old DOS shells:
// one entry a line, `name text` or `"name with spaces" text`.

inline constexpr char kDescriptIonName[] = "descript.ion";

// The encodings a descript.ion is found in: UTF-8, the DOS code page of Western Europe, and the
// Windows (ANSI) code page of the same languages.
enum class TDescriptIonEncoding { Utf8, Cp850, Cp1252 };

QString EncodingName(TDescriptIonEncoding encoding); // "UTF-8", "CP850" or "CP1252"

struct TDescriptIonEntry {
    QString Name;
    QString Text; // on one line: line breaks of a multi-line entry became " / "
};

struct TDescriptIon {
    TDescriptIonEncoding Encoding = TDescriptIonEncoding::Utf8; // how the file was read
    std::vector<TDescriptIonEntry> Entries;
};

// The encodings the file's bytes may be in, the likeliest first: UTF-8 alone after a byte-order
// mark; else UTF-8 when the bytes are valid UTF-8, then CP850 and CP1252.
std::vector<TDescriptIonEncoding> CandidateEncodings(const QByteArray &bytes);

// The entries of the file's bytes read in the given encoding (a UTF-8 byte-order mark is
// skipped). A Ctrl-D (0x04) ends an entry's text: what follows belongs to other programs, except
// for the marker 0x04 0xC2 of a multi-line entry, whose text has its line breaks written as "\n"
// and its backslashes as "\\". A 0x1A byte ends the file. Lines without a name or a text are
// left out.
TDescriptIon ParseDescriptIon(const QByteArray &bytes, TDescriptIonEncoding encoding);

// Code page 850, the DOS code page of Western Europe (Qt has no codec for it).
QString DecodeCp850(const QByteArray &bytes);

// A text of several lines as one line: its lines trimmed, empty ones left out, joined by " / ".
QString JoinedLines(const QString &text);

// The path of the folder's descript.ion (any letter case, a regular file); empty when it has none.
QByteArray FindDescriptIon(const QByteArray &folder);
