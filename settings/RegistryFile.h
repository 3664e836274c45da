// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

// The per-user registry is kept in a text file in the registry's own export format ("REGEDIT4"),
// so a user sees and edits the same data types and widths the program stores.

// Registry data types as numbered by the registry and its export format.
enum TRegDataType : quint32 {
    REG_NONE = 0,
    REG_SZ = 1,
    REG_EXPAND_SZ = 2,
    REG_BINARY = 3,
    REG_DWORD = 4,
    REG_DWORD_BIG_ENDIAN = 5,
    REG_MULTI_SZ = 7,
    REG_QWORD = 11,
};

// One stored value: its registry type and its raw bytes (a REG_SZ includes its final NUL).
struct TRegData {
    quint32 Type = REG_NONE;
    QByteArray Data;
    bool operator==(const TRegData &) const = default;
};

// The parsed content of one registry file. Key paths are below the root key, with single
// backslashes and no leading or trailing one ("" is the root key itself). Key and value names
// match without regard to case. Every line that is not changed is written back as it was read.
class TRegistryFile {
public:
    explicit TRegistryFile(QByteArray rootName = QByteArrayLiteral("HKEY_CURRENT_USER"))
        : FRootName(std::move(rootName))
    {
    }

    // Reads UTF-8 or UTF-16LE (with its byte-order mark) text with LF, CRLF or CR line ends.
    // False when the bytes are not a registry export at all (no header, NUL bytes, broken
    // UTF-16); the file is then left empty and UnreadableLine() names the first bad line.
    bool Parse(const QByteArray &bytes);
    // Written back in the encoding it was read in.
    QByteArray Serialize() const;
    int UnreadableLine() const { return FUnreadableLine; }

    bool KeyExists(const QByteArray &keyPath) const;
    std::optional<TRegData> Value(const QByteArray &keyPath, const QByteArray &name) const;
    // Creates the key and every missing parent; an existing key is left alone. False, and
    // nothing changed, when the key's name cannot be stored exactly (see SetValue).
    [[nodiscard]] bool CreateKey(const QByteArray &keyPath);
    // The key must exist. A value already there is replaced in place, a new one goes to the end
    // of its key's section. A UTF-16 file holds characters, not bytes: a key or value name, or
    // the data of a text type, that is not valid UTF-8 would read back as other characters
    // there. Such a value is refused: false, and nothing changed.
    [[nodiscard]] bool SetValue(const QByteArray &keyPath, const QByteArray &name, const TRegData &data);

    // Names that the file format cannot carry (line breaks, NUL; for keys also empty names).
    static bool IsValidKeyPath(const QByteArray &keyPath);
    static bool IsValidValueName(const QByteArray &name);

private:
    enum class TEntryKind { Other, Section, Value };
    struct TEntry {
        TEntryKind Kind = TEntryKind::Other;
        QByteArray Raw;     // the lines as read, line ends included; empty once changed
        bool Ours = false;  // Section: a key of this file's root
        QByteArray KeyPath; // Section
        QByteArray Name;    // Value ("" for the unnamed value "@")
        TRegData Data;      // Value
    };

    // Indexes into FEntries: the last section of that key, the last definition of that value.
    std::optional<std::size_t> FindSection(const QByteArray &keyPath) const;
    std::optional<std::size_t> FindValue(const QByteArray &keyPath, const QByteArray &name) const;
    QByteArray ExistingCase(const QByteArray &keyPath) const;
    void AppendSection(const QByteArray &keyPath);
    // Whether a name or text is written so that it reads back the same.
    bool HoldsExactly(const QByteArray &text) const;
    bool CanAppendSection(const QByteArray &keyPath) const;
    QByteArray Render(const TEntry &entry) const;

    QByteArray FRootName;
    std::vector<TEntry> FEntries;
    bool FHasHeader = false;
    QByteArray FLineEnd = QByteArrayLiteral("\n");
    bool FUtf16 = false;     // an export of the registry editor's newer format, UTF-16LE
    int FUnreadableLine = 0; // 1-based; 0 when the file was read
};
