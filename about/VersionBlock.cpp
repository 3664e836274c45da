// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/VersionBlock.h"

#include "common/Exceptions.h"

#include <QStringList>

namespace {

void AppendU16(QByteArray &out, quint16 v)
{
    out.append(char(v & 0xFF));
    out.append(char(v >> 8));
}

void AppendU32(QByteArray &out, quint32 v)
{
    AppendU16(out, quint16(v & 0xFFFF));
    AppendU16(out, quint16(v >> 16));
}

void AlignTo4(QByteArray &out)
{
    while (out.size() % 4 != 0)
        out.append('\0');
}

void AppendText(QByteArray &out, const QString &text)
{
    for (const QChar c : text)
        AppendU16(out, c.unicode());
    AppendU16(out, 0);
}

void PatchU16(QByteArray &out, qsizetype at, qsizetype value, const QString &what)
{
    if (value > 0xFFFF)
        throw TException(QStringLiteral("Version block part \"%1\" is too long").arg(what));
    out[at] = char(value & 0xFF);
    out[at + 1] = char((value >> 8) & 0xFF);
}

// One node: header, key, aligned value, then children each aligned. Returns the node's start
// so the caller can append children and then close it.
qsizetype OpenNode(QByteArray &out, const QString &key, quint16 valueLength, quint16 type)
{
    AlignTo4(out);
    const qsizetype start = out.size();
    AppendU16(out, 0); // length, patched when the node is closed
    AppendU16(out, valueLength);
    AppendU16(out, type);
    AppendText(out, key);
    AlignTo4(out);
    return start;
}

void CloseNode(QByteArray &out, qsizetype start, const QString &key)
{
    PatchU16(out, start, out.size() - start, key);
}

quint32 ParseNumber(const QString &text, bool *ok)
{
    const QString t = text.trimmed();
    if (t.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive))
        return t.mid(2).toUInt(ok, 16);
    return t.toUInt(ok, 10);
}

std::array<quint16, 4> ParseVersion(const QString &text, bool *ok)
{
    std::array<quint16, 4> parts{};
    const QStringList fields = text.trimmed().split(u'.');
    *ok = fields.size() == 4;
    for (int i = 0; *ok && i < 4; ++i) {
        const uint v = fields[i].toUInt(ok);
        *ok = *ok && v <= 0xFFFF;
        parts[i] = quint16(v);
    }
    return parts;
}

} // namespace

TVersionTable ParseVersionTable(const QString &text)
{
    TVersionTable table;
    const QStringList lines = text.split(u'\n');
    for (int n = 0; n < lines.size(); ++n) {
        QString line = lines[n];
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith(u'#'))
            continue;
        const qsizetype space = line.indexOf(u' ');
        const QString kind = line.left(space);
        const QString rest = space < 0 ? QString() : line.mid(space + 1);
        const qsizetype eq = rest.indexOf(u'=');
        const QString name = rest.left(eq);
        const QString value = eq < 0 ? QString() : rest.mid(eq + 1);
        bool ok = true;
        if (kind == u"Fixed" && eq > 0) {
            TVersionFixedInfo &f = table.Fixed;
            if (name == u"FileVersion")
                f.FileVersion = ParseVersion(value, &ok);
            else if (name == u"ProductVersion")
                f.ProductVersion = ParseVersion(value, &ok);
            else if (name == u"FileFlagsMask")
                f.FileFlagsMask = ParseNumber(value, &ok);
            else if (name == u"FileFlags")
                f.FileFlags = ParseNumber(value, &ok);
            else if (name == u"FileOS")
                f.FileOS = ParseNumber(value, &ok);
            else if (name == u"FileType")
                f.FileType = ParseNumber(value, &ok);
            else if (name == u"FileSubtype")
                f.FileSubtype = ParseNumber(value, &ok);
            else
                ok = false;
        } else if (kind == u"Table" && !rest.isEmpty()) {
            table.StringTables.append({rest, {}});
        } else if (kind == u"String" && eq > 0 && !table.StringTables.isEmpty()) {
            table.StringTables.last().Strings.append({name, value});
        } else if (kind == u"Translation") {
            const QStringList pair = rest.split(u',');
            ok = pair.size() == 2;
            bool ok2 = ok;
            const quint32 language = ok ? ParseNumber(pair[0], &ok) : 0;
            const quint32 codePage = ok2 ? ParseNumber(pair[1], &ok2) : 0;
            ok = ok && ok2 && language <= 0xFFFF && codePage <= 0xFFFF;
            table.Translations.append({quint16(language), quint16(codePage)});
        } else {
            ok = false;
        }
        if (!ok)
            throw TException(QStringLiteral("Version table line %1 is not understood: %2").arg(n + 1).arg(line));
    }
    return table;
}

QByteArray BuildVersionBlock(const TVersionTable &table)
{
    QByteArray out;
    const QString rootKey = QStringLiteral("VS_VERSION_INFO");
    const qsizetype root = OpenNode(out, rootKey, 52, 0);
    const TVersionFixedInfo &f = table.Fixed;
    AppendU32(out, 0xFEEF04BD); // signature
    AppendU32(out, 0x00010000); // structure version
    AppendU32(out, quint32(f.FileVersion[0]) << 16 | f.FileVersion[1]);
    AppendU32(out, quint32(f.FileVersion[2]) << 16 | f.FileVersion[3]);
    AppendU32(out, quint32(f.ProductVersion[0]) << 16 | f.ProductVersion[1]);
    AppendU32(out, quint32(f.ProductVersion[2]) << 16 | f.ProductVersion[3]);
    for (quint32 v : {f.FileFlagsMask, f.FileFlags, f.FileOS, f.FileType, f.FileSubtype, f.FileDateMS, f.FileDateLS})
        AppendU32(out, v);

    if (!table.StringTables.isEmpty()) {
        const QString sfiKey = QStringLiteral("StringFileInfo");
        const qsizetype sfi = OpenNode(out, sfiKey, 0, 1);
        for (const TVersionStringTable &st : table.StringTables) {
            const qsizetype tableStart = OpenNode(out, st.Code, 0, 1);
            for (const auto &[key, value] : st.Strings) {
                const qsizetype entry = OpenNode(out, key, quint16(qMin<qsizetype>(value.size() + 1, 0xFFFF)), 1);
                AppendText(out, value);
                CloseNode(out, entry, key);
            }
            CloseNode(out, tableStart, st.Code);
        }
        CloseNode(out, sfi, sfiKey);
    }
    if (!table.Translations.isEmpty()) {
        const QString vfiKey = QStringLiteral("VarFileInfo");
        const qsizetype vfi = OpenNode(out, vfiKey, 0, 1);
        const QString varKey = QStringLiteral("Translation");
        const qsizetype var = OpenNode(out, varKey, quint16(qMin<qsizetype>(4 * table.Translations.size(), 0xFFFF)), 0);
        for (const auto &[language, codePage] : table.Translations) {
            AppendU16(out, language);
            AppendU16(out, codePage);
        }
        CloseNode(out, var, varKey);
        CloseNode(out, vfi, vfiKey);
    }
    CloseNode(out, root, rootKey);
    return out;
}
