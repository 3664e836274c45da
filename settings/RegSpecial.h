// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include "common/Exceptions.h"

// Typed access to the program's settings in the per-user registry. Each call opens the store,
// does its one read or write and releases the store again.

using HKEY = quint32;
inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;
inline constexpr HKEY HKEY_USERS = 0x80000003;

// The settings file is there but is no registry export (it names the file and the line).
class TUnreadableSettings : public TException {
public:
    using TException::TException;
};

// The key path of the program's own settings; the program entry sets it before the first call.
extern QString RegProgramKey;
inline const QString DirNoteRegKey = QStringLiteral("\\Software\\KER-MOSS\\DirNote");

enum class TRegValueKind {
    Unsupported,
    Boolean,
    SmallInt, // signed 16-bit
    Word,     // unsigned 16-bit
    Integer,  // signed 32-bit
    Byte,     // unsigned 8-bit
    Single,
    Double,
    DateTime, // days since 30 December 1899, the fraction being the time of day
    Currency, // fixed point with 4 decimals
    String,   // 8-bit text
    Array,    // one dimension of a fixed-width element kind
};

// A tagged value; its kind decides the registry type and width a write uses and what a read
// accepts. A default-constructed value has an unsupported kind.
class RegValue {
public:
    RegValue() = default;

    static RegValue FromBool(bool value);
    static RegValue FromSmallInt(qint16 value);
    static RegValue FromWord(quint16 value);
    static RegValue FromInteger(qint32 value);
    static RegValue FromByte(quint8 value);
    static RegValue FromSingle(float value);
    static RegValue FromDouble(double value);
    static RegValue FromDateTime(double days);
    static RegValue FromCurrency(qint64 tenThousandths); // 1.5 is 15000
    static RegValue FromString(const QByteArray &bytes);
    static RegValue FromText(const QString &text); // stored as UTF-8
    // Elements lowBound..highBound; `bytes` fills the array from its start, the rest is zero.
    static RegValue FromArray(TRegValueKind elementKind, int lowBound, int highBound, const QByteArray &bytes = {});

    TRegValueKind Kind() const { return FKind; }

    // Readers that convert between the numeric kinds; a kind that has no such value gives 0,
    // false or an empty text.
    bool AsBool() const;
    qint32 AsInteger() const;
    quint16 AsWord() const { return quint16(AsInteger()); } // the low 16 bits, as shortcut codes use
    double AsDouble() const;
    qint64 AsCurrency() const; // in ten-thousandths
    QByteArray AsString() const;
    QString AsText() const; // UTF-8 when valid, else Windows-1252

    TRegValueKind ElementKind() const { return FElementKind; }
    int LowBound() const { return FLowBound; }
    int HighBound() const { return FHighBound; }
    // Byte size of an array: element width times element count; 0 for an element kind that
    // has no fixed width in the registry.
    int ArrayByteSize() const;
    QByteArray ArrayBytes() const { return FKind == TRegValueKind::Array ? FBytes : QByteArray(); }

    bool operator==(const RegValue &) const = default;

private:
    static RegValue Make(TRegValueKind kind, qint64 integer, double real = 0);

    TRegValueKind FKind = TRegValueKind::Unsupported;
    qint64 FInteger = 0; // boolean, integer kinds, currency
    double FFloat = 0;   // single, double, date-time
    QByteArray FBytes;   // string, array
    TRegValueKind FElementKind = TRegValueKind::Unsupported;
    int FLowBound = 0;
    int FHighBound = -1;

    friend RegValue ReadRegValue(HKEY, const QString &, const QString &, const RegValue &);
};

// Collapses runs of backslashes, drops a trailing one and puts one in front; "\" and "" are
// the root key itself and become "".
QString NormalizeRegKeyPath(const QString &keyPath);

// The stored value converted to the default's kind (integers as signed 32-bit, floats as
// double), or the default when the key or value is missing. Never creates anything. Raises
// TException when the stored value does not fit the default's kind.
RegValue ReadRegValue(HKEY rootKey, const QString &keyPath, const QString &name, const RegValue &defaultValue);

// Creates the key path as needed and stores the value. False when the value's kind cannot be
// stored. Raises TException when the key cannot be created or the value not stored.
bool WriteRegValue(HKEY rootKey, const QString &keyPath, const QString &name, const RegValue &value);
