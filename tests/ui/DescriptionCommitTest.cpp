// SPDX-License-Identifier: GPL-3.0-or-later
// The commit rules driven on two tables without the window, for both tables.
#include "catalogue/DescriptionFile.h"
#include "ui/DescriptionCommit.h"
#include "ui/StringGrid.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {
class DescriptionCommitTest : public ::testing::TestWithParam<bool> {
protected:
    TestSupport::TTempDir Dir;
    TStringGrid Folders, Files;
    TDescriptionCommit Commit{&Folders, &Files, [this] { return TCommitPlace{Dir.FilePath("Folder.dnt"), nullptr}; }};
    TStringGrid &Grid() { return GetParam() ? Folders : Files; }
    QByteArray Section() const { return GetParam() ? "[Folders]" : "[Files]"; }
    QByteArray File() const { return TestSupport::ReadFileBytes(Dir.FilePath("Folder.dnt")); }

    void SetUp() override
    {
        Dir.WriteFile("Folder.dnt", "[Folders]\r\n[Files]\r\n");
        for (TStringGrid *grid : {&Folders, &Files}) {
            grid->GridModel()->SetEntries(std::make_shared<const std::vector<TCatalogueEntry>>(
                std::vector<TCatalogueEntry>{{"one", ""}, {"two", "kept"}}));
            grid->SetCurrentCell(TStringGridModel::ColDesc, 0);
        }
    }
};
} // namespace

TEST_P(DescriptionCommitTest, LeavingARowWritesItsTextOnceAndAnEmptiedCellShowsTheStoredTextAgain)
{
    TStringGridModel *model = Grid().GridModel();
    model->SetDescription(0, QStringLiteral("typed"));
    // Moving within the row writes nothing; leaving it does.
    EXPECT_TRUE(Commit.SelectCell(&Grid(), 1, 0));
    EXPECT_EQ(File(), QByteArray("[Folders]\r\n[Files]\r\n"));
    EXPECT_FALSE(Commit.SelectCell(&Grid(), 0, 1)); // the name column never takes the cursor
    const QByteArray written = File();
    const qsizetype at = written.indexOf("one=typed");
    ASSERT_GE(at, 0) << written.constData();
    EXPECT_GT(at, written.indexOf(Section()));
    EXPECT_EQ(written.count("one="), 1);

    // Unchanged: nothing written; emptied: the stored text comes back and the file stays.
    Commit.Exit(&Grid());
    Grid().SetCurrentCell(TStringGridModel::ColDesc, 1);
    model->SetDescription(1, QString());
    Commit.Exit(&Grid());
    EXPECT_EQ(model->Description(1), QStringLiteral("kept"));
    EXPECT_EQ(File(), written);
}

TEST_P(DescriptionCommitTest, APendingCommitIsTheTableThatHadTheFocusLast)
{
    Grid().GridModel()->SetDescription(0, QStringLiteral("pending"));
    Commit.CommitPending(); // no table had the focus yet
    EXPECT_EQ(File(), QByteArray("[Folders]\r\n[Files]\r\n"));
    TStringGrid &other = GetParam() ? Files : Folders;
    Commit.FocusChanged(&Grid());
    Commit.FocusChanged(nullptr); // a button or another program: the table keeps its role
    Commit.CommitPending();
    EXPECT_TRUE(File().contains("one=pending"));
    EXPECT_EQ(Commit.LastGrid(), &Grid());
    Commit.FocusChanged(&other);
    EXPECT_EQ(Commit.LastGrid(), &other);
}

INSTANTIATE_TEST_SUITE_P(BothTables, DescriptionCommitTest, ::testing::Bool(),
                         [](const auto &param) { return param.param ? "Folders" : "Files"; });
