// SPDX-License-Identifier: GPL-3.0-or-later
#include "catalogue/DescriptionFile.h"
#include "catalogue/ProfileFile.h"
#include "common/Exceptions.h"
#include "common/TextCodec.h"

#include "ChildProcess.h"
#include "TestSupport.h"

#include <QDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace TestSupport;

namespace {
class ProfileFileTest : public ::testing::Test {
protected:
    QByteArray Make(const QByteArray &bytes) { return Dir.WriteFile("Folder.dnt", bytes); }
    QByteArray Path() const { return Dir.FilePath("Folder.dnt"); }
    QByteArray Bytes() const { return ReadFileBytes(Path()); }
    TTempDir Dir;
};

// Bytes of a literal, NULs included.
template <size_t N> QByteArray Raw(const char (&text)[N])
{
    return QByteArray(text, qsizetype(N - 1));
}
} // namespace

TEST_F(ProfileFileTest, DefaultContentIsTheTwentyOneLinesByteForByte)
{
    CreateDescriptionFile(Path());
    const QByteArray bytes = Bytes();
    const QList<QByteArray> lines = bytes.split('\n');
    ASSERT_EQ(lines.size(), 22); // 21 lines, each ended, nothing after the last line end
    EXPECT_TRUE(lines.last().isEmpty());
    for (int i = 0; i < 21; ++i)
        EXPECT_TRUE(lines[i].endsWith('\r')) << "line " << i + 1;
    EXPECT_TRUE(bytes.startsWith(";DO NOT CHANGE MANUALLY!\r\n;This file is a generated file by "
                                 "the \"DirNote\" program (DirNote.exe)!\r\n;"));
    EXPECT_TRUE(lines[4].startsWith(";mail:"));
    EXPECT_TRUE(bytes.endsWith("\r\n\r\n[ThisFolder]\r\n"
                               "Text0=Please test the software in its full contents before putting it in\r\n"
                               "Text1=here and also make sure that it's virus free, and last but not least\r\n"
                               "Text2=don't just put the software in here without checking for any older\r\n"
                               "Text3=or same version on CD's etc..\r\n"
                               "Text4=Use The Incoming folder for downloads and things you don't wan't to\r\n"
                               "Text5=descripe, but have in mind that they may be deleted very fast!!!.\r\n"
                               "Text6=\xA0\r\n"
                               "Text7=Thanks in advance\r\n"
                               "Text8=\xA0\x09"
                               "Administrator\r\n"
                               "\r\n[Folders]\r\n\r\n[Files]\r\n\r\n"));

    ProfileFile profile(Path());
    EXPECT_EQ(profile.ReadString("ThisFolder", "Text6"), QByteArray("\xA0"));
    EXPECT_EQ(profile.ReadString("thisfolder", "TEXT8"), QByteArray("\xA0\tAdministrator"));
    EXPECT_EQ(profile.ReadString("ThisFolder", "Text9"), QByteArray());
    EXPECT_EQ(profile.ReadSection("ThisFolder").size(), 9);

    // An existing file is never replaced by the default content.
    WriteFileBytes(Path(), "[Files]\r\na=b\r\n");
    CreateDescriptionFile(Path());
    EXPECT_EQ(Bytes(), QByteArray("[Files]\r\na=b\r\n"));
}

TEST_F(ProfileFileTest, ReadRulesTrimQuotesCaseDuplicatesAndLength)
{
    const QByteArray big(5000, 'x');
    Make("top=before any section\r\n"
         "[Files]\r\n"
         "  spaced  =  \"  quoted value  \"  \r\n"
         "single='v'\r\n"
         "nested=\"'v'\"\r\n"
         "mismatched=\"v'\r\n"
         "half=\"v\r\n"
         "comment=v ;not a comment\r\n"
         ";hidden=comment\r\n"
         "no equals sign\r\n"
         "dup=first\r\n"
         "DUP=second\r\n"
         "empty=\r\n"
         "big="
         + big
         + "\r\n"
           "\xC3\x89t\xC3\xA9.txt=accented\r\n"
           "[ files ]\r\n"
           "other=in the second section of that name\r\n");
    ProfileFile p(Path());
    EXPECT_EQ(p.ReadString("Files", "spaced"), QByteArray("  quoted value  "));
    EXPECT_EQ(p.ReadString("Files", "single"), QByteArray("v"));
    EXPECT_EQ(p.ReadString("Files", "nested"), QByteArray("'v'"));
    EXPECT_EQ(p.ReadString("Files", "mismatched"), QByteArray("\"v'"));
    EXPECT_EQ(p.ReadString("Files", "half"), QByteArray("\"v"));
    EXPECT_EQ(p.ReadString("Files", "comment"), QByteArray("v ;not a comment"));
    EXPECT_EQ(p.ReadString("Files", ";hidden"), QByteArray());
    EXPECT_EQ(p.ReadString("Files", "dup"), QByteArray("first"));
    EXPECT_EQ(p.ReadString("Files", "big").size(), 2047);
    EXPECT_EQ(p.ReadString("FILES", "\xC3\xA9T\xC3\x89.TXT"), QByteArray("accented"));
    EXPECT_EQ(p.ReadString("Files", "other"), QByteArray()); // only the first section is searched
    EXPECT_EQ(p.ReadString("Files", "top"), QByteArray());
    EXPECT_EQ(p.ReadString("Missing", "x"), QByteArray());
    EXPECT_EQ(p.ReadSection("Files"), (QList<QByteArray>{"spaced", "single", "nested", "mismatched", "half", "comment",
                                                         "dup", "DUP", "empty", "big", "\xC3\x89t\xC3\xA9.txt"}));
    ProfileFile absent(Dir.FilePath("nothing/Folder.dnt"));
    EXPECT_EQ(absent.ReadString("Files", "x"), QByteArray());
    EXPECT_TRUE(absent.ReadSection("Files").isEmpty());
}

TEST_F(ProfileFileTest, KeyListIsCutAtItsBuffer)
{
    QByteArray content = "[Folders]\r\n";
    // 1,000 keys of 20 bytes each (21 with the NUL) need 21,001 bytes: more than the buffer.
    for (int i = 0; i < 1000; ++i)
        content += QByteArray("key").append(QByteArray::number(i).rightJustified(17, '0')) + "=d\r\n";
    Make(content);
    ProfileFile p(Path());
    const QList<QByteArray> keys = p.ReadSection("Folders");
    // 16382 bytes: 780 whole names (16,380 bytes) and two bytes of the next one.
    ASSERT_EQ(keys.size(), 781);
    EXPECT_EQ(keys[779], QByteArray("key00000000000000779"));
    EXPECT_EQ(keys[780], QByteArray("ke"));
    // Every key can still be read by name.
    EXPECT_EQ(p.ReadString("Folders", "key00000000000000999"), QByteArray("d"));
}

TEST_F(ProfileFileTest, WritesReplaceInPlaceAppendAndKeepEveryOtherByte)
{
    const QByteArray head = "; comment \xA0 kept\r\nstray line before sections\n\r\n";
    Make(head
         + "[Folders]\r\nAlpha=old\r\nbeta=b\r\n; trailing comment\r\n\r\n"
           "[Files]\r\nx=1\r\n\r\n");
    {
        ProfileFile p(Path());
        p.WriteString("folders", "ALPHA", "new"); // replaced where it stands, stored case kept
        p.WriteString("Folders", "gamma", "g");   // after the last entry, before the comment
        p.WriteString("Other", "k", "v");         // new section at the end
    }
    EXPECT_EQ(Bytes(), head
                           + "[Folders]\r\nAlpha=new\r\nbeta=b\r\ngamma=g\r\n; trailing comment\r\n\r\n"
                             "[Files]\r\nx=1\r\n\r\n[Other]\r\nk=v\r\n");
    // A description with its own blanks is stored as given and read back trimmed.
    ProfileFile p(Path());
    p.WriteString("Files", "x", "  two spaces  ");
    EXPECT_TRUE(Bytes().contains("x=  two spaces  \r\n"));
    EXPECT_EQ(p.ReadString("Files", "x"), QByteArray("two spaces"));
    // A value longer than a read returns would come back cut: it never reaches the file.
    const QByteArray before = Bytes();
    EXPECT_THROW(p.WriteString("Files", "long", QByteArray(2048, 'v')), TException);
    EXPECT_EQ(Bytes(), before);
    const QByteArray longest(2047, 'v');
    p.WriteString("Files", "long", longest);
    EXPECT_EQ(p.ReadString("Files", "long"), longest);
}

TEST_F(ProfileFileTest, WritesIntoOddFiles)
{
    // Missing file: created with the section and the key.
    {
        ProfileFile p(Path());
        p.WriteString("Files", "a", "1");
    }
    EXPECT_EQ(Bytes(), QByteArray("[Files]\r\na=1\r\n"));
    // No final line end, LF-only lines: the file's own line end is used, nothing is glued.
    Make("[Files]\nz=1");
    {
        ProfileFile p(Path());
        p.WriteString("Files", "y", "2");
        p.WriteString("Folders", "d", "3");
    }
    EXPECT_EQ(Bytes(), QByteArray("[Files]\nz=1\ny=2\n[Folders]\nd=3\n"));
    // Lines ended by CR alone read as lines.
    Make("[Files]\rcr=only\r[Other]\rx=y");
    {
        ProfileFile p(Path());
        EXPECT_EQ(p.ReadString("Files", "cr"), QByteArray("only"));
        EXPECT_EQ(p.ReadString("Other", "x"), QByteArray("y"));
        p.WriteString("Files", "n", "1");
    }
    EXPECT_EQ(Bytes(), QByteArray("[Files]\rcr=only\rn=1\r[Other]\rx=y"));
    // NUL bytes and binary junk around the sections survive a write.
    const QByteArray junk("\x00\x01\xFF\xFE junk\x00\r\n", 12);
    Make(junk + "[Files]\r\nk=v\r\n" + junk);
    {
        ProfileFile p(Path());
        p.WriteString("Files", "k", "w");
    }
    EXPECT_EQ(Bytes(), junk + "[Files]\r\nk=w\r\n" + junk);
    // A line of megabytes reads without trouble.
    Make("[Files]\r\nhuge=" + QByteArray(4 << 20, 'h') + "\r\nafter=ok");
    ProfileFile p(Path());
    EXPECT_EQ(p.ReadString("Files", "after"), QByteArray("ok"));
    EXPECT_EQ(p.ReadString("Files", "huge").size(), 2047);
}

TEST_F(ProfileFileTest, DeleteAndEraseSection)
{
    Make("[ThisFolder]\r\nText0=a\r\n\r\n[Folders]\r\nold=x\r\n\r\n[Files]\r\nf=1\r\nF=dup\r\n");
    {
        ProfileFile p(Path());
        p.DeleteKey("Folders", "OLD");
        p.DeleteKey("Folders", "missing");
        EXPECT_TRUE(p.ReadSection("Folders").isEmpty()); // seen before it is written
        p.DeleteKey("Files", "f");
        EXPECT_EQ(p.ReadString("Files", "f"), QByteArray("dup"));
    }
    EXPECT_EQ(Bytes(), QByteArray("[ThisFolder]\r\nText0=a\r\n\r\n[Folders]\r\n\r\n[Files]\r\nF=dup\r\n"));
    {
        ProfileFile p(Path());
        p.EraseSection("thisfolder");
        p.WriteString("ThisFolder", "Text0", "b");
    }
    EXPECT_EQ(Bytes(), QByteArray("[Folders]\r\n\r\n[Files]\r\nF=dup\r\n[ThisFolder]\r\nText0=b\r\n"));
    // Erasing in a missing file creates nothing.
    ProfileFile none(Dir.FilePath("none.dnt"));
    none.EraseSection("ThisFolder");
    EXPECT_EQ(StampOf(Dir.FilePath("none.dnt")).Exists, false);
}

TEST_F(ProfileFileTest, UnsafeInputNeverReachesTheFile)
{
    const QByteArray original = "[Files]\r\nk=v\r\n";
    Make(original);
    ProfileFile p(Path());
    const std::pair<QByteArray, QByteArray> bad[] = {
        {"k", "line\r\nbreak"}, {"k", "lf\nonly"}, {"a=b", "v"}, {"[x", "v"}, {";x", "v"},
        {" lead", "v"},         {"trail\t", "v"},  {"", "v"},
    };
    for (const auto &[key, value] : bad) {
        try {
            p.WriteString("Files", key, value);
            ADD_FAILURE() << "accepted key " << key.constData();
        } catch (const TException &e) {
            EXPECT_TRUE(e.Message().startsWith(QStringLiteral("Unable to write to ")));
            EXPECT_TRUE(e.Message().contains(QString::fromUtf8(key.trimmed())) || key.trimmed().isEmpty());
        }
    }
    EXPECT_THROW(p.WriteString("Fi]les", "k", "v"), TException);
    EXPECT_EQ(Bytes(), original);
}

TEST_F(ProfileFileTest, FailedWritesReportThePathAndChangeNothing)
{
    const QByteArray folder = Dir.MakeDir("gone");
    const QByteArray path = folder + "/Folder.dnt";
    ProfileFile p(path);
    ::rmdir(folder.constData());
    try {
        p.WriteString("Files", "k", "v");
        FAIL() << "write into a vanished folder succeeded";
    } catch (const TException &e) {
        EXPECT_EQ(e.Message(),
                  QStringLiteral("Unable to write to %1: No such file or directory").arg(QString::fromUtf8(path)));
    }
    EXPECT_THROW(ProfileFile(QByteArray()).WriteString("Files", "k", "v"), TException);
    p.DeleteKey("Files", "k"); // failures of deletions are ignored
    p.UpdateFile();
}

// Written by an ordinary user (the superuser runs it as one): permissions do not stop the
// superuser. A read-only file is never written, whatever the folder allows.
TEST_F(ProfileFileTest, AReadOnlyFolderIsWrittenInPlaceOnlyWhenTheFileItselfIsWritable)
{
    struct TCase {
        const char *Name;
        mode_t FolderMode, FileMode;
        bool Written;
    };
    const TCase cases[] = {
        {"read-only folder, writable file", 0555, 0644, true},
        {"read-only folder, read-only file", 0555, 0444, false},
        {"writable folder, read-only file", 0755, 0444, false},
    };
    const bool root = ::geteuid() == 0;
    const QByteArray cache = Dir.MakeDir("cache"); // where a rewrite in place keeps the old text
    ::chmod(cache.constData(), 01777);
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        Make("[Files]\r\nk=v\r\n");
        if (root) {
            ASSERT_EQ(::chown(Path().constData(), 65534, 65534), 0);
            ASSERT_EQ(::chown(Dir.Path().constData(), 65534, 65534), 0);
        }
        ::chmod(Path().constData(), c.FileMode);
        ::chmod(Dir.Path().constData(), c.FolderMode);
        const auto write = [&]() -> QByteArray {
            qputenv("XDG_CACHE_HOME", cache);
            QByteArray problems;
            ProfileFile ro(Path());
            for (const bool erase : {false, true}) {
                try {
                    erase ? ro.EraseSection("Other") : ro.WriteString("Files", "k", "w");
                    if (!c.Written && !erase)
                        problems += "written; ";
                } catch (const TException &e) {
                    if (c.Written)
                        problems += "refused: " + e.Message().toUtf8() + "; ";
                    else if (e.Message().toUtf8() != "Unable to write to " + Path() + ": Permission denied")
                        problems += "said: " + e.Message().toUtf8() + "; ";
                }
            }
            return problems;
        };
        const TChildRun run = root ? RunInChild(write, 20000, TUserIds{}) : TChildRun{true, 0, write()};
        EXPECT_TRUE(run.Finished);
        EXPECT_EQ(run.Report, QByteArray());
        EXPECT_EQ(Bytes(), QByteArray(c.Written ? "[Files]\r\nk=w\r\n" : "[Files]\r\nk=v\r\n"));
        ::chmod(Dir.Path().constData(), 0755);
        ::chmod(Path().constData(), 0644);
    }
}

TEST_F(ProfileFileTest, WritesKeepPermissionsAndLeaveNoTemporaryFiles)
{
    Make("[Files]\r\n");
    ::chmod(Path().constData(), 0640);
    ProfileFile p(Path());
    p.WriteString("Files", "k", "v");
    struct stat st;
    ASSERT_EQ(::stat(Path().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(QDir(QString::fromUtf8(Dir.Path())).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("Folder.dnt")});
}

// A large file's replaced text is let go on another thread: each write still lands whole, every
// other byte kept, and no descriptor of a replaced file stays open.
TEST_F(ProfileFileTest, LargeFilesAreWrittenWholeAndLeaveNoReplacedFileOpen)
{
    const auto openDescriptors = [] {
        return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size();
    };
    QByteArray head = "[Files]\r\n", tail;
    for (int i = 0; head.size() < (3 << 20); ++i)
        head += "name " + QByteArray::number(i) + "=a description of some length\r\n";
    for (int i = 0; tail.size() < (3 << 20); ++i)
        tail += "other " + QByteArray::number(i) + "=a description of some length\r\n";
    Make(head + "middle=first\r\n" + tail);
    const qsizetype before = openDescriptors();
    for (int i = 0; i < 6; ++i) {
        ProfileFile p(Path());
        p.WriteString("Files", "middle", "changed " + QByteArray::number(i));
        ASSERT_EQ(Bytes(), head + "middle=changed " + QByteArray::number(i) + "\r\n" + tail);
    }
    for (int waited = 0; openDescriptors() > before && waited < 500; ++waited)
        ::usleep(10000);
    EXPECT_EQ(openDescriptors(), before);
}

TEST_F(ProfileFileTest, TwoProcessesWritingTheSameFileKeepEachOthersValues)
{
    CreateDescriptionFile(Path());
    constexpr int kEach = 200;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        if (children[c] == 0) {
            ProfileFile p(Path());
            for (int i = 0; i < kEach; ++i)
                p.WriteString("Files", "p" + QByteArray::number(c) + "_" + QByteArray::number(i), "v");
            ::_exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    ProfileFile p(Path());
    EXPECT_EQ(p.ReadSection("Files").size(), 2 * kEach);
    EXPECT_EQ(p.ReadSection("ThisFolder").size(), 9);
}

TEST_F(ProfileFileTest, LongNonAsciiValueIsCutToAWholeCharacter)
{
    const QByteArray a4 = "\xC3\xA4";
    const QByteArray utf8 = "AB" + a4.repeated(1024); // 2050 bytes: byte 2047 begins the 1023rd
    const QByteArray cp1252(3000, '\xE4');            // Windows-1252: every byte a character
    Make("[Files]\r\nutf8=" + utf8 + "\r\ncp1252=" + cp1252 + "\r\n");
    ProfileFile p(Path());
    const QByteArray read = p.ReadString("Files", "utf8");
    EXPECT_EQ(read, "AB" + a4.repeated(1022));
    EXPECT_EQ(DecodeText(read), QStringLiteral("AB") + QString(1022, QChar(0xE4)));
    EXPECT_EQ(p.ReadString("Files", "cp1252"), cp1252.left(2047));
}

TEST_F(ProfileFileTest, ByteOrderMarkBeforeTheFirstSectionIsSkippedAndKept)
{
    const QByteArray bom = "\xEF\xBB\xBF";
    Make(bom + "[Files]\r\na=1\r\nb=2\r\n[Folders]\r\nd=x\r\n");
    {
        ProfileFile p(Path());
        EXPECT_EQ(p.ReadString("Files", "a"), QByteArray("1"));
        EXPECT_EQ(p.ReadSection("Files"), (QList<QByteArray>{"a", "b"}));
        p.WriteString("Files", "c", "3");
        p.DeleteKey("Files", "a");
    }
    EXPECT_EQ(Bytes(), bom + "[Files]\r\nb=2\r\nc=3\r\n[Folders]\r\nd=x\r\n");
    {
        ProfileFile p(Path());
        p.EraseSection("Files");
    }
    EXPECT_EQ(Bytes(), bom + "[Folders]\r\nd=x\r\n");
    // A file holding only the mark gets its first section right after it.
    Make(bom);
    {
        ProfileFile p(Path());
        p.WriteString("Files", "k", "v");
    }
    EXPECT_EQ(Bytes(), bom + "[Files]\r\nk=v\r\n");
    // The mark in front of a value is part of the value.
    Make("[Files]\r\nk=" + bom + "text\r\n");
    EXPECT_EQ(ProfileFile(Path()).ReadString("Files", "k"), bom + "text");
}

TEST_F(ProfileFileTest, EditsKeepTheLineEndsOfEveryLineTheyDoNotTouch)
{
    enum TOp { Insert, Replace, Delete, Erase };
    const struct {
        const char *Name;
        QByteArray Before;
        TOp Op;
        QByteArray Key; // the section for Erase
        QByteArray After;
    } cases[] = {
        // Lone CR before an empty LF line: the new line must not glue the CR to that LF.
        {"insert, lone CR then empty LF line", "[Files]\ra=1\n\n;end\n", Insert, "b", "[Files]\ra=1\nb=2\r\n\n;end\n"},
        {"insert after a CRLF line in a CR file", "[Files]\ra=1\r\n;end\r", Insert, "b", "[Files]\ra=1\r\nb=2\r;end\r"},
        {"insert, CR-only file", "[Files]\ra=1\r;end\r", Insert, "b", "[Files]\ra=1\rb=2\r;end\r"},
        {"insert, LF file", "[Files]\na=1\n\n", Insert, "b", "[Files]\na=1\nb=2\n\n"},
        {"insert, mixed CRLF and LF", "[Files]\r\na=1\n\n", Insert, "b", "[Files]\r\na=1\nb=2\r\n\n"},
        {"insert, no final line end", "[Files]\na=1", Insert, "b", "[Files]\na=1\nb=2\n"},
        {"insert, new section after lone CR", "[Other]\rx=1\r", Insert, "b", "[Other]\rx=1\r[Files]\rb=2\r"},
        {"insert, new section after no line end", "[Other]\r\nx=1", Insert, "b",
         "[Other]\r\nx=1\r\n[Files]\r\nb=2\r\n"},
        {"replace beside lone CRs", "[Files]\ra=1\rb=2\n\n", Replace, "a", "[Files]\ra=2\rb=2\n\n"},
        {"replace, no final line end", "[Files]\r\na=1", Replace, "a", "[Files]\r\na=2"},
        {"replace, LF file", "[Files]\na=1\n\n", Replace, "a", "[Files]\na=2\n\n"},
        {"replace, CRLF file", "[Files]\r\na=1\r\n\r\n", Replace, "a", "[Files]\r\na=2\r\n\r\n"},
        {"insert, CRLF file", "[Files]\r\na=1\r\n\r\n", Insert, "b", "[Files]\r\na=1\r\nb=2\r\n\r\n"},
        // Deleting the line between a lone CR and an empty LF line: the CR gains an LF rather than
        // swallowing the empty line.
        {"delete between lone CR and empty LF line", "[Files]\ra=1\rb=2\n\n;end", Delete, "b",
         "[Files]\ra=1\r\n\n;end"},
        {"delete, lone CR line itself", "[Files]\ra=1\rb=2\n\n", Delete, "a", "[Files]\rb=2\n\n"},
        {"delete, CRLF", "[Files]\r\na=1\r\nb=2\r\n\r\n", Delete, "a", "[Files]\r\nb=2\r\n\r\n"},
        {"delete, LF", "[Files]\na=1\nb=2\n\n", Delete, "b", "[Files]\na=1\n\n"},
        {"delete the last line without line end", "[Files]\r\na=1\r\nb=2", Delete, "b", "[Files]\r\na=1\r\n"},
        {"erase between lone CRs", "[A]\ra=1\r[Files]\rb=1\r[C]\n\nc=1", Erase, "Files", "[A]\ra=1\r[C]\n\nc=1"},
        {"erase the last section, no line end", "[A]\na=1\n[Files]\nb=1", Erase, "Files", "[A]\na=1\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        Make(c.Before);
        {
            ProfileFile p(Path());
            switch (c.Op) {
            case Insert:
            case Replace: p.WriteString("Files", c.Key, "2"); break;
            case Delete: p.DeleteKey("Files", c.Key); break;
            case Erase: p.EraseSection(c.Key); break;
            }
        }
        EXPECT_EQ(Bytes(), c.After);
    }
    // Two deletions in a row between a lone CR and an empty LF line.
    Make("[Files]\rz=0\ra=1\nb=2\n\n;end");
    {
        ProfileFile p(Path());
        p.DeleteKey("Files", "a");
        p.DeleteKey("Files", "b");
    }
    EXPECT_EQ(Bytes(), QByteArray("[Files]\rz=0\r\n\n;end"));
}

TEST_F(ProfileFileTest, KeyListAtExactlyItsBuffer)
{
    // 16,383 bytes of names and their NULs plus the closing NUL: the list fills the buffer
    // exactly and every name comes whole. One byte more and the last name loses its last byte.
    auto sectionOf = [](qsizetype lastLength) {
        QByteArray content = "[Files]\r\n";
        QList<QByteArray> names;
        for (int i = 0; i < 819; ++i) { // 819 names of 19 bytes: 16,380 bytes with their NULs
            names.append("k" + QByteArray::number(i).rightJustified(18, '0'));
            content += names.last() + "=d\r\n";
        }
        names.append("L" + QByteArray(lastLength - 1, 'x'));
        content += names.last() + "=last\r\n";
        return std::pair{content, names};
    };
    {
        const auto [content, names] = sectionOf(2); // 16,380 + 3 + 1 = 16,384 bytes
        Make(content);
        EXPECT_EQ(ProfileFile(Path()).ReadSection("Files"), names);
    }
    {
        const auto [content, names] = sectionOf(3); // 16,385 bytes: 16,382 are returned
        Make(content);
        const QList<QByteArray> keys = ProfileFile(Path()).ReadSection("Files");
        ASSERT_EQ(keys.size(), names.size());
        EXPECT_EQ(keys.first(), names.first());
        EXPECT_EQ(keys.last(), QByteArray("Lx"));
    }
}

TEST_F(ProfileFileTest, LoneQuoteAndNulInValues)
{
    Make(Raw("[Files]\r\nquote=\"\r\nspaced=  '  \r\nempty=\"\"\r\nnul=be\0fore\r\nafter=ok\r\n"));
    ProfileFile p(Path());
    EXPECT_EQ(p.ReadString("Files", "quote"), QByteArray("\""));
    EXPECT_EQ(p.ReadString("Files", "spaced"), QByteArray("'"));
    EXPECT_EQ(p.ReadString("Files", "empty"), QByteArray());
    EXPECT_EQ(p.ReadString("Files", "nul"), QByteArray("be"));
    EXPECT_EQ(p.ReadString("Files", "after"), QByteArray("ok"));
    // A lone quote is written and read back as itself; a NUL never reaches the file.
    p.WriteString("Files", "new", "\"");
    EXPECT_EQ(p.ReadString("Files", "new"), QByteArray("\""));
    const QByteArray before = Bytes();
    EXPECT_THROW(p.WriteString("Files", "k", QByteArray("a\0b", 3)), TException);
    EXPECT_EQ(Bytes(), before);
}

TEST_F(ProfileFileTest, DamagedFilesAreReadAsFarAsTheyGoAndOnlyTheEditedLineChanges)
{
    const QByteArray binary = Raw("\x00\x01\x02\xFF\xFE\x80\x1A\x00");
    const QByteArray overlong(100000, 'o');
    const struct {
        const char *Name;
        QByteArray Bytes;
    } cases[] = {
        {"binary bytes and NULs between the lines",
         "[Files]\r\n" + binary + "\r\nk=v\r\n" + binary + "=x\r\nz=1\r\n" + binary},
        {"NUL inside a key and a section name", Raw("[Fi\0x]\r\n[Files]\r\nk\0q=v\r\nk=v\r\nz=1\r\n")},
        {"missing final line end", "[Files]\r\nk=v\r\nz=1"},
        {"LF-only lines", "[Files]\nk=v\nz=1\n"},
        {"overlong lines", "[Files]\r\n" + overlong + "\r\nk=v\r\nlong=" + overlong + "\r\nz=1\r\n"},
        {"a header without its closing bracket", "[Files\r\nk=v\r\nz=1\r\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        Make(c.Bytes);
        {
            ProfileFile p(Path());
            EXPECT_EQ(p.ReadString("Files", "k"), QByteArray("v"));
            EXPECT_EQ(p.ReadString("Files", "z"), QByteArray("1"));
            p.WriteString("Files", "k", "new");
        }
        // Only the value of k changed; every other byte is where it was.
        QByteArray expected = c.Bytes;
        const qsizetype at = expected.indexOf("\nk=v") + 3;
        expected.replace(at, 1, "new");
        EXPECT_EQ(Bytes(), expected);
        {
            ProfileFile p(Path());
            p.DeleteKey("Files", "k");
        }
        expected.remove(at - 2, expected.indexOf('\n', at) + 1 - (at - 2));
        EXPECT_EQ(Bytes(), expected);
    }
}

TEST_F(ProfileFileTest, WholeSectionIsReadAndReplacedInOneWrite)
{
    QByteArray content = "[ThisFolder]\r\n";
    QList<QByteArray> values;
    for (int i = 0; i < 2000; ++i) { // far beyond the key list's 16,384 bytes
        values.append("value " + QByteArray::number(i));
        content += "TextKeyOfTwentyBytes" + QByteArray::number(i) + "=  " + values.last() + "  \r\n";
    }
    content +=
        "textkeyoftwentybytes0=\"duplicate\"\r\n;comment\r\n[Files]\r\nk=v\r\n[thisfolder]\r\nx=second section\r\n";
    values.append("duplicate");
    Make(content);
    ProfileFile p(Path());
    EXPECT_EQ(p.ReadSectionValues("THISFOLDER"), values);
    EXPECT_TRUE(p.ReadSectionValues("Missing").isEmpty());

    // Every section of the name goes; the new one stands at the end.
    p.ReplaceSection("ThisFolder", {{"Text0", "a"}, {"Text1", "\xA0"}});
    EXPECT_EQ(Bytes(), QByteArray("[Files]\r\nk=v\r\n[ThisFolder]\r\nText0=a\r\nText1=\xA0\r\n"));
    // One entry that cannot be stored: nothing is written at all.
    EXPECT_THROW(p.ReplaceSection("ThisFolder", {{"Text0", "b"}, {"Text1", "line\nbreak"}}), TException);
    EXPECT_EQ(Bytes(), QByteArray("[Files]\r\nk=v\r\n[ThisFolder]\r\nText0=a\r\nText1=\xA0\r\n"));
    // A missing file is created with the section.
    ProfileFile fresh(Dir.FilePath("new.dnt"));
    fresh.ReplaceSection("ThisFolder", {{"Text0", "x"}});
    EXPECT_EQ(ReadFileBytes(Dir.FilePath("new.dnt")), QByteArray("[ThisFolder]\r\nText0=x\r\n"));
}
