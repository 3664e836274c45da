// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/RegSpecial.h"

#include "common/AtomicFile.h"
#include "common/Exceptions.h"
#include "common/TextCodec.h"
#include "settings/RegistryStore.h"

#include <QFile>

#include <cstring>
#include <limits>
#include <optional>

QString RegProgramKey;

namespace {

QByteArray LittleEndian(quint64 value, int width)
{
    QByteArray bytes(width, '\0');
    for (int i = 0; i < width; ++i)
        bytes[i] = char((value >> (8 * i)) & 0xFF);
    return bytes;
}

// Reads up to 8 little-endian bytes; missing high bytes are zero.
quint64 FromLittleEndian(const QByteArray &bytes)
{
    quint64 value = 0;
    for (qsizetype i = qMin<qsizetype>(bytes.size(), 8) - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
}

QByteArray DoubleBytes(double value)
{
    quint64 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return LittleEndian(bits, 8);
}

double BytesDouble(const QByteArray &bytes)
{
    const quint64 bits = FromLittleEndian(bytes);
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

int ElementWidth(TRegValueKind kind)
{
    switch (kind) {
    case TRegValueKind::Byte: return 1;
    case TRegValueKind::SmallInt:
    case TRegValueKind::Boolean: return 2;
    case TRegValueKind::Integer:
    case TRegValueKind::Single: return 4;
    case TRegValueKind::Double:
    case TRegValueKind::Currency:
    case TRegValueKind::DateTime: return 8;
    default: return 0;
    }
}

bool IsIntegerKind(TRegValueKind kind)
{
    return kind == TRegValueKind::Boolean || kind == TRegValueKind::SmallInt || kind == TRegValueKind::Word
           || kind == TRegValueKind::Integer || kind == TRegValueKind::Byte;
}

[[noreturn]] void RaiseInvalidType(const QString &name)
{
    throw TException(QStringLiteral("Invalid data type for '%1'").arg(name));
}

[[noreturn]] void RaiseGetData(const QString &name)
{
    throw TException(QStringLiteral("Failed to get data for '%1'").arg(name));
}

// A file that is there but no registry export: every value in it would silently read as its
// default and every write fail, so the user is told which file and where.
TUnreadableSettings UnreadableFile(const QByteArray &file, int line)
{
    return TUnreadableSettings(
        QStringLiteral("The settings file %1 cannot be read (line %2)").arg(QFile::decodeName(file)).arg(line));
}

// What a write of the value stores; nothing for a kind without a registry form.
std::optional<TRegData> ToRegData(const RegValue &value)
{
    switch (value.Kind()) {
    case TRegValueKind::Boolean: return TRegData{REG_DWORD, LittleEndian(value.AsBool() ? 1 : 0, 4)};
    case TRegValueKind::SmallInt:
    case TRegValueKind::Word:
    case TRegValueKind::Integer:
    case TRegValueKind::Byte: return TRegData{REG_DWORD, LittleEndian(quint32(value.AsInteger()), 4)};
    case TRegValueKind::Single:
    case TRegValueKind::Double:
    case TRegValueKind::DateTime: return TRegData{REG_BINARY, DoubleBytes(value.AsDouble())};
    case TRegValueKind::Currency: return TRegData{REG_BINARY, LittleEndian(quint64(value.AsCurrency()), 8)};
    case TRegValueKind::String: return TRegData{REG_SZ, value.AsString() + '\0'};
    case TRegValueKind::Array:
        if (value.ArrayByteSize() == 0)
            return std::nullopt;
        return TRegData{REG_BINARY, value.ArrayBytes()};
    case TRegValueKind::Unsupported: break;
    }
    return std::nullopt;
}

} // namespace

RegValue RegValue::Make(TRegValueKind kind, qint64 integer, double real)
{
    RegValue result;
    result.FKind = kind;
    result.FInteger = integer;
    result.FFloat = real;
    return result;
}

RegValue RegValue::FromBool(bool value)
{
    return Make(TRegValueKind::Boolean, value ? 1 : 0);
}
RegValue RegValue::FromSmallInt(qint16 value)
{
    return Make(TRegValueKind::SmallInt, value);
}
RegValue RegValue::FromWord(quint16 value)
{
    return Make(TRegValueKind::Word, value);
}
RegValue RegValue::FromInteger(qint32 value)
{
    return Make(TRegValueKind::Integer, value);
}
RegValue RegValue::FromByte(quint8 value)
{
    return Make(TRegValueKind::Byte, value);
}
RegValue RegValue::FromSingle(float value)
{
    return Make(TRegValueKind::Single, 0, value);
}
RegValue RegValue::FromDouble(double value)
{
    return Make(TRegValueKind::Double, 0, value);
}
RegValue RegValue::FromDateTime(double days)
{
    return Make(TRegValueKind::DateTime, 0, days);
}
RegValue RegValue::FromCurrency(qint64 tenThousandths)
{
    return Make(TRegValueKind::Currency, tenThousandths);
}

RegValue RegValue::FromString(const QByteArray &bytes)
{
    RegValue result;
    result.FKind = TRegValueKind::String;
    result.FBytes = bytes;
    return result;
}

RegValue RegValue::FromText(const QString &text)
{
    return FromString(EncodeText(text));
}

RegValue RegValue::FromArray(TRegValueKind elementKind, int lowBound, int highBound, const QByteArray &bytes)
{
    RegValue result;
    result.FKind = TRegValueKind::Array;
    result.FElementKind = elementKind;
    result.FLowBound = lowBound;
    result.FHighBound = highBound;
    result.FBytes = bytes.left(result.ArrayByteSize());
    result.FBytes.append(QByteArray(result.ArrayByteSize() - result.FBytes.size(), '\0'));
    return result;
}

bool RegValue::AsBool() const
{
    return IsIntegerKind(FKind) && FInteger != 0;
}

qint32 RegValue::AsInteger() const
{
    return IsIntegerKind(FKind) ? qint32(FInteger) : 0;
}

double RegValue::AsDouble() const
{
    switch (FKind) {
    case TRegValueKind::Single:
    case TRegValueKind::Double:
    case TRegValueKind::DateTime: return FFloat;
    case TRegValueKind::Currency: return double(FInteger) / 10000.0;
    default: return IsIntegerKind(FKind) ? double(FInteger) : 0.0;
    }
}

qint64 RegValue::AsCurrency() const
{
    return FKind == TRegValueKind::Currency ? FInteger : 0;
}

QByteArray RegValue::AsString() const
{
    return FKind == TRegValueKind::String ? FBytes : QByteArray();
}

QString RegValue::AsText() const
{
    return DecodeText(AsString());
}

int RegValue::ArrayByteSize() const
{
    if (FKind != TRegValueKind::Array)
        return 0;
    const qint64 count = qint64(FHighBound) - qint64(FLowBound) + 1;
    const qint64 size = count * ElementWidth(FElementKind);
    return size > 0 && size <= std::numeric_limits<int>::max() ? int(size) : 0;
}

QString NormalizeRegKeyPath(const QString &keyPath)
{
    QString path;
    path.reserve(keyPath.size() + 1);
    for (const QChar c : keyPath)
        if (c != u'\\' || !path.endsWith(u'\\'))
            path += c;
    if (path == u"\\")
        return QString();
    if (path.isEmpty())
        return path;
    if (path.endsWith(u'\\'))
        path.chop(1);
    if (!path.startsWith(u'\\'))
        path.prepend(u'\\');
    return path;
}

RegValue ReadRegValue(HKEY rootKey, const QString &keyPath, const QString &name, const RegValue &defaultValue)
{
    RegValue result = defaultValue;
    const QByteArray file = RegistryFilePath(rootKey);
    if (file.isEmpty())
        return result;
    const QByteArray key = EncodeText(NormalizeRegKeyPath(keyPath).mid(1));
    const TRegistryFile store = LoadRegistryFile(file);
    if (store.UnreadableLine() > 0)
        throw UnreadableFile(file, store.UnreadableLine());
    if (!store.KeyExists(key))
        return result;
    const std::optional<TRegData> stored = store.Value(key, EncodeText(name));
    if (!stored)
        return result;

    const TRegData &data = *stored;
    const TRegValueKind kind = defaultValue.Kind();
    if (IsIntegerKind(kind)) {
        if (data.Data.size() > 4)
            RaiseGetData(name);
        if (data.Type != REG_DWORD)
            RaiseInvalidType(name);
        const auto value = qint32(quint32(FromLittleEndian(data.Data)));
        return kind == TRegValueKind::Boolean ? RegValue::FromBool(value != 0) : RegValue::FromInteger(value);
    }
    switch (kind) {
    case TRegValueKind::Single:
    case TRegValueKind::Double:
    case TRegValueKind::DateTime:
    case TRegValueKind::Currency:
        if (data.Data.size() > 8)
            RaiseGetData(name);
        if (data.Type != REG_BINARY || data.Data.size() != 8)
            RaiseInvalidType(name);
        if (kind == TRegValueKind::Currency)
            return RegValue::FromCurrency(qint64(FromLittleEndian(data.Data)));
        if (kind == TRegValueKind::DateTime)
            return RegValue::FromDateTime(BytesDouble(data.Data));
        return RegValue::FromDouble(BytesDouble(data.Data));
    case TRegValueKind::String: {
        if (data.Data.isEmpty())
            return RegValue::FromString(QByteArray());
        if (data.Type != REG_SZ && data.Type != REG_EXPAND_SZ)
            RaiseInvalidType(name);
        const qsizetype end = data.Data.indexOf('\0');
        return RegValue::FromString(end < 0 ? data.Data : data.Data.left(end));
    }
    case TRegValueKind::Array: {
        // An array whose elements have no registry width has nothing to read into.
        const int size = result.ArrayByteSize();
        if (size == 0)
            return result;
        const bool binary = data.Type == REG_BINARY
                            || (data.Type != REG_SZ && data.Type != REG_EXPAND_SZ && data.Type != REG_DWORD);
        if (!binary || data.Data.size() > size)
            RaiseInvalidType(name);
        result.FBytes.replace(0, data.Data.size(), data.Data);
        return result;
    }
    default: return result;
    }
}

bool WriteRegValue(HKEY rootKey, const QString &keyPath, const QString &name, const RegValue &value)
{
    const QString path = NormalizeRegKeyPath(keyPath);
    const QByteArray key = EncodeText(path.mid(1));
    const QByteArray valueName = EncodeText(name);
    const QByteArray file = RegistryFilePath(rootKey);
    const std::optional<TRegData> data = ToRegData(value);
    const auto createFailed = [&] { return TException(QStringLiteral("Failed to create key %1").arg(path)); };
    const auto setFailed = [&] { return TException(QStringLiteral("Failed to set data for '%1'").arg(name)); };
    if (file.isEmpty() || !TRegistryFile::IsValidKeyPath(key))
        throw createFailed();

    bool keyExisted = false;
    bool keyRefused = false;
    bool valueRefused = false;
    int unreadableLine = 0;
    int error = 0;
    const TRegUpdateStatus status = UpdateRegistryFile(
        file,
        [&](TRegistryFile &store) {
            keyExisted = store.KeyExists(key);
            keyRefused = !keyExisted && !store.CreateKey(key);
            if (keyRefused)
                return false;
            // The key is made even when the value then cannot be stored.
            if (!data)
                return !keyExisted;
            // A name or text the file cannot hold exactly is refused rather than stored changed.
            valueRefused = !TRegistryFile::IsValidValueName(valueName) || !store.SetValue(key, valueName, *data);
            return !valueRefused || !keyExisted;
        },
        &unreadableLine, &error);
    if (status == TRegUpdateStatus::Unparseable)
        throw UnreadableFile(file, unreadableLine);
    // The file could not be written at all: say so, whether or not the key is in it.
    if (status == TRegUpdateStatus::Failed)
        throw TException(QStringLiteral("Unable to write to %1: %2").arg(DecodeName(file), FileErrorText(error)));
    if (status != TRegUpdateStatus::Done || keyRefused)
        throw keyExisted ? setFailed() : createFailed();
    if (valueRefused)
        throw setFailed();
    return data.has_value();
}
