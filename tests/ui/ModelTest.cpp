// SPDX-License-Identifier: GPL-3.0-or-later
// Each model the window's views show, checked by Qt's model tester while it is filled, changed
// and cleared: a view reading a model that breaks the rules shows stale or wrong rows, or crashes.
// The tester ends the process with its finding (fatal mode), which fails the test.
#include "catalogue/FolderCatalogue.h"
#include "index/DescriptionIndex.h"
#include "ui/IndexSearch.h"
#include "ui/PrunedDescriptions.h"
#include "ui/StringGrid.h"

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {
using TTester = QAbstractItemModelTester;

std::shared_ptr<const std::vector<TCatalogueEntry>> Entries(std::initializer_list<TCatalogueEntry> entries)
{
    return std::make_shared<const std::vector<TCatalogueEntry>>(entries);
}
} // namespace

TEST(ModelTest, TheTableModelKeepsTheRulesWhileFilledEditedFilteredAndCleared)
{
    TStringGridModel model;
    TTester tester(&model, TTester::FailureReportingMode::Fatal);
    model.Clear();
    EXPECT_EQ(model.rowCount(), 1); // an empty table has its one empty row
    model.SetEntries(Entries({{"b.txt", "old"}, {"c\xff.bin", ""}, {"a", ""}}));
    ASSERT_EQ(model.rowCount(), 3);
    model.SetDescription(1, QStringLiteral("typed"));
    EXPECT_TRUE(model.setData(model.index(2, TStringGridModel::ColDesc), QStringLiteral("edited"), Qt::EditRole));
    model.SetStored(1, QStringLiteral("typed"), "typed");
    model.SetUndescribedOnly(true);
    model.SetUndescribedOnly(false);
    // A listing with fewer rows replaces the rows, then a listing with none.
    model.SetEntries(Entries({{"only", ""}}));
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.Name(0), QByteArray("only"));
    model.SetEntries(Entries({}));
    EXPECT_EQ(model.rowCount(), 1);
    model.SetEntries(Entries({{"x", "y"}, {"z", ""}}));
    model.Clear();
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_TRUE(model.Name(0).isEmpty());
}

TEST(ModelTest, TheSearchHitsModelKeepsTheRulesWhileFilledReplacedAndCleared)
{
    TSearchResultModel model;
    TTester tester(&model, TTester::FailureReportingMode::Fatal);
    auto hit = [](const char *folder, const char *name, bool isFolder) {
        return TIndexHit{folder, name, isFolder, QStringLiteral("a text"), QStringLiteral("a \x01text\x02")};
    };
    model.SetHits({hit("/data/", "one", false), hit("/data/", "Sub", true), hit("/other/", "two", false)});
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.data(model.index(1, TSearchResultModel::ColName), Qt::DisplayRole).toString(),
              QStringLiteral("Sub/"));
    model.SetHits({hit("/data/", "three", false)});
    EXPECT_EQ(model.rowCount(), 1);
    model.SetHits({});
    EXPECT_EQ(model.rowCount(), 0);
}

TEST(ModelTest, ThePrunedListKeepsTheRulesWhileItsRowsAreRestoredUntilNoneIsLeft)
{
    const QDateTime when = QDateTime::currentDateTimeUtc();
    std::vector<TPrunedDescription> pruned = {{1, "/data/", "a.txt", false, "first", when},
                                              {2, "/data/", "Sub", true, "second", when},
                                              {3, "/data/", "b.txt", false, "third", when}};
    TFrmPrunedDescriptions dialog(pruned, {{"a.txt", false}, {"Sub", true}});
    TTester tester(dialog.ListPruned->model(), TTester::FailureReportingMode::Fatal);
    ASSERT_EQ(dialog.ListPruned->topLevelItemCount(), 3);
    dialog.OnRestore = [](const TPrunedDescription &, const TRestoreTarget &) { return true; };
    for (int left = 3; left > 0; --left) {
        dialog.SelectPruned(left - 1);
        dialog.SelectTarget(0);
        dialog.RestoreClick();
        EXPECT_EQ(dialog.ListPruned->topLevelItemCount(), left - 1);
        EXPECT_EQ(dialog.Listed().size(), size_t(left - 1));
    }
}
