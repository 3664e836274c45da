// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/AppTitle.h"
#include "common/Exceptions.h"
#include "common/PathUtils.h"
#include "common/RegisteredMessages.h"
#include "common/StringList.h"
#include "common/TextCodec.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>

TEST(PathParts, SplitAtTheLastSlash)
{
    EXPECT_EQ(ExtractFilePath(QByteArray("/data/sub/Folder.dnt")), QByteArray("/data/sub/"));
    EXPECT_EQ(ExtractFileName(QByteArray("/data/sub/Folder.dnt")), QByteArray("Folder.dnt"));
    EXPECT_EQ(ExtractFilePath(QByteArray("/data/sub/")), QByteArray("/data/sub/"));
    EXPECT_EQ(ExtractFileName(QByteArray("/data/sub/")), QByteArray());
    EXPECT_EQ(ExtractFilePath(QByteArray("Folder.dnt")), QByteArray());
    EXPECT_EQ(ExtractFileName(QByteArray("Folder.dnt")), QByteArray("Folder.dnt"));
    EXPECT_EQ(ExtractFilePath(QStringLiteral("/")), QStringLiteral("/"));
    EXPECT_EQ(IncludeTrailingPathDelimiter(QByteArray("/a")), QByteArray("/a/"));
    EXPECT_EQ(IncludeTrailingPathDelimiter(QByteArray("/a/")), QByteArray("/a/"));
    EXPECT_EQ(AsciiUpper(QByteArray("folder.Dnt\xe9")), QByteArray("FOLDER.DNT\xe9"));
}

TEST(PathParts, DeleteFileRemovesAFileByItsBytesAndNeverAFolder)
{
    const TestSupport::TTempDir dir;
    auto exists = [](const QByteArray &path) {
        struct stat info {};
        return ::lstat(path.constData(), &info) == 0;
    };
    // A name that is no text is deleted all the same.
    for (const QByteArray &name : {QByteArray("plain.txt"), QByteArray("caf\xe9 \xff.bin")}) {
        const QByteArray file = dir.WriteFile(name, "x");
        EXPECT_TRUE(DeleteFile(file)) << name.constData();
        EXPECT_FALSE(exists(file)) << name.constData();
    }
    const QByteArray folder = dir.MakeDir("sub");
    EXPECT_FALSE(DeleteFile(folder));
    EXPECT_TRUE(exists(folder));
    errno = 0;
    EXPECT_FALSE(DeleteFile(dir.FilePath("missing")));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(DeleteFile({}));
}

TEST(StringListLookups, FirstLineWinsAndCaseIsIgnored)
{
    const QStringList list = {QStringLiteral("HTTP=first"), QStringLiteral("http=second"), QStringLiteral("Empty="),
                              QStringLiteral("a=b=c"), QStringLiteral("noequals")};
    EXPECT_EQ(ValueOfName(list, QStringLiteral("Http")), QStringLiteral("first"));
    EXPECT_EQ(IndexOfName(list, QStringLiteral("empty")), 2);
    EXPECT_EQ(ValueOfName(list, QStringLiteral("A")), QStringLiteral("b=c"));
    EXPECT_EQ(IndexOfName(list, QStringLiteral("noequals")), -1);
    EXPECT_EQ(IndexOfName(list, QStringLiteral("missing")), -1);
}

TEST(ApplicationTitle, DerivedFromTheExecutableUntilSet)
{
    EXPECT_EQ(DefaultApplicationTitle(QStringLiteral("C/prog/DirNote.exe")), QStringLiteral("Dirnote"));
    EXPECT_EQ(DefaultApplicationTitle(QStringLiteral("/usr/bin/dirnote")), QStringLiteral("dirnote"));
    EXPECT_EQ(DefaultApplicationTitle(QStringLiteral("/x/MY.prog.v2")), QStringLiteral("My"));
    EXPECT_FALSE(ApplicationTitle().isEmpty());
    SetApplicationTitle(QStringLiteral("DirNote"));
    EXPECT_EQ(ApplicationTitle(), QStringLiteral("DirNote"));
}

TEST(TextCodec, Utf8WhenValidElseWindows1252)
{
    EXPECT_EQ(DecodeText(QByteArray("caf\xc3\xa9")), QStringLiteral("caf\u00e9"));
    // The default content's no-break space and a Windows-1252 euro sign.
    EXPECT_EQ(DecodeText(QByteArray("\xa0\tAdministrator")), QStringLiteral("\u00a0\tAdministrator"));
    EXPECT_EQ(DecodeText(QByteArray("\x80 \x9f \xe9")), QStringLiteral("\u20ac \u0178 \u00e9"));
    EXPECT_EQ(EncodeText(QStringLiteral("\u00e9\u20ac")), QByteArray("\xc3\xa9\xe2\x82\xac"));
    EXPECT_TRUE(IsValidUtf8(QByteArray("plain")));
    EXPECT_FALSE(IsValidUtf8(QByteArray("\xc3")));
    EXPECT_EQ(DecodeName(EncodeName(QStringLiteral("r\u00e9sum\u00e9.txt"))), QStringLiteral("r\u00e9sum\u00e9.txt"));
}

TEST(TextCodec, StoredUtf8RoundTripsByteForByte)
{
    // Every valid UTF-8 value reads as text that encodes back to the same bytes, a leading
    // U+FEFF (a byte-order mark inside a value) included; anything else reads as Windows-1252.
    const QByteArray utf8Values[] = {
        "\xef\xbb\xbf"
        "abc",
        "\xef\xbb\xbf",
        "\xef\xbb\xbf\xef\xbb\xbf"
        "x",
        "x\xef\xbb\xbf",
        "caf\xc3\xa9",
        "\xc2\xa0",
        "\xf0\x9f\x98\x80",
        "",
    };
    for (const QByteArray &bytes : utf8Values) {
        SCOPED_TRACE(bytes.toHex().constData());
        EXPECT_TRUE(IsValidUtf8(bytes));
        EXPECT_EQ(EncodeText(DecodeText(bytes)), bytes);
    }
    EXPECT_EQ(DecodeText(QByteArray("\xef\xbb\xbf"
                                    "abc")),
              QStringLiteral("\ufeffabc"));
    // A byte-order mark followed by invalid bytes is Windows-1252 text as a whole.
    EXPECT_EQ(DecodeText(QByteArray("\xef\xbb\xbf\xe9")), QStringLiteral("\u00ef\u00bb\u00bf\u00e9"));
    for (const QByteArray &bytes : {QByteArray("\xed\xa0\x80"), QByteArray("\xc0\xaf"), QByteArray("a\xc3")})
        EXPECT_FALSE(IsValidUtf8(bytes)) << bytes.toHex().constData();
}

TEST(TextCodec, CutBackToAWholeCharacterOnlyInUtf8)
{
    const QByteArray a4 = "\xc3\xa4";            // two bytes
    const QByteArray euro = "\xe2\x82\xac";      // three bytes
    const QByteArray smile = "\xf0\x9f\x98\x80"; // four bytes
    const struct {
        QByteArray Bytes;
        qsizetype Max;
        QByteArray Expected;
    } cases[] = {
        {"AB" + a4.repeated(1024), 2047, "AB" + a4.repeated(1022)}, // cut inside the 1023rd
        {"A" + a4.repeated(1024), 2047, "A" + a4.repeated(1023)},   // the cut falls between two
        {"ab" + euro + euro, 4, "ab"},
        {"ab" + euro + euro, 5, "ab" + euro},
        {"ab" + euro + euro, 7, "ab" + euro},
        {smile + smile, 7, smile},
        {smile + smile, 3, ""},
        {smile, 0, ""},
        {"short", 2047, "short"},
        // Not UTF-8: cut where the limit says, every byte a character of its own.
        {QByteArray(3000, '\xe4'), 2047, QByteArray(2047, '\xe4')},
        {"\xe4" + a4 + "\xe4", 2, "\xe4\xc3"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Bytes.left(16).toHex().constData());
        EXPECT_EQ(CutToWholeCharacters(c.Bytes, c.Max), c.Expected);
    }
}

TEST(RegisteredMessages, SameNameSameTypeWhateverTheCase)
{
    const QEvent::Type a = RegisterWindowMessage(QStringLiteral("sc_SplashAction"));
    EXPECT_EQ(RegisterWindowMessage(QStringLiteral("SC_SPLASHACTION")), a);
    EXPECT_NE(RegisterWindowMessage(QStringLiteral("sc_SplashTitle")), a);
    EXPECT_GE(int(a), int(QEvent::User));
}

TEST(OSError, CarriesTheCodeAndTheSystemText)
{
    const TOSError error(ENAMETOOLONG);
    EXPECT_TRUE(error.Message().startsWith(QStringLiteral("System Error.  Code: 36.\n")));
    EXPECT_GT(error.Message().size(), 26);
}
