// SPDX-License-Identifier: GPL-3.0-or-later
#include "RegTestFixture.h"

#include "ChildProcess.h"
#include "FullDisk.h"
#include "KillRounds.h"

#include "settings/RegistryFile.h"

#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>
#include <random>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
std::atomic<int> gFolderSyncs{0};
std::atomic<ino_t> gWatchedFolder{0};
} // namespace

// Counts the syncs of one folder, to see that a rename into it is made durable.
extern "C" int fsync(int fd)
{
    struct stat st;
    if (gWatchedFolder && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_ino == gWatchedFolder)
        ++gFolderSyncs;
    return int(::syscall(SYS_fsync, fd));
}

using namespace Qt::StringLiterals;

using RegStoreFile = TRegTest;

TEST_F(RegStoreFile, HandEditedLinesSurviveAWrite)
{
    const QByteArray hand = "; my settings, edited by hand\n"
                            "  \"MainWidth\" = dword:300   \n"
                            "\"sc_About\"=dword:00004070\n"
                            "\"Mystery\"=qword:12\n"
                            "\"Pattern\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\n"
                            "  17,18\n"
                            "this line means nothing\n"
                            "\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\KER-MOSS\\DirNote]\n"
                            "\"MainHeight\"=dword:00000001";
    Seed(hand);
    EXPECT_EQ(Read(u"MainWidth"_s, RegValue::FromInteger(0)).AsInteger(), 0x300);
    EXPECT_EQ(Read(u"Pattern"_s, RegValue::FromArray(TRegValueKind::Byte, 1, 24)).ArrayBytes().back(), '\x18');
    // A section of another root key holds none of this key's values.
    EXPECT_EQ(Read(u"MainHeight"_s, RegValue::FromInteger(9)).AsInteger(), 9);

    Write(u"MainWidth"_s, RegValue::FromInteger(640));
    Write(u"MainHeight"_s, RegValue::FromInteger(500));
    const QByteArray expected = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\KER-MOSS\\DirNote]\n"
                                "; my settings, edited by hand\n"
                                "\"MainWidth\"=dword:00000280\n"
                                "\"sc_About\"=dword:00004070\n"
                                "\"Mystery\"=qword:12\n"
                                "\"Pattern\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\n"
                                "  17,18\n"
                                "\"MainHeight\"=dword:000001f4\n"
                                "this line means nothing\n"
                                "\n"
                                "[HKEY_LOCAL_MACHINE\\Software\\KER-MOSS\\DirNote]\n"
                                "\"MainHeight\"=dword:00000001";
    EXPECT_EQ(FileText(), expected);
}

TEST_F(RegStoreFile, WindowsLineEndsAndLongValuesStayReadable)
{
    QDir().mkpath(QFile::decodeName(RegFolder()));
    TestSupport::WriteFileBytes(RegFile(), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n\"A\"=\"b\"\r\n");
    Write(u"Blob"_s, RegValue::FromArray(TRegValueKind::Byte, 0, 39, QByteArray(40, '\x11')));

    const QByteArray text = FileText();
    EXPECT_FALSE(text.contains("\n\n")) << "a bare line end crept in";
    EXPECT_TRUE(text.startsWith("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n\"A\"=\"b\"\r\n\r\n"));
    // Long hex lists go on over several lines, each short enough to read.
    for (const QByteArray &line : text.split('\n'))
        EXPECT_LE(line.size(), 80);
    EXPECT_EQ(Read(u"Blob"_s, RegValue::FromArray(TRegValueKind::Byte, 0, 39)).ArrayBytes(), QByteArray(40, '\x11'));
}

namespace {
QByteArray Utf16(const QString &text)
{
    QByteArray bytes("\xFF\xFE");
    bytes.append(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    return bytes;
}
} // namespace

TEST_F(RegStoreFile, AFileThatCannotBeReadIsNamedAndNeverOverwritten)
{
    struct TCase {
        const char *What;
        QByteArray Bytes;
        int Line;
    };
    QByteArray loneSurrogate = Utf16(u"Windows Registry Editor Version 5.00\r\n\"A\"=\"x"_s);
    loneSurrogate += QByteArray("\x00\xD8", 2) + Utf16(u"\"\r\n"_s).mid(2);
    const TCase cases[] = {
        {"no header", "[HKEY_CURRENT_USER\\Software\\KER-MOSS\\DirNote]\n\"MainWidth\"=dword:1\n", 1},
        {"no header after blank lines", "\n\r\n  \nREGEDIT 4\n", 4},
        {"a NUL byte",
         QByteArray("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\KER-MOSS\\DirNote]\r\"A\"=\"") + '\0' + "\"\n", 4},
        {"UTF-16 without its byte-order mark", Utf16(u"REGEDIT4\n"_s).mid(2), 1},
        {"a lone UTF-16 surrogate", loneSurrogate, 2},
        {"UTF-16 cut short", Utf16(u"REGEDIT4\n\n[x]\n"_s) + 'x', 4},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.What);
        QDir().mkpath(QFile::decodeName(RegFolder()));
        TestSupport::WriteFileBytes(RegFile(), c.Bytes);
        const QString message =
            u"The settings file %1 cannot be read (line %2)"_s.arg(QFile::decodeName(RegFile())).arg(c.Line);
        EXPECT_EQ(ErrorOf([] { Read(u"MainWidth"_s, RegValue::FromInteger(5)); }), message);
        EXPECT_EQ(ErrorOf([] { Write(u"MainWidth"_s, RegValue::FromInteger(600)); }), message);
        EXPECT_EQ(FileText(), c.Bytes);
    }
}

// The newer export format (UTF-16LE with its byte-order mark) and files with CR line ends are
// read, and a write keeps their encoding, line ends and every line it did not change.
TEST_F(RegStoreFile, OtherEncodingsAndLineEndsAreReadAndKept)
{
    const QString body = u"[HKEY_CURRENT_USER\\Software\\KER-MOSS\\DirNote]%1"
                         "; Grüße\u00A0von Hand%1"
                         "\"MainWidth\"=dword:00000300%1"
                         "\"Title\"=\"Straße ✓\"%1"
                         "\"Path\"=hex(2):%2%1"
                         "\"Pattern\"=hex:01,02,\\%1  03%1"_s;
    struct TCase {
        const char *What;
        QString Header;
        QString LineEnd;
        bool Utf16;
    };
    const TCase cases[] = {
        {"UTF-16LE export", u"\uFEFFWindows Registry Editor Version 5.00"_s, u"\r\n"_s, true},
        {"CR line ends", u"REGEDIT4"_s, u"\r"_s, false},
        {"CR line ends, UTF-16LE", u"\uFEFFWindows Registry Editor Version 5.00"_s, u"\r"_s, true},
    };
    const auto encode = [](const QString &text, bool utf16) { return utf16 ? Utf16(text).mid(2) : text.toUtf8(); };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.What);
        // A text written as a hex list is UTF-16 in the newer format, 8-bit text in the older.
        const QString path = c.Utf16 ? u"25,00,48,00,4f,00,4d,00,45,00,25,00,2f,00,e4,00,00,00"_s
                                     : u"25,48,4f,4d,45,25,2f,c3,a4,00"_s;
        const QString original = c.Header + c.LineEnd + c.LineEnd + body.arg(c.LineEnd, path);
        QDir().mkpath(QFile::decodeName(RegFolder()));
        TestSupport::WriteFileBytes(RegFile(), encode(original, c.Utf16));

        EXPECT_EQ(Read(u"MainWidth"_s, RegValue::FromInteger(0)).AsInteger(), 0x300);
        EXPECT_EQ(Read(u"Title"_s, RegValue::FromString({})).AsText(), u"Straße ✓"_s);
        EXPECT_EQ(Read(u"Path"_s, RegValue::FromString({})).AsText(), u"%HOME%/ä"_s);
        EXPECT_EQ(Read(u"Pattern"_s, RegValue::FromArray(TRegValueKind::Byte, 0, 2)).ArrayBytes(),
                  QByteArray("\x01\x02\x03"));

        Write(u"MainWidth"_s, RegValue::FromInteger(640));
        Write(u"Title"_s, RegValue::FromText(u"Grün"_s));
        WriteRegValue(HKEY_CURRENT_USER, u"\\Software\\KER-MOSS\\New"_s, u"Ü"_s, RegValue::FromInteger(1));
        QString expected = original;
        expected.replace(u"dword:00000300"_s, u"dword:00000280"_s).replace(u"Straße ✓"_s, u"Grün"_s);
        expected += c.LineEnd + u"[HKEY_CURRENT_USER\\Software\\KER-MOSS\\New]"_s + c.LineEnd
                    + u"\"Ü\"=dword:00000001"_s + c.LineEnd;
        EXPECT_EQ(FileText(), encode(expected, c.Utf16));
        EXPECT_EQ(Read(u"Title"_s, RegValue::FromString({})).AsText(), u"Grün"_s);
        EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, u"\\Software\\KER-MOSS\\New"_s, u"ü"_s, RegValue::FromInteger(0))
                      .AsInteger(),
                  1);
    }
}

// A UTF-16 file holds characters, not bytes: a text that is not UTF-8 (a folder path in the
// file system's bytes, for one) cannot be stored there so that it reads back. The write is
// refused and says so, the file unchanged; the same text in an 8-bit file is stored as it is.
TEST_F(RegStoreFile, ATextAUtf16FileCannotHoldIsRefusedNotChanged)
{
    const QByteArray notUtf8 = "/home/\xE4\x80/docs";
    for (const bool utf16 : {true, false}) {
        SCOPED_TRACE(utf16 ? "UTF-16 file" : "8-bit file");
        const QString text =
            u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\KER-MOSS\\DirNote]\r\n\"Title\"=\"Grün\"\r\n"_s;
        const QByteArray original = utf16 ? Utf16(u"\uFEFF"_s + text).mid(2) : text.toUtf8();
        QDir().mkpath(QFile::decodeName(RegFolder()));
        TestSupport::WriteFileBytes(RegFile(), original);

        if (utf16) {
            EXPECT_EQ(ErrorOf([&] { Write(u"Title"_s, RegValue::FromString(notUtf8)); }),
                      u"Failed to set data for 'Title'"_s);
            EXPECT_EQ(ErrorOf([&] { Write(u"Folder"_s, RegValue::FromString(notUtf8)); }),
                      u"Failed to set data for 'Folder'"_s);
            EXPECT_EQ(FileText(), original);
            EXPECT_EQ(Read(u"Title"_s, RegValue::FromString({})).AsText(), u"Grün"_s);
            EXPECT_EQ(Read(u"Folder"_s, RegValue::FromString("none")).AsString(), QByteArray("none"));
        } else {
            EXPECT_TRUE(Write(u"Folder"_s, RegValue::FromString(notUtf8)));
            EXPECT_EQ(Read(u"Folder"_s, RegValue::FromString({})).AsString(), notUtf8);
        }
        // A text that is UTF-8 is stored in either file and reads back.
        EXPECT_TRUE(Write(u"Title"_s, RegValue::FromText(u"Straße ✓"_s)));
        EXPECT_EQ(Read(u"Title"_s, RegValue::FromString({})).AsText(), u"Straße ✓"_s);
    }
}

// The same for every text type and for names of keys and values, through the file itself: in a
// UTF-16 file each is refused and changes nothing; other types hold any bytes.
TEST(RegistryFile, AUtf16FileRefusesNamesAndTextsThatAreNotUtf8)
{
    const QByteArray notUtf8 = "a\xE4\xFF";
    const QByteArray utf16File =
        Utf16(u"\uFEFFWindows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n\"Old\"=\"x\"\r\n"_s)
            .mid(2);
    for (const bool utf16 : {true, false}) {
        SCOPED_TRACE(utf16 ? "UTF-16 file" : "8-bit file");
        TRegistryFile file;
        ASSERT_TRUE(file.Parse(utf16 ? utf16File : QByteArray("REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"Old\"=\"x\"\n")));
        const QByteArray original = file.Serialize();
        for (const quint32 type : {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY, REG_NONE, REG_QWORD}) {
            SCOPED_TRACE(type);
            const bool text = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
            const TRegData data{type, notUtf8 + '\0'};
            for (const QByteArray &name : {QByteArray("Old"), QByteArray("New")}) {
                TRegistryFile copy = file;
                const bool stored = copy.SetValue("K", name, data);
                EXPECT_EQ(stored, !(utf16 && text));
                if (!stored) {
                    EXPECT_EQ(copy.Serialize(), original);
                    continue;
                }
                TRegistryFile reread;
                ASSERT_TRUE(reread.Parse(copy.Serialize()));
                EXPECT_EQ(reread.Value("K", name), data);
            }
        }
        TRegistryFile copy = file;
        EXPECT_EQ(copy.SetValue("K", notUtf8, TRegData{REG_DWORD, QByteArray(4, '\1')}), !utf16);
        EXPECT_EQ(copy.CreateKey("K\\" + notUtf8), !utf16);
        EXPECT_EQ(copy.SetValue("K\\" + notUtf8 + "2", "v", TRegData{REG_DWORD, QByteArray(4, '\1')}), !utf16);
        if (utf16) {
            EXPECT_EQ(copy.Serialize(), original);
        } else {
            TRegistryFile reread;
            ASSERT_TRUE(reread.Parse(copy.Serialize()));
            EXPECT_TRUE(reread.Value("K", notUtf8).has_value());
            EXPECT_TRUE(reread.KeyExists("K\\" + notUtf8));
            EXPECT_TRUE(reread.Value("K\\" + notUtf8 + "2", "v").has_value());
        }
    }
}

// A line that ends in a lone CR in a file of LF lines keeps its line end when a key is added
// after it: the blank line set before the new key does not melt into it.
TEST_F(RegStoreFile, ALoneCarriageReturnKeepsItsLineWhenAKeyFollows)
{
    const QByteArray original = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\KER-MOSS\\Other]\n\"Keep\"=dword:00000005\r";
    QDir().mkpath(QFile::decodeName(RegFolder()));
    TestSupport::WriteFileBytes(RegFile(), original);
    Write(u"Left"_s, RegValue::FromInteger(12));
    EXPECT_EQ(FileText(), original + "\r\n[HKEY_CURRENT_USER\\Software\\KER-MOSS\\DirNote]\n\"Left\"=dword:0000000c\n");
    EXPECT_EQ(Read(u"Left"_s, RegValue::FromInteger(-1)).AsInteger(), 12);
}

// A hand-edited or damaged line that ends in a backslash goes on over no blank line, section
// header or value line: what is written next reads back from its own key.
TEST_F(RegStoreFile, ABackslashAtALineEndSwallowsNoLaterLine)
{
    const QByteArray damagedLines[] = {"\"Dir\"=\"C:\\", "\"Dir\"=\"C:\\\\", "\"Bin\"=hex:01,02,\\",
                                       "\"Bin\"=hex:01,02,\\\\", "@=hex(2):41,00,\\  "};
    const QString other = u"\\Software\\KER-MOSS\\Other"_s;
    for (const QByteArray &damaged : damagedLines) {
        for (const QByteArray &end : {QByteArray(), QByteArray("\n"), QByteArray("\r\n")}) {
            SCOPED_TRACE((damaged + end).toStdString());
            const QByteArray original = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\KER-MOSS\\Other]\n"
                                        "\"Keep\"=dword:00000005\n"
                                        + damaged + end;
            QDir().mkpath(QFile::decodeName(RegFolder()));
            TestSupport::WriteFileBytes(RegFile(), original);

            EXPECT_TRUE(Write(u"Left"_s, RegValue::FromInteger(12)));
            EXPECT_EQ(Read(u"Left"_s, RegValue::FromInteger(-1)).AsInteger(), 12);
            EXPECT_TRUE(Write(u"Top"_s, RegValue::FromInteger(7)));
            EXPECT_EQ(Read(u"Top"_s, RegValue::FromInteger(-1)).AsInteger(), 7);
            EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, other, u"Left"_s, RegValue::FromInteger(-1)).AsInteger(), -1);
            EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, other, u"Keep"_s, RegValue::FromInteger(-1)).AsInteger(), 5);
            EXPECT_TRUE(FileText().startsWith(original)) << FileText().constData();
        }
    }
}

// As on import, a value given twice in one key, or in two sections of the same key, takes its
// last definition; a write changes that one and keeps the others as they stand.
TEST_F(RegStoreFile, ADuplicateValueReadsAsItsLastDefinition)
{
    Seed("\"MainWidth\"=dword:00000001\n\"MAINWIDTH\"=dword:00000002\n\n"
         "[HKEY_CURRENT_USER\\Software\\KER-MOSS\\Other]\n\"MainHeight\"=dword:00000009\n\n"
         "[HKEY_CURRENT_USER\\Software\\KER-MOSS\\DirNote]\n\"MainHeight\"=dword:00000003\n"
         "[HKEY_CURRENT_USER\\Software\\KER-MOSS\\dirnote]\n\"mainheight\"=dword:00000004\n");
    EXPECT_EQ(Read(u"MainWidth"_s, RegValue::FromInteger(0)).AsInteger(), 2);
    EXPECT_EQ(Read(u"MainHeight"_s, RegValue::FromInteger(0)).AsInteger(), 4);

    Write(u"MainWidth"_s, RegValue::FromInteger(10));
    Write(u"MainHeight"_s, RegValue::FromInteger(11));
    EXPECT_EQ(Read(u"MainWidth"_s, RegValue::FromInteger(0)).AsInteger(), 10);
    EXPECT_EQ(Read(u"MainHeight"_s, RegValue::FromInteger(0)).AsInteger(), 11);
    const QByteArray text = FileText();
    EXPECT_TRUE(text.contains("\"MainWidth\"=dword:00000001\n\"MAINWIDTH\"=dword:0000000a\n")) << text.constData();
    EXPECT_TRUE(text.contains("\"MainHeight\"=dword:00000003\n[HKEY_CURRENT_USER\\Software\\KER-MOSS\\dirnote]\n"
                              "\"mainheight\"=dword:0000000b\n"))
        << text.constData();
    EXPECT_TRUE(text.contains("\"MainHeight\"=dword:00000009\n"));
}

TEST_F(RegStoreFile, DamagedLinesAreSkippedAndKept)
{
    const QByteArray damaged = "\"Open\"=\"no end\n\"Wide\"=dword:123456789\n\"Odd\"=hex(zz):01\n"
                               "\"Gap\"=hex:01,,02\n@\n\"Good\"=dword:00000007\n[\n\"Lost\"=dword:00000001\n"
                               + QByteArray(100000, 'x') + "\n";
    Seed(damaged);
    for (const QString &name : {u"Open"_s, u"Wide"_s, u"Odd"_s, u"Gap"_s, QString(), u"Lost"_s})
        EXPECT_EQ(Read(name, RegValue::FromInteger(-1)).AsInteger(), -1) << name.toStdString();
    EXPECT_EQ(Read(u"Good"_s, RegValue::FromInteger(-1)).AsInteger(), 7);

    Write(u"Good"_s, RegValue::FromInteger(8));
    EXPECT_TRUE(FileText().contains("\"Open\"=\"no end\n\"Wide\"=dword:123456789\n"));
    EXPECT_TRUE(FileText().endsWith("[\n\"Lost\"=dword:00000001\n" + QByteArray(100000, 'x') + "\n"));
    EXPECT_EQ(Read(u"Good"_s, RegValue::FromInteger(-1)).AsInteger(), 8);
}

TEST_F(RegStoreFile, ValueNamesWithLineBreaksAreRefused)
{
    Write(u"MainWidth"_s, RegValue::FromInteger(600));
    const QByteArray before = FileText();
    EXPECT_EQ(ErrorOf([] { Write(u"Bad\nName"_s, RegValue::FromInteger(1)); }),
              u"Failed to set data for 'Bad\nName'"_s);
    EXPECT_EQ(FileText(), before);
}

// Run as an ordinary user: permissions do not stop the superuser.
TEST_F(RegStoreFile, AnUnreadableFileReadsAsEmptyAndKeepsEveryByte)
{
    Write(u"MainWidth"_s, RegValue::FromInteger(600));
    Write(u"MainHeight"_s, RegValue::FromText(u"tall"_s));
    const QByteArray before = FileText();
    ASSERT_EQ(::chmod(RegFile().constData(), 0), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ::chmod(Dir.Path().constData(), 0755);
        for (const QByteArray &path : {ConfigDir(), RegFolder(), RegFile()})
            ASSERT_EQ(::chown(path.constData(), 65534, 65534), 0);
    }
    const auto check = [&]() -> QByteArray {
        QByteArray problems;
        if (Read(u"MainWidth"_s, RegValue::FromInteger(1)).AsInteger() != 1)
            problems += "read the unreadable file; ";
        const QString error = ErrorOf([] { Write(u"MainWidth"_s, RegValue::FromInteger(2)); });
        if (error != "Unable to write to "_L1 + QFile::decodeName(RegFile()) + ": Permission denied"_L1)
            problems += "the write said: " + error.toUtf8();
        return problems;
    };
    const TestSupport::TChildRun run = root ? TestSupport::RunInChild(check, 20000, TestSupport::TUserIds{})
                                            : TestSupport::TChildRun{true, 0, check()};
    EXPECT_TRUE(run.Finished);
    EXPECT_EQ(run.Report, QByteArray());
    ASSERT_EQ(::chmod(RegFile().constData(), 0600), 0);
    EXPECT_EQ(FileText(), before);
    EXPECT_EQ(Read(u"MainWidth"_s, RegValue::FromInteger(1)).AsInteger(), 600);
}

// A writer killed at random moments: the file reads, every value whose write had returned is
// there, and no temporary file outlives the next write.
TEST_F(RegStoreFile, AWriterKilledAtRandomMomentsLosesNoWriteThatReturned)
{
    Write(u"First"_s, RegValue::FromInteger(1));
    const auto name = [](int i) { return u"Killed"_s + QString::number(i); };
    const auto write = [&](int i) -> QByteArray {
        const QString error = ErrorOf([&] { Write(name(i), RegValue::FromInteger(i)); });
        return error == "<no error>"_L1 ? QByteArray() : error.toUtf8();
    };
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    double maxDelayUs = 3000; // widens while writers finish nothing, narrows while they finish many
    int stored = 0, rounds = 0, completed = 0, backdated = 0;
    QStringList waiting;
    QElapsedTimer timer;
    timer.start();
    // On a slow or busy machine (a sanitizer build) the kill delays need more rounds to settle.
    while (timer.elapsed() < 1500 || (rounds < 40 && timer.elapsed() < 15000)) {
        ++rounds;
        const TestSupport::TKilledWriter run = TestSupport::KillWhileWriting(
            stored, write, int(std::uniform_real_distribution<>(0, maxDelayUs)(random)));
        ASSERT_EQ(run.Failure, QByteArray()) << "round " << rounds;
        completed += run.Completed;
        maxDelayUs = std::clamp(run.Completed == 0  ? maxDelayUs * 1.25
                                : run.Completed > 2 ? maxDelayUs * 0.8
                                                    : maxDelayUs,
                                500.0, 200000.0);
        const int returned = stored + run.Completed;
        ASSERT_EQ(ErrorOf([] { Read(u"First"_s, {}); }), "<no error>"_L1) << "round " << rounds;
        for (int i = 0; i < returned; ++i)
            ASSERT_EQ(Read(name(i), RegValue::FromInteger(-1)).AsInteger(), i) << "round " << rounds;
        // The write it was killed in is there or not; none after it.
        stored = returned + (Read(name(returned), RegValue::FromInteger(-1)).AsInteger() == returned);
        ASSERT_EQ(Read(name(stored), RegValue::FromInteger(-1)).AsInteger(), -1) << "round " << rounds;
        if (run.Completed > 0) {
            for (const QString &leftover : waiting)
                EXPECT_FALSE(QFile::exists(QFile::decodeName(RegFolder()) + u'/' + leftover))
                    << "round " << rounds << ": " << leftover.toStdString() << " outlived a write";
            waiting.clear();
        }
        QStringList stray = TestSupport::BackdateLeftovers(RegFolder(), "HKEY_CURRENT_USER.reg", run.Pid, &backdated);
        // Leftovers of earlier writers stay until a later writer finishes a write.
        for (const QString &earlier : waiting)
            stray.removeAll(earlier);
        ASSERT_EQ(stray, QStringList()) << "round " << rounds;
        waiting = TestSupport::OtherEntries(RegFolder(), "HKEY_CURRENT_USER.reg");
    }
    const TestSupport::TChildRun last = TestSupport::RunInChild([&] { return write(stored); });
    EXPECT_EQ(last.Report, QByteArray());
    EXPECT_EQ(TestSupport::OtherEntries(RegFolder(), "HKEY_CURRENT_USER.reg"), QStringList());
    EXPECT_EQ(Read(u"First"_s, RegValue::FromInteger(-1)).AsInteger(), 1);
    std::printf("registry: %d rounds killed, %d writes returned and kept, %d leftovers removed\n", rounds, completed,
                backdated);
    EXPECT_GT(completed, rounds / 2) << "the kills came before most writes could finish";
}

TEST_F(RegStoreFile, ALinkedFileStaysALink)
{
    const QByteArray target = Dir.FilePath("dotfiles.reg");
    TestSupport::WriteFileBytes(target, "REGEDIT4\n");
    QDir().mkpath(QFile::decodeName(RegFolder()));
    ASSERT_EQ(::symlink(target.constData(), RegFile().constData()), 0);

    Write(u"MainWidth"_s, RegValue::FromInteger(600));
    EXPECT_TRUE(QFileInfo(QFile::decodeName(RegFile())).isSymLink());
    EXPECT_TRUE(TestSupport::ReadFileBytes(target).contains("\"MainWidth\"=dword:00000258"));
}

// A full disk, at the write of the new file or at its sync: the write says so and the file keeps
// every byte.
TEST_F(RegStoreFile, AFullDiskIsNamedAndTheFileKeepsEveryByte)
{
    Seed("\"MainWidth\"=dword:00000258\n");
    const QByteArray before = FileText();
    for (const bool syncFails : {false, true}) {
        SCOPED_TRACE(syncFails ? "the sync fails" : "the write fails");
        QProcess writer;
        writer.setProcessEnvironment(TestSupport::FullDiskEnvironment(
            TestSupport::BuiltProgram("tests/libdn_fulldisk.so"), syncFails ? nullptr : "0", syncFails));
        writer.start(TestSupport::BuiltProgram("tests/dn_regwriter"), {u"Full"_s, u"1"_s});
        ASSERT_TRUE(writer.waitForFinished(30000));
        EXPECT_EQ(writer.exitCode(), 1);
        EXPECT_EQ(writer.readAllStandardError(), "Unable to write to " + RegFile() + ": No space left on device\n");
        EXPECT_EQ(FileText(), before);
        EXPECT_EQ(TestSupport::OtherEntries(RegFolder(), "HKEY_CURRENT_USER.reg"), QStringList());
    }
}

class RegStoreWriters : public TRegTest, public ::testing::WithParamInterface<int> {};

TEST_P(RegStoreWriters, ProcessesWritingAtOnceKeepEveryValue)
{
    const int writerCount = GetParam();
    constexpr int count = 100;
    std::vector<std::unique_ptr<QProcess>> writers;
    QStringList prefixes;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < writerCount; ++i) {
        prefixes << u"Writer"_s + QString::number(i) + u'_';
        auto &writer = writers.emplace_back(std::make_unique<QProcess>());
        // The children see this test's own folders, including its configuration folder.
        writer->setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        writer->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        writer->start(TestSupport::BuiltProgram("tests/dn_regwriter"), {prefixes.last(), QString::number(count)});
    }
    for (const auto &writer : writers) {
        ASSERT_TRUE(writer->waitForFinished(100000));
        EXPECT_EQ(writer->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(writer->exitCode(), 0);
    }
    std::printf("%d writers, %d values each: %lld ms\n", writerCount, count, static_cast<long long>(timer.elapsed()));

    int present = 0;
    for (const QString &prefix : prefixes)
        for (int n = 0; n < count; ++n)
            present += Read(prefix + QString::number(n), RegValue::FromInteger(-1)).AsInteger() == n;
    EXPECT_EQ(present, writerCount * count);
}

INSTANTIATE_TEST_SUITE_P(TwoAndFour, RegStoreWriters, ::testing::Values(2, 4));

TEST_F(RegStoreFile, AWriteThatFailsSaysWhatFailedThoughTheKeyExists)
{
    const bool root = ::geteuid() == 0;
    struct TCase {
        const char *Name;
        std::function<void()> Spoil;
        QString Reason;
        bool Readable;
    };
    const TCase cases[] = {
        {"file that may not be written",
         [&] {
             if (!root) // the superuser writes as another user instead
                 QFile::setPermissions(QFile::decodeName(RegFile()), QFile::ReadOwner | QFile::ReadOther);
         },
         u"Permission denied"_s, true},
        {"FIFO",
         [&] {
             ::unlink(RegFile().constData());
             ::mkfifo(RegFile().constData(), 0644);
         },
         u"it is not a regular file"_s, false},
        {"folder",
         [&] {
             ::unlink(RegFile().constData());
             ::mkdir(RegFile().constData(), 0755);
         },
         u"it is not a regular file"_s, false},
        {"file over 256 MiB", [&] { ::truncate(RegFile().constData(), (256LL << 20) + 1); }, // sparse
         u"it is larger than 256 MiB"_s, false},
    };
    ::chmod(Dir.Path().constData(), 0755); // another user must reach the file
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        ::unlink(RegFile().constData());
        ::rmdir(RegFile().constData());
        Seed("\"MainWidth\"=dword:00000258\n");
        c.Spoil();
        const TestSupport::TChildRun run = TestSupport::RunInChild(
            [&]() -> QByteArray {
                QByteArray problems;
                if (Read(u"MainWidth"_s, RegValue::FromInteger(1)).AsInteger() != (c.Readable ? 600 : 1))
                    problems += "read; ";
                const QString error = ErrorOf([] { Write(u"MainWidth"_s, RegValue::FromInteger(2)); });
                if (error != "Unable to write to "_L1 + QFile::decodeName(RegFile()) + ": "_L1 + c.Reason)
                    problems += error.toUtf8();
                return problems;
            },
            20000, root &&c.Readable ? std::optional(TestSupport::TUserIds{}) : std::nullopt);
        EXPECT_TRUE(run.Finished) << "hangs";
        EXPECT_EQ(run.Report.toStdString(), "");
    }
}

TEST_F(RegStoreFile, AWriteSyncsTheFolderThatHoldsTheNewName)
{
    Write(u"MainWidth"_s, RegValue::FromInteger(600));
    struct stat st;
    ASSERT_EQ(::stat(RegFolder().constData(), &st), 0);
    gWatchedFolder = st.st_ino;
    gFolderSyncs = 0;
    Write(u"MainWidth"_s, RegValue::FromInteger(601));
    EXPECT_GE(gFolderSyncs, 1);
    gWatchedFolder = 0;
    EXPECT_EQ(Read(u"MainWidth"_s, RegValue::FromInteger(1)).AsInteger(), 601);
}
