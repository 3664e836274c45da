// SPDX-License-Identifier: GPL-3.0-or-later
// The listing's state machine driven without the window: steps that record what they were asked.
#include "common/Exceptions.h"
#include "ui/BusyWait.h"
#include "ui/ListingController.h"

#include "TestSupport.h"

#include <QApplication>
#include <QCoreApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>

namespace {
class TRecordedSteps : public TListingSteps {
public:
    QByteArrayList Steps;
    // Runs while the folder is read (as a timer or a hand-off would, from the busy wait's loop).
    std::function<void()> WhileReading;
    std::function<void(TFolderCatalogue &)> Fill;
    bool ImportAnswer = false;
    std::array<TListedRows, 2> Shown;

    void BeginListing() override { Steps << QByteArray("begin"); }
    void ReadListing(TBusyWait &busy, const QByteArray &folder, const std::shared_ptr<TFolderCatalogue> &catalogue,
                     const TOwnWrite &) override
    {
        Steps << "read " + folder;
        busy.Run([&] {
            catalogue->Folder = folder + '/';
            catalogue->DescPath = catalogue->Folder + "Folder.dnt";
            if (Fill)
                Fill(*catalogue);
        });
        if (WhileReading)
            std::exchange(WhileReading, nullptr)();
    }
    std::array<TListedRows, 2> ShowEntries(const std::shared_ptr<TFolderCatalogue> &catalogue) override
    {
        Steps << QByteArray("show");
        return std::exchange(Shown,
                             {TListedRows(catalogue, &catalogue->Folders), TListedRows(catalogue, &catalogue->Files)});
    }
    void ShowListed(const std::shared_ptr<TFolderCatalogue> &) override { Steps << QByteArray("listed"); }
    void EndListing() override { Steps << QByteArray("end"); }
    bool OfferImport(const std::shared_ptr<const TFolderCatalogue> &) override
    {
        Steps << QByteArray("offer");
        return std::exchange(ImportAnswer, false);
    }
    void CloseWindow() override { Steps << QByteArray("close"); }
};

class ListingControllerTest : public ::testing::Test {
protected:
    TestSupport::TTempDir Dir;
    QWidget Window;
    TRecordedSteps Steps;
    TListingController Controller{&Window, Steps};
    QByteArrayList Reads() const
    {
        QByteArrayList reads;
        for (const QByteArray &step : Steps.Steps)
            if (step.startsWith("read "))
                reads << step;
        return reads;
    }
    QByteArray Read(const char *name) const { return "read " + Dir.FilePath(name); }
};
} // namespace

TEST_F(ListingControllerTest, AListingTakesItsStepsInOrderAndOffersTheImportOnce)
{
    Dir.MakeDir("a");
    Steps.ImportAnswer = true; // imported: the folder is listed again, without another offer
    ASSERT_TRUE(Controller.LoadFolder(Dir.FilePath("a")));
    const QByteArray read = Read("a");
    EXPECT_EQ(Steps.Steps, QByteArrayList({"begin", read, "show", "listed", "end", "offer", "begin", read, "show",
                                           "listed", "end"}));
    EXPECT_FALSE(Controller.Listing());
}

TEST_F(ListingControllerTest, NoStepIsTakenForAPathThatIsNoFolder)
{
    const QByteArray file = Dir.WriteFile("file", "x");
    for (const QByteArray &path : {QByteArray(), Dir.FilePath("missing"), file})
        EXPECT_FALSE(Controller.LoadFolder(path)) << path.constData();
    EXPECT_TRUE(Steps.Steps.isEmpty());
}

TEST_F(ListingControllerTest, AListingAndACloseAskedForDuringAListingFollowItFromTheEventLoop)
{
    Dir.MakeDir("a");
    Dir.MakeDir("b");
    Steps.WhileReading = [this] {
        EXPECT_TRUE(Controller.Listing());
        EXPECT_EQ(Controller.ListingFolder(), Dir.FilePath("a") + '/');
        // Accepted, but not listed inside this listing.
        EXPECT_TRUE(Controller.LoadFolder(Dir.FilePath("b")));
        Controller.CloseAfterListing();
    };
    ASSERT_TRUE(Controller.LoadFolder(Dir.FilePath("a")));
    EXPECT_EQ(Reads(), QByteArrayList({Read("a")}));
    EXPECT_FALSE(Controller.Listing());
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(Reads(), QByteArrayList({Read("a"), Read("b")}));
    EXPECT_TRUE(Steps.Steps.contains("close"));
}

TEST_F(ListingControllerTest, AFolderListedInPartIsShownAndThenReportedAndTheTablesComeBack)
{
    Dir.MakeDir("a");
    Steps.Fill = [](TFolderCatalogue &catalogue) {
        catalogue.Error = QStringLiteral("Unable to list the folder");
        catalogue.Files.push_back({"kept", ""});
    };
    std::shared_ptr<TFolderCatalogue> catalogue;
    EXPECT_THROW(Controller.ListFolder(Dir.FilePath("a"), catalogue), TException);
    EXPECT_EQ(Steps.Steps.mid(2), QByteArrayList({"show", "listed", "end"}));
    ASSERT_TRUE(catalogue);
    EXPECT_EQ(catalogue->Files.size(), 1u);
    EXPECT_FALSE(Controller.Listing());
}
