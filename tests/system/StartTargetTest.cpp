// SPDX-License-Identifier: GPL-3.0-or-later
// What a start and a hand-off list: the folder, and for a file path the row of that file.

#include "common/PathUtils.h"
#include "system/StartTarget.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace TestSupport;

namespace {
std::string Shown(const TStartTarget &target)
{
    return "{" + target.Folder.toStdString() + ", " + target.FileName.toStdString() + "}";
}
} // namespace

TEST(StartTarget, FolderOrFileOrDescriptionFileOrTheCurrentDirectory)
{
    TTempDir dir;
    const QByteArray sub = dir.MakeDir("Sub");
    const QByteArray file = dir.WriteFile("a.txt", "x");
    dir.WriteFile("Sub/-x \"y\" 'z'\n", "x");
    dir.WriteFile("Sub/\xff\xfe name ", "x");
    ASSERT_EQ(::symlink("nowhere", dir.FilePath("dangling").constData()), 0);
    ASSERT_EQ(::symlink("Sub", dir.FilePath("linked").constData()), 0);
    const QByteArray cwd = dir.Path();
    const QByteArray program = "/opt/dirnote/bin/dirnote";
    const struct {
        QByteArrayList Arguments;
        QByteArray CurrentDir;
        TStartTarget Expected;
    } cases[] = {
        {{sub + "/folder.DNT"}, cwd, {sub + '/', {}}},                 // a description file's folder
        {{sub + "/FOLDER.dnt", file}, cwd, {sub + '/', {}}},           // only the first argument counts
        {{cwd + "/missing/Folder.dnt"}, cwd, {cwd + "/missing/", {}}}, // listed if it exists: it does not
        {{"Folder.dnt"}, cwd, {cwd + '/', {}}},                        // the current directory's file
        {{sub}, cwd, {sub, {}}},                                       // an existing folder
        {{sub + '/'}, cwd, {sub, {}}},
        {{"linked"}, cwd, {cwd + "/linked", {}}}, // a link to a folder is that folder
        {{"Sub"}, cwd, {sub, {}}},                // relative paths: absolute and clean, against the current directory
        {{".//Sub/../Sub/./"}, cwd, {sub, {}}},
        {{"./sub/FOLDER.DNT"}, cwd, {cwd + "/sub/", {}}},
        {{"../" + ExtractFileName(cwd) + "/Sub"}, cwd, {sub, {}}},
        {{cwd + "/missing"}, cwd, {cwd, {}}},     // a missing entry
        {{file, sub}, cwd, {cwd + '/', "a.txt"}}, // a file: its folder, with the cursor on it
        {{"a.txt"}, cwd, {cwd + '/', "a.txt"}},
        {{"dangling"}, cwd, {cwd + '/', "dangling"}},                 // listed among the files, so it has a row
        {{"Sub/-x \"y\" 'z'\n"}, cwd, {sub + '/', "-x \"y\" 'z'\n"}}, // any byte of a name is kept
        {{"Sub/\xff\xfe name "}, cwd, {sub + '/', "\xff\xfe name "}},
        {{}, cwd, {cwd, {}}},                          // no argument
        {{}, QByteArray(), {"/opt/dirnote/bin/", {}}}, // no current directory
    };
    for (const auto &c : cases)
        EXPECT_EQ(StartTarget(c.Arguments, c.CurrentDir, program), c.Expected)
            << c.Arguments.join(' ').constData() << " in " << c.CurrentDir.constData() << " gave "
            << Shown(StartTarget(c.Arguments, c.CurrentDir, program));
    // The temporary folder's removal goes by text: it cannot name this one.
    ::unlink((sub + "/\xff\xfe name ").constData());
}

TEST(StartTarget, AHandedOverTextIsResolvedAsAStartIs)
{
    TTempDir dir;
    const QByteArray sub = dir.MakeDir("Sub");
    const QByteArray file = dir.WriteFile("Sub/a b\n", "x");
    const struct {
        QByteArray Text;
        TStartTarget Expected;
    } cases[] = {
        {sub, {sub, {}}}, // an existing folder itself
        {sub + '/', {sub + '/', {}}},
        {sub + "/folder.DNT", {sub + '/', {}}}, // the folder of a description file
        {file, {sub + '/', "a b\n"}},           // a file's folder, with its row
        {sub + "/missing", {sub + '/', {}}},    // otherwise the path part
        {"Folder.dnt", {}},
        {"nothing here", {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(HandedOverTarget(c.Text), c.Expected)
            << c.Text.constData() << " gave " << Shown(HandedOverTarget(c.Text));
}

TEST(StartTarget, OptionsEndAtADoubleDashAndOnlyAFirstHelpAsksForHelp)
{
    EXPECT_EQ(PathArguments({"--", "--help"}), QByteArrayList{"--help"});
    EXPECT_EQ(PathArguments({"--", "--"}), QByteArrayList{"--"});
    EXPECT_EQ(PathArguments({"-x", "--"}), (QByteArrayList{"-x", "--"}));
    EXPECT_EQ(PathArguments({}), QByteArrayList{});
    EXPECT_TRUE(AsksForHelp({"--help"}));
    EXPECT_TRUE(AsksForHelp({"-h", "x"}));
    EXPECT_FALSE(AsksForHelp({"--", "--help"}));
    EXPECT_FALSE(AsksForHelp({"/tmp/--help"}));
    EXPECT_FALSE(AsksForHelp({}));
}
