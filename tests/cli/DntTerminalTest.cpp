// SPDX-License-Identifier: GPL-3.0-or-later
// Text from files on a person's terminal (escaped) and in scripts' output (exact): names and
// descriptions holding control sequences, and names that are not UTF-8 in JSON.

#include "DntRun.h"

#include "TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace TestSupport;

namespace {
// Whether the bytes hold what a terminal would act on: a C0 control other than a line end, DEL,
// or a C1 control (U+0080 to U+009F as UTF-8).
bool HasControl(const QByteArray &bytes)
{
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if ((b < 0x20 && b != '\n' && b != '\r') || b == 0x7F)
            return true;
        if (b == 0xC2 && i + 1 < bytes.size() && static_cast<unsigned char>(bytes[i + 1]) < 0xA0
            && static_cast<unsigned char>(bytes[i + 1]) >= 0x80)
            return true;
    }
    return false;
}

QString Shown(const TDntRun &run)
{
    return QStringLiteral("exit %1\nout: %2\nerr: %3")
        .arg(run.Code)
        .arg(QString::fromLatin1(run.Out.toPercentEncoding(" \n/:|,\"[]{}")),
             QString::fromLatin1(run.Err.toPercentEncoding(" \n/:|,\"[]{}")));
}

// A control sequence that clears the screen, one that sets the window title, and the one-byte
// CSI of C1.
const QByteArray kClear = "\x1b[2J", kTitle = "\x1b]0;owned\x07",
                 kCsi = "\xC2\x9B"
                        "31m";
} // namespace

TEST(DntTerminal, TextFromFilesIsEscapedOnATerminalAndInMessagesButExactInAPipe)
{
    TTempDir dir;
    const QByteArray evil = "evil" + kClear + ".txt";
    dir.WriteFile(evil, "x");
    dir.WriteFile("title.txt", "x");
    dir.WriteFile("plain.txt", "x");
    // A name that cannot be a key: importing it is refused with a message naming it.
    const QByteArray refused = "[x" + kClear + ".txt";
    dir.WriteFile(refused, "x");
    const QByteArray storedTitle = "Hello" + kTitle + " world";
    dir.WriteFile("Folder.dnt", "[Files]\r\n" + evil + "=Evil " + kCsi + "\r\ntitle.txt=" + storedTitle + "\r\n");
    dir.WriteFile("descript.ion", evil + " Clears" + kClear + " the screen\r\nplain.txt Sets" + kTitle
                                      + " the title\r\n\"" + refused + "\" Refused\r\n");
    const QString path = Arg(dir.Path()), evilPath = Arg(dir.FilePath(evil)),
                  titlePath = Arg(dir.FilePath("title.txt"));

    const std::vector<QStringList> commands{
        {QStringLiteral("get"), titlePath},
        {QStringLiteral("get"), evilPath, titlePath},
        {QStringLiteral("ls"), path},
        {QStringLiteral("ls"), path, QStringLiteral("--json")},
        {QStringLiteral("export"), path, QStringLiteral("--format"), QStringLiteral("md")},
        {QStringLiteral("export"), path, QStringLiteral("--format"), QStringLiteral("csv")},
        {QStringLiteral("export"), path, QStringLiteral("--format"), QStringLiteral("json")},
        {QStringLiteral("import"), path, QStringLiteral("--from"), QStringLiteral("descript.ion"),
         QStringLiteral("--overwrite"), QStringLiteral("--dry-run")},
    };
    for (const QStringList &args : commands) {
        const TDntRun run = DntOnTerminal(args);
        SCOPED_TRACE(args.join(u' ').toStdString());
        SCOPED_TRACE(Shown(run).toStdString());
        EXPECT_FALSE(run.Out.isEmpty());
        EXPECT_FALSE(HasControl(run.Out));
        EXPECT_FALSE(HasControl(run.Err));
        EXPECT_NE(run.Code, -1);
    }
    EXPECT_EQ(DntOnTerminal({QStringLiteral("get"), titlePath}).Out, "Hello?]0;owned? world\n");
    EXPECT_TRUE(DntOnTerminal({QStringLiteral("get"), evilPath, titlePath})
                    .Out.startsWith(dir.FilePath("evil?[2J.txt: Evil ?31m\n")));

    // Into a pipe, get gives a script the stored bytes.
    EXPECT_EQ(Dnt({QStringLiteral("get"), titlePath}).Out, storedTitle + '\n');

    // The report of an import is for a person wherever it goes, and so is standard error.
    const TDntRun import = Dnt(
        {QStringLiteral("import"), path, QStringLiteral("--from"), QStringLiteral("descript.ion")});
    SCOPED_TRACE(Shown(import).toStdString());
    EXPECT_EQ(import.Code, 1);
    EXPECT_TRUE(import.Out.contains("set " + dir.FilePath("plain.txt") + ": Sets?]0;owned? the title\n"));
    EXPECT_TRUE(import.Err.contains(dir.FilePath("[x?[2J.txt") + ": "));
    EXPECT_FALSE(HasControl(import.Out));
    EXPECT_FALSE(HasControl(import.Err));
    // What is stored keeps its bytes.
    EXPECT_EQ(Dnt({QStringLiteral("get"), Arg(dir.FilePath("plain.txt"))}).Out, "Sets" + kTitle + " the title\n");
}

TEST(DntJson, NamesThatAreNotUtf8ComeBackByteForByte)
{
    TTempDir dir;
    const QByteArray latin1 = "caf\xE9.txt", folder = "d\xFF";
    dir.WriteFile(latin1, "x");
    dir.WriteFile("utf8 \xC3\xA9.txt", "x");
    dir.MakeDir(folder);
    dir.WriteFile(folder + "/in.txt", "x");
    dir.WriteFile("Folder.dnt", "[Files]\r\n" + latin1 + "=Latin-1 name\r\nutf8 \xC3\xA9.txt=UTF-8 name\r\n");
    dir.WriteFile(folder + "/Folder.dnt", "[Files]\r\nin.txt=Inside\r\n");
    // The temporary folder's removal goes through Qt's names, which cannot hold these.
    struct TRemove {
        const TTempDir &Dir;
        ~TRemove()
        {
            for (const char *file : {"caf\xE9.txt", "d\xFF/in.txt", "d\xFF/Folder.dnt"})
                ::unlink(Dir.FilePath(file).constData());
            ::rmdir(Dir.FilePath("d\xFF").constData());
        }
    } remove{dir};

    // Each object by the bytes its fields give back: "name" where it is exact, else the base64.
    auto bytesOf = [](const QJsonObject &object, const QString &field) {
        const QJsonValue base64 = object[field + QStringLiteral("_base64")];
        return base64.isUndefined() ? object[field].toString().toUtf8()
                                    : QByteArray::fromBase64(base64.toString().toLatin1());
    };
    const TDntRun ls = Dnt({QStringLiteral("ls"), Arg(dir.Path()), QStringLiteral("--json")});
    ASSERT_EQ(ls.Code, 0) << ls.Err.toStdString();
    std::map<QByteArray, QString> listed;
    for (const QJsonValue &value : QJsonDocument::fromJson(ls.Out).array())
        listed[bytesOf(value.toObject(), QStringLiteral("name"))] =
            value.toObject()[QStringLiteral("description")].toString();
    EXPECT_EQ(listed, (std::map<QByteArray, QString>{{folder, QString()},
                                                     {latin1, QStringLiteral("Latin-1 name")},
                                                     {"utf8 \xC3\xA9.txt", QStringLiteral("UTF-8 name")}}));
    // A name that JSON holds as it is gets no second field.
    EXPECT_FALSE(ls.Out.contains("\"name_base64\": \"" + QByteArray("utf8 \xC3\xA9.txt").toBase64()));

    const TDntRun json = Dnt({QStringLiteral("export"), Arg(dir.Path()), QStringLiteral("--recursive"),
                              QStringLiteral("--format"), QStringLiteral("json")});
    ASSERT_EQ(json.Code, 0) << json.Err.toStdString();
    std::map<QByteArray, QString> exported;
    for (const QJsonValue &f : QJsonDocument::fromJson(json.Out).object()[QStringLiteral("folders")].toArray())
        for (const QJsonValue &e : f.toObject()[QStringLiteral("entries")].toArray())
            exported[bytesOf(f.toObject(), QStringLiteral("folder")) + bytesOf(e.toObject(), QStringLiteral("name"))] =
                e.toObject()[QStringLiteral("description")].toString();
    EXPECT_EQ(exported,
              (std::map<QByteArray, QString>{{dir.FilePath(latin1), QStringLiteral("Latin-1 name")},
                                             {dir.FilePath("utf8 \xC3\xA9.txt"), QStringLiteral("UTF-8 name")},
                                             {dir.FilePath(folder + "/in.txt"), QStringLiteral("Inside")}}));
}
