// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ListingController.h"

#include "common/ErrorReport.h"
#include "common/Exceptions.h"
#include "common/PathUtils.h"
#include "system/QorPrevInst.h"
#include "ui/BusyWait.h"
#include "ui/FolderWatch.h"

#include <QApplication>
#include <QScopeGuard>
#include <QTimer>
#include <QWidget>

#include <system_error>
#include <utility>

TListingController::TListingController(QWidget *window, TListingSteps &steps)
    : QObject(window), FWindow(window), FSteps(steps), FWatch(new TFolderWatch(window, this))
{
    connect(FWatch, &TFolderWatch::RelistDue, this, &TListingController::RelistDue);
}

TListingController::~TListingController()
{
    WaitReplacedListingFreed();
}

void TListingController::WaitReplacedListingFreed()
{
    if (FReplacedFreer.joinable())
        FReplacedFreer.join();
}

void TListingController::AbandonReplacedFreeing()
{
    if (FReplacedFreer.joinable())
        FReplacedFreer.detach();
}

bool TListingController::LoadFolder(const QByteArray &folder)
{
    std::shared_ptr<TFolderCatalogue> catalogue;
    if (!ListFolder(folder, catalogue))
        return false;
    // A folder described only by a descript.ion is offered its import once, after the listing
    // has ended (a listing asked for during one would only follow it).
    if (!catalogue || catalogue->DescPath.isEmpty())
        return true;
    if (FSteps.OfferImport(catalogue))
        return ListFolder(folder, catalogue);
    return true;
}

QByteArray TListingController::ListableFolder(const QByteArray &asked)
{
    // Whatever asks, the listed folder is absolute and clean, so its parent is always known.
    if (asked.isEmpty())
        return {};
    const QByteArray folder = AbsolutePath(asked, asked.startsWith('/') ? QByteArray() : WorkingFolder());
    return IsExistingFolder(folder) ? folder : QByteArray();
}

bool TListingController::ListFolder(const QByteArray &asked, std::shared_ptr<TFolderCatalogue> &catalogue,
                                    TFailure failure)
{
    const QByteArray folder = ListableFolder(asked);
    if (folder.isEmpty())
        return false;
    if (FListing) {
        // Asked for while a listing is read (by a timer): it follows that one.
        AfterListing([this, folder] { LoadFolder(folder); });
        return true;
    }
    // Listed on a worker thread while the window waits; it lives until the tables are filled.
    TBusyWait busy(FWindow);
    FSteps.BeginListing();
    const auto restore = qScopeGuard([this] { FSteps.EndListing(); });

    catalogue = std::make_shared<TFolderCatalogue>();
    FListingFolder = IncludeTrailingPathDelimiter(folder);
    FListing = true;
    const auto listingEnd = qScopeGuard([this] { ListingEnded(); });
    // Taken before the folder is read: what changes while it is read shows after it; what the
    // listing's own write changes does not.
    TFolderState seen;
    if (std::optional<TStarted> started = std::exchange(FStarted, std::nullopt);
        started && started->Folder == FListingFolder) {
        seen = started->Seen;
        catalogue = std::move(started->Catalogue);
        if (started->Error)
            std::rethrow_exception(started->Error);
    } else {
        seen = FolderStateOf(FListingFolder);
        FSteps.ReadListing(busy, folder, catalogue,
                           [&seen, watched = FListingFolder](const std::function<void()> &write) {
                               SeenPastOwnWrite(watched, seen, write);
                           });
    }
    if (!catalogue->Error.isEmpty() && failure == TFailure::KeepRows) {
        FWatch->Watch(FListingFolder, seen);
        throw TException(catalogue->Error);
    }
    FreeReplaced(FSteps.ShowEntries(catalogue));
    FWatch->Watch(FListingFolder, seen);
    FSteps.ShowListed(catalogue);
    // What could be listed is shown; the user learns that the folder was not listed whole.
    if (!catalogue->Error.isEmpty())
        throw TException(catalogue->Error);
    return true;
}

void TListingController::FreeReplaced(std::array<TListedRows, 2> replaced)
{
    // The listing replaced, when it was large, is freed on a thread of its own (as the index
    // updater may still hold it, the last holder frees it).
    if ((replaced[0] ? replaced[0]->size() : 0) + (replaced[1] ? replaced[1]->size() : 0) >= kFreeApartFrom) {
        WaitReplacedListingFreed();
        try {
            FReplacedFreer = std::thread([replaced = std::move(replaced)]() mutable { replaced = {}; });
        } catch (const std::system_error &) { // no thread to be had: freed here
        }
    }
    replaced = {};
}

void TListingController::ListingEnded()
{
    FListing = false;
    // From the event loop, once this listing has finished.
    if (std::function<void()> next = std::exchange(FAfterListing, nullptr))
        QTimer::singleShot(0, this, [next = std::move(next)] { ReportErrors(next); });
    if (std::exchange(FCloseAfterListing, false))
        QTimer::singleShot(0, this, [this] { FSteps.CloseWindow(); });
}

void TListingController::RelistDue(bool prune)
{
    // A listing being read is followed by one if the folder changed meanwhile (the watch
    // compares what it finds then with what the listing began from).
    if (FListing)
        return;
    // Not under a dialog of the window: its answer may be about the rows shown.
    if (QApplication::activeModalWidget()) {
        QTimer::singleShot(500, this, [this, prune] { RelistDue(prune); });
        return;
    }
    ReportErrors([&] { FSteps.Relist(prune); });
}
