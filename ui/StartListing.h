// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/ListingController.h"

#include <QByteArray>
#include <QByteArrayList>

#include <chrono>
#include <future>
#include <memory>

class TDescriptionIndex;

// The first listing of a start, read on a thread of its own while the splash and the window are
// built: the index is opened (made, at a first start), then the start folder is listed with it
// as the window lists a folder, pruning included. The window takes both once it is built.
class TStartListing {
public:
    struct TResult {
        std::unique_ptr<TDescriptionIndex> Index; // null without one
        TListingController::TStarted Listing;     // its Folder empty when none was listed
    };

    // The folder listed is the one a start with these arguments (without the program's name)
    // shows, unless only the program's own folder would name it. DIRNOTE_NO_INDEX=1: no index.
    // Destroyed untaken, it waits for the work begun (as its future does).
    explicit TStartListing(const QByteArrayList &arguments);

    // Waits for the work and hands it over; once. Raises what opening the index raised.
    TResult Take();
    // Whether the work has ended, without waiting for it.
    bool Done() const { return FWork.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }

private:
    std::future<TResult> FWork;
};
