// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/FolderCatalogue.h"
#include "ui/FolderWatch.h"

#include <QByteArray>
#include <QByteArrayList>

#include <chrono>
#include <exception>
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
        QByteArray Folder;                        // the listed folder with its "/"; empty for none
        TFolderState Seen;                        // the folder as it was before it was read
        std::shared_ptr<TFolderCatalogue> Catalogue;
        std::exception_ptr Error; // what the listing raised
    };

    // The folder listed is the one a start with these arguments (without the program's name)
    // shows, unless only the program's own folder would name it. DIRNOTE_NO_INDEX=1: no index.
    explicit TStartListing(const QByteArrayList &arguments);
    ~TStartListing();
    TStartListing(const TStartListing &) = delete;
    TStartListing &operator=(const TStartListing &) = delete;

    // Waits for the work and hands it over; once. Raises what opening the index raised.
    TResult Take();
    // Whether the work has ended, without waiting for it.
    bool Done() const { return FWork.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }

private:
    std::future<TResult> FWork;
};
