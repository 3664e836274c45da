// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "common/AtomicFile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <string_view>
#include <vector>

// One-line edits of a description file found by a single forward scan of its bytes: no line is
// kept and no key is indexed, so a commit into a file of a million entries costs little more
// than reading and writing it. The result is byte for byte what TProfileDocument::WithString
// makes of the same bytes (ProfileDocument.h holds the rules: the first section of the name, the
// first live key, the stored key's spelling kept, a new key after the section's last entry, the
// file's own line ends).

// The splice by which TProfileDocument(bytes).WithString(section, key, value, exactKey) changes
// the bytes.
TFileSplice StringSplice(QByteArrayView bytes, const QByteArray &section, const QByteArray &key,
                         const QByteArray &value, bool exactKey);

// The bytes with the splice applied.
QByteArray Spliced(QByteArrayView bytes, const TFileSplice &splice);

// The names of a table that could contend with `name` for its keys: those that fold alike,
// `name` included (TNameRule, FoldedName.h).
std::vector<std::string_view> KeyContenders(std::string_view name, const std::vector<QByteArray> &names);

// The commit of one description, decided on the bytes as they are: the key is chosen by the name
// rule among the contenders (a key of the entry's own, else one that folds alike and no other
// contender owns, else the name itself) and written exactly as WriteString with Exact writes it.
// The contenders are asked for only when the file holds keys that fold like the name and none
// spelled as it: a table of a million names is not walked for the common commit.
// `reason` tells why nothing can be written (a section, key or value that would not read back
// the same); the splice is then empty.
struct TDescriptionCommit {
    QByteArray Key;
    TFileSplice Splice;
    QString Reason;
};
using TContenders = std::function<const std::vector<std::string_view> &()>;
TDescriptionCommit DescriptionCommit(QByteArrayView bytes, const QByteArray &section, const QByteArray &name,
                                     const TContenders &contenders, const QByteArray &value);
