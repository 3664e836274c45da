// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/StartListing.h"

#include "common/PathUtils.h"
#include "index/DescriptionIndex.h"
#include "system/QorPrevInst.h"
#include "system/StartTarget.h"

#include <QtGlobal>

TStartListing::TStartListing(const QByteArrayList &arguments)
{
    // The program's path is left out: a start that knows no other folder lists from the window.
    const QByteArray folder = TListingController::ListableFolder(StartTarget(arguments, WorkingFolder(), {}).Folder);
    // Without a thread to be had, the work is done when it is taken.
    FWork = std::async(std::launch::async | std::launch::deferred, [folder] {
        TResult result;
        if (qEnvironmentVariableIntValue("DIRNOTE_NO_INDEX") != 1)
            result.Index = std::make_unique<TDescriptionIndex>();
        if (folder.isEmpty())
            return result;
        TListingController::TStarted &listing = result.Listing;
        listing.Folder = IncludeTrailingPathDelimiter(folder);
        listing.Seen = FolderStateOf(listing.Folder);
        const TListingOptions options{.Follower = result.Index.get(),
                                      .Stale = TStaleKeys::Prune,
                                      .OwnWrite = [&listing](const std::function<void()> &write) {
                                          SeenPastOwnWrite(listing.Folder, listing.Seen, write);
                                      }};
        try {
            listing.Catalogue = std::make_shared<TFolderCatalogue>(ListAndPruneFolder(folder, options));
        } catch (...) {
            listing.Error = std::current_exception();
        }
        return result;
    });
}

TStartListing::TResult TStartListing::Take()
{
    return FWork.get();
}
