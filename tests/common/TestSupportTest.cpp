// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

using namespace TestSupport;
using ::testing::HasSubstr;

namespace {
// The message a helper throws, or "" when it does not throw.
std::string ThrownBy(const std::function<void()> &call)
{
    try {
        call();
    } catch (const std::runtime_error &e) {
        return e.what();
    }
    return {};
}
} // namespace

// A test that reads a file which is not there must fail, naming it, rather than go on with empty
// bytes and pass without testing anything.
TEST(TestSupport, AFileThatCannotBeReadFailsNamingIt)
{
    TTempDir dir;
    const QByteArray missing = dir.FilePath("missing.bin");
    EXPECT_THAT(ThrownBy([&] { ReadFileBytes(missing); }), HasSubstr(missing.toStdString()));
    EXPECT_THAT(ThrownBy([&] { ReadFileBytes(dir.Path()); }), HasSubstr(dir.Path().toStdString()));
    EXPECT_THAT(ThrownBy([&] { WriteFileBytes(missing + "/x", "y"); }), HasSubstr(missing.toStdString()));
    EXPECT_THAT(ThrownBy([&] { dir.MakeDir("no/such"); }), HasSubstr("no/such"));
    EXPECT_THAT(ThrownBy([&] { FixturePath("version/missing.bin"); }),
                HasSubstr((FixturesDir() + "/version/missing.bin").toStdString()));
    EXPECT_THAT(ThrownBy([&] { FixturePath("version"); }), HasSubstr("not a regular file"));

    // An empty file is no failure, and a folder made twice is still there.
    EXPECT_EQ(ReadFileBytes(dir.WriteFile("empty", QByteArray())), QByteArray());
    EXPECT_EQ(dir.MakeDir("twice"), dir.MakeDir("twice"));
}

// The repository carries every test file it needs: a clone tests on its own.
TEST(TestSupport, TheVersionFixturesAreInTheRepository)
{
    for (const char *name : {"README.md", "standard.bin", "standard.rc", "standard.txt", "dupkeys.bin", "dupkeys.rc",
                             "dupkeys.txt", "varfirst.bin", "varfirst.rc", "varfirst.txt", "tiny-with-version.exe",
                             "tiny-with-version.exe.txt", "tiny-without-version.exe", "tiny-without-version.exe.txt"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(FixturePath(QByteArray("version/") + name).startsWith(SourceDir() + "/tests/data/"));
    }
}
