// SPDX-License-Identifier: GPL-3.0-or-later
#include "RegTestFixture.h"

#include <QFileInfo>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {
// The bytes of a little-endian number, as an array value holds them.
QByteArray Le32(std::initializer_list<quint32> values)
{
    QByteArray bytes;
    for (const quint32 v : values)
        for (int i = 0; i < 4; ++i)
            bytes += char((v >> (8 * i)) & 0xFF);
    return bytes;
}

int ModeOf(const QByteArray &path)
{
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}
} // namespace

using RegKinds = TRegTest;

TEST_F(RegKinds, IntegersAndBooleansAreStoredAsDwords)
{
    EXPECT_TRUE(Write(u"Flag"_s, RegValue::FromBool(true)));
    Write(u"Small"_s, RegValue::FromSmallInt(-2));
    Write(u"sc_About"_s, RegValue::FromWord(0x4009));
    Write(u"MainWidth"_s, RegValue::FromInteger(600));
    Write(u"Level"_s, RegValue::FromByte(200));

    const QByteArray text = FileText();
    EXPECT_TRUE(text.contains("\n\"Flag\"=dword:00000001\n")) << text.constData();
    EXPECT_TRUE(text.contains("\n\"Small\"=dword:fffffffe\n"));
    EXPECT_TRUE(text.contains("\n\"sc_About\"=dword:00004009\n"));
    EXPECT_TRUE(text.contains("\n\"MainWidth\"=dword:00000258\n"));
    EXPECT_TRUE(text.contains("\n\"Level\"=dword:000000c8\n"));

    // Booleans come back as booleans, every integer kind as a signed 32-bit integer.
    EXPECT_EQ(Read(u"Flag"_s, RegValue::FromBool(false)), RegValue::FromBool(true));
    EXPECT_EQ(Read(u"Small"_s, RegValue::FromSmallInt(0)), RegValue::FromInteger(-2));
    EXPECT_EQ(Read(u"sc_About"_s, RegValue::FromWord(0)), RegValue::FromInteger(0x4009));
    EXPECT_EQ(Read(u"MainWidth"_s, RegValue::FromInteger(1)).AsInteger(), 600);
    EXPECT_EQ(Read(u"Level"_s, RegValue::FromByte(0)), RegValue::FromInteger(200));
}

TEST_F(RegKinds, HandWrittenDwordsReadAsTheCallerNeedsThem)
{
    Seed("\"SplashEnabled\"=dword:00000002\n\"sc_Refresh\"=dword:12344074\n"
         "\"Short\"=hex(4):34,12\n");
    EXPECT_TRUE(Read(u"SplashEnabled"_s, RegValue::FromBool(false)).AsBool());
    // A shortcut code uses the low 16 bits of what is stored.
    EXPECT_EQ(Read(u"sc_Refresh"_s, RegValue::FromWord(0)).AsWord(), 0x4074);
    EXPECT_EQ(Read(u"Short"_s, RegValue::FromInteger(-1)).AsInteger(), 0x1234);
}

TEST_F(RegKinds, FloatsDatesAndCurrencyAreEightBinaryBytes)
{
    Write(u"Weight"_s, RegValue::FromSingle(1.5f));
    Write(u"Ratio"_s, RegValue::FromDouble(0.1));
    Write(u"When"_s, RegValue::FromDateTime(45000.25));
    Write(u"Price"_s, RegValue::FromCurrency(15000));
    Write(u"Debt"_s, RegValue::FromCurrency(-1));

    const QByteArray text = FileText();
    EXPECT_TRUE(text.contains("\n\"Weight\"=hex:00,00,00,00,00,00,f8,3f\n")) << text.constData();
    EXPECT_TRUE(text.contains("\n\"Ratio\"=hex:9a,99,99,99,99,99,b9,3f\n"));
    EXPECT_TRUE(text.contains("\n\"When\"=hex:00,00,00,00,08,f9,e5,40\n"));
    EXPECT_TRUE(text.contains("\n\"Price\"=hex:98,3a,00,00,00,00,00,00\n"));
    EXPECT_TRUE(text.contains("\n\"Debt\"=hex:ff,ff,ff,ff,ff,ff,ff,ff\n"));

    EXPECT_EQ(Read(u"Weight"_s, RegValue::FromSingle(0)), RegValue::FromDouble(1.5));
    EXPECT_EQ(Read(u"Ratio"_s, RegValue::FromDouble(0)), RegValue::FromDouble(0.1));
    EXPECT_EQ(Read(u"When"_s, RegValue::FromDateTime(0)), RegValue::FromDateTime(45000.25));
    EXPECT_EQ(Read(u"Price"_s, RegValue::FromCurrency(0)).AsDouble(), 1.5);
    EXPECT_EQ(Read(u"Debt"_s, RegValue::FromCurrency(0)), RegValue::FromCurrency(-1));
}

TEST_F(RegKinds, TextIsAQuotedStringThatReadsBackUnchanged)
{
    const QByteArray quoted = "text with \"quotes\" and \\ backslashes";
    Write(u"Name"_s, RegValue::FromString(quoted));
    Write(u"Latin"_s, RegValue::FromString("caf\xe9"));
    Write(u"Lines"_s, RegValue::FromString("one\r\ntwo"));
    Write(u"Empty"_s, RegValue::FromString(""));
    Write(QString(), RegValue::FromText(u"unnamed"_s));

    const QByteArray text = FileText();
    EXPECT_TRUE(text.contains("\n\"Name\"=\"text with \\\"quotes\\\" and \\\\ backslashes\"\n")) << text.constData();
    EXPECT_TRUE(text.contains("\n\"Latin\"=\"caf\xe9\"\n"));
    // A line break cannot sit inside a quoted value, so that text is written as its bytes.
    EXPECT_TRUE(text.contains("\n\"Lines\"=hex(1):6f,6e,65,0d,0a,74,77,6f,00\n"));
    EXPECT_TRUE(text.contains("\n\"Empty\"=\"\"\n"));
    EXPECT_TRUE(text.contains("\n@=\"unnamed\"\n"));

    const RegValue none = RegValue::FromString("default");
    EXPECT_EQ(Read(u"Name"_s, none).AsString(), quoted);
    EXPECT_EQ(Read(u"Latin"_s, none).AsString(), QByteArray("caf\xe9"));
    EXPECT_EQ(Read(u"Lines"_s, none).AsString(), QByteArray("one\r\ntwo"));
    EXPECT_EQ(Read(u"Empty"_s, none), RegValue::FromString(""));
    EXPECT_EQ(Read(QString(), none).AsText(), u"unnamed"_s);
}

TEST_F(RegKinds, ExpandStringsAreReturnedUnexpanded)
{
    Seed("\"Path\"=hex(2):25,48,4f,4d,45,25,2f,78,00\n\"Cut\"=\"before\"\n");
    EXPECT_EQ(Read(u"Path"_s, RegValue::FromString("")).AsString(), QByteArray("%HOME%/x"));
    EXPECT_EQ(Read(u"Path"_s, RegValue::FromString("")).Kind(), TRegValueKind::String);
}

TEST_F(RegKinds, ArraysAreTheRawBytesOfTheirBounds)
{
    EXPECT_TRUE(Write(u"Table"_s, RegValue::FromArray(TRegValueKind::Integer, 1, 3, Le32({1, 2, 0x10000}))));
    EXPECT_TRUE(FileText().contains("\n\"Table\"=hex:01,00,00,00,02,00,00,00,00,00,01,00\n"));

    // A larger array takes the stored bytes over its start and keeps the rest of the default.
    const RegValue wide = RegValue::FromArray(TRegValueKind::Integer, 0, 4, QByteArray(20, '\xff'));
    const RegValue read = Read(u"Table"_s, wide);
    EXPECT_EQ(read.ArrayBytes(), Le32({1, 2, 0x10000, 0xffffffff, 0xffffffff}));
    EXPECT_EQ(read.LowBound(), 0);
    EXPECT_EQ(read.HighBound(), 4);

    // Elements without a registry width make an empty array that is never stored.
    EXPECT_EQ(RegValue::FromArray(TRegValueKind::Word, 0, 9).ArrayByteSize(), 0);
    EXPECT_FALSE(Write(u"Words"_s, RegValue::FromArray(TRegValueKind::Word, 0, 9)));
    EXPECT_FALSE(FileText().contains("Words"));
    EXPECT_EQ(RegValue::FromArray(TRegValueKind::Double, 0, 1).ArrayByteSize(), 16);
    EXPECT_EQ(RegValue::FromArray(TRegValueKind::Boolean, 0, 1).ArrayByteSize(), 4);
}

TEST_F(RegKinds, UnsupportedKindsAreNeitherStoredNorRead)
{
    EXPECT_FALSE(WriteRegValue(HKEY_CURRENT_USER, u"\\Software\\KER-MOSS\\Odd"_s, u"Thing"_s, RegValue()));
    // The key is made all the same, with nothing in it.
    EXPECT_TRUE(FileText().endsWith("[HKEY_CURRENT_USER\\Software\\KER-MOSS\\Odd]\n")) << FileText().constData();
    EXPECT_FALSE(FileText().contains("Thing"));

    Seed("\"Thing\"=\"text\"\n");
    EXPECT_EQ(Read(u"Thing"_s, RegValue()), RegValue());
}

using RegReadFailures = TRegTest;

TEST_F(RegReadFailures, AValueOfAnotherTypeNamesTheValue)
{
    Seed("\"SplashEnabled\"=\"1\"\n\"Weight\"=hex:00,00,f8,3f\n\"Count\"=dword:00000005\n"
         "\"Bin\"=hex:01,02\n\"Table\"=hex:01,02,03,04,05\n");
    EXPECT_EQ(ErrorOf([] { Read(u"SplashEnabled"_s, RegValue::FromBool(true)); }),
              u"Invalid data type for 'SplashEnabled'"_s);
    EXPECT_EQ(ErrorOf([] { Read(u"Weight"_s, RegValue::FromDouble(0)); }), u"Invalid data type for 'Weight'"_s);
    EXPECT_EQ(ErrorOf([] { Read(u"Count"_s, RegValue::FromCurrency(0)); }), u"Invalid data type for 'Count'"_s);
    EXPECT_EQ(ErrorOf([] { Read(u"Count"_s, RegValue::FromString("")); }), u"Invalid data type for 'Count'"_s);
    EXPECT_EQ(ErrorOf([] { Read(u"Bin"_s, RegValue::FromInteger(0)); }), u"Invalid data type for 'Bin'"_s);
    EXPECT_EQ(ErrorOf([] { Read(u"Count"_s, RegValue::FromArray(TRegValueKind::Byte, 0, 7)); }),
              u"Invalid data type for 'Count'"_s);
    EXPECT_EQ(ErrorOf([] { Read(u"Table"_s, RegValue::FromArray(TRegValueKind::Integer, 0, 0)); }),
              u"Invalid data type for 'Table'"_s);
}

TEST_F(RegReadFailures, DataLargerThanTheKindAsksForCannotBeFetched)
{
    Seed("\"Big\"=hex(4):01,02,03,04,05\n\"Long\"=\"12345\"\n\"Wide\"=hex:00,00,00,00,00,00,00,00,00\n");
    EXPECT_EQ(ErrorOf([] { Read(u"Big"_s, RegValue::FromInteger(0)); }), u"Failed to get data for 'Big'"_s);
    EXPECT_EQ(ErrorOf([] { Read(u"Long"_s, RegValue::FromBool(false)); }), u"Failed to get data for 'Long'"_s);
    EXPECT_EQ(ErrorOf([] { Read(u"Wide"_s, RegValue::FromDouble(0)); }), u"Failed to get data for 'Wide'"_s);
}

TEST_F(RegReadFailures, EmptyDataReadsAsEmptyTextWhateverItsType)
{
    Seed("\"NoBytes\"=hex(4):\n\"Nothing\"=hex(0):\n");
    EXPECT_EQ(Read(u"NoBytes"_s, RegValue::FromString("x")), RegValue::FromString(""));
    EXPECT_EQ(Read(u"Nothing"_s, RegValue::FromString("x")), RegValue::FromString(""));
}

TEST(RegKeyPaths, NormalisedToOneLeadingBackslashBetweenNames)
{
    EXPECT_EQ(NormalizeRegKeyPath(u"Software\\\\KER-MOSS\\\\"_s), u"\\Software\\KER-MOSS"_s);
    EXPECT_EQ(NormalizeRegKeyPath(u"\\\\\\Software\\\\\\\\DirNote"_s), u"\\Software\\DirNote"_s);
    EXPECT_EQ(NormalizeRegKeyPath(u"Software"_s), u"\\Software"_s);
    EXPECT_EQ(NormalizeRegKeyPath(u"\\"_s), QString());
    EXPECT_EQ(NormalizeRegKeyPath(u"\\\\"_s), QString());
    EXPECT_EQ(NormalizeRegKeyPath(QString()), QString());
}

using RegKeys = TRegTest;

TEST_F(RegKeys, AnyPathSpellingAddressesTheSameKey)
{
    WriteRegValue(HKEY_CURRENT_USER, u"Software\\\\KER-MOSS\\\\DirNote\\\\"_s, u"MainHeight"_s,
                  RegValue::FromInteger(500));
    EXPECT_EQ(Read(u"MainHeight"_s, RegValue::FromInteger(0)).AsInteger(), 500);
    // The empty path is the root key itself.
    WriteRegValue(HKEY_CURRENT_USER, u"\\"_s, u"AtRoot"_s, RegValue::FromBool(true));
    EXPECT_TRUE(FileText().contains("\n[HKEY_CURRENT_USER]\n\"AtRoot\"=dword:00000001\n"));
    EXPECT_TRUE(ReadRegValue(HKEY_CURRENT_USER, QString(), u"AtRoot"_s, RegValue::FromBool(false)).AsBool());
}

TEST_F(RegKeys, ReadingAMissingValueGivesTheDefaultAndCreatesNothing)
{
    EXPECT_EQ(Read(u"MainWidth"_s, RegValue::FromInteger(453)), RegValue::FromInteger(453));
    EXPECT_FALSE(QFileInfo::exists(QFile::decodeName(RegFolder())));

    WriteRegValue(HKEY_CURRENT_USER, u"\\Software\\KER-MOSS"_s, u"SplashEnabled"_s, RegValue::FromBool(false));
    const QByteArray before = FileText();
    EXPECT_EQ(Read(u"MainWidth"_s, RegValue::FromInteger(453)), RegValue::FromInteger(453));
    EXPECT_EQ(Read(u"MainWidth"_s, RegValue::FromWord(7)), RegValue::FromWord(7));
    EXPECT_EQ(FileText(), before);
    EXPECT_FALSE(before.contains("DirNote"));
}

TEST_F(RegKeys, WritingCreatesTheWholePathForTheUserAlone)
{
    EXPECT_TRUE(Write(u"MainWidth"_s, RegValue::FromInteger(600)));
    EXPECT_EQ(FileText(), QByteArray("REGEDIT4\n"
                                     "\n"
                                     "[HKEY_CURRENT_USER\\Software]\n"
                                     "\n"
                                     "[HKEY_CURRENT_USER\\Software\\KER-MOSS]\n"
                                     "\n"
                                     "[HKEY_CURRENT_USER\\Software\\KER-MOSS\\DirNote]\n"
                                     "\"MainWidth\"=dword:00000258\n"));
    EXPECT_EQ(ModeOf(RegFile()), 0600);
    EXPECT_EQ(ModeOf(RegFolder()), 0700);
    EXPECT_EQ(ModeOf(ConfigDir()), 0700);
}

TEST_F(RegKeys, NamesMatchWithoutRegardToCaseAndKeepTheirFirstCase)
{
    Write(u"MainWidth"_s, RegValue::FromInteger(600));
    WriteRegValue(HKEY_CURRENT_USER, u"\\SOFTWARE\\ker-moss\\dirnote"_s, u"MAINWIDTH"_s, RegValue::FromInteger(700));
    WriteRegValue(HKEY_CURRENT_USER, u"\\SOFTWARE\\ker-moss\\Other"_s, u"X"_s, RegValue::FromInteger(1));

    const QByteArray text = FileText();
    EXPECT_EQ(text.count("MainWidth"), 1) << text.constData();
    EXPECT_TRUE(text.contains("\n\"MainWidth\"=dword:000002bc\n"));
    EXPECT_TRUE(text.contains("\n[HKEY_CURRENT_USER\\Software\\KER-MOSS\\Other]\n"));
    EXPECT_FALSE(text.contains("SOFTWARE"));
    EXPECT_EQ(Read(u"mainwidth"_s, RegValue::FromInteger(0)).AsInteger(), 700);
}
