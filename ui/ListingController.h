// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/FolderCatalogue.h"
#include "ui/FolderWatch.h"

#include <QByteArray>
#include <QObject>

#include <array>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

class QWidget;
class TBusyWait;

// The rows of one table that a listing replaced.
using TListedRows = std::shared_ptr<const std::vector<TCatalogueEntry>>;

// What a listing does to the window, step by step, in the order the controller takes them.
class TListingSteps {
public:
    virtual ~TListingSteps() = default;
    // Before the folder is read: the cursor moves to come commit nothing, no cell editor stays open.
    virtual void BeginListing() = 0;
    // Reads the folder into catalogue on busy's worker thread; the listing's write of the
    // description file goes through ownWrite, so that the watch does not take it for a change.
    virtual void ReadListing(TBusyWait &busy, const QByteArray &folder,
                             const std::shared_ptr<TFolderCatalogue> &catalogue, const TOwnWrite &ownWrite) = 0;
    // Fills the tables; returns the rows they showed before (folders, files).
    virtual std::array<TListedRows, 2> ShowEntries(const std::shared_ptr<TFolderCatalogue> &catalogue) = 0;
    // The listed folder becomes current: its title, its description file, the index, the cursors.
    virtual void ShowListed(const std::shared_ptr<TFolderCatalogue> &catalogue) = 0;
    // Whatever happened: each table has a current cell, is enabled exactly when it lists
    // entries, and gets its handlers back.
    virtual void EndListing() = 0;
    // The import of a descript.ion offered after a listing; true when it imported.
    virtual bool OfferImport(const std::shared_ptr<const TFolderCatalogue> &catalogue) = 0;
    // A close asked for while the listing was read, now that it has ended.
    virtual void CloseWindow() = 0;
    // Another program changed the listed folder: lists it again in place, pruning only when
    // prune is set (the folder has been quiet).
    virtual void Relist(bool prune) { (void)prune; }
};

// The listing's state machine: one listing at a time, read on a worker thread while the window
// waits; a listing or a close asked for meanwhile follows it from the event loop; the rows a large
// listing replaced are freed on a thread of their own.
class TListingController : public QObject {
    Q_OBJECT
public:
    TListingController(QWidget *window, TListingSteps &steps);
    ~TListingController() override;

    // Makes the folder current and offers the import of its descript.ion. False, and nothing
    // changed, for an empty path or one that is not an existing folder.
    bool LoadFolder(const QByteArray &folder);
    // What a listing that fails does to the rows: shows what could be listed (and raises the
    // error), or leaves the rows as they are (and raises the error) when nobody asked for it.
    enum class TFailure { ShowWhatWasListed, KeepRows };
    // LoadFolder without the import offer; fills `catalogue` unless the listing was deferred.
    bool ListFolder(const QByteArray &asked, std::shared_ptr<TFolderCatalogue> &catalogue,
                    TFailure failure = TFailure::ShowWhatWasListed);
    // Runs `then` from the event loop once the listing being read has ended, in place of what
    // was asked for meanwhile (the last asked wins).
    void AfterListing(std::function<void()> then) { FAfterListing = std::move(then); }

    // A listing is being read (the window waits for it in a local event loop).
    bool Listing() const { return FListing; }
    // The folder being read, with its trailing "/".
    const QByteArray &ListingFolder() const { return FListingFolder; }
    // The window closes once the listing being read has ended.
    void CloseAfterListing() { FCloseAfterListing = true; }
    // Waits until the listing that the last one replaced is freed.
    void WaitReplacedListingFreed();
    // At the window's close: a replaced listing still being freed is left to its thread.
    void AbandonReplacedFreeing();

    // Watches the listed folder; its writes go through OwnWrite so as not to count as changes.
    TFolderWatch *FolderWatch() const { return FWatch; }

    // Replaced rows of at least this many entries are freed apart.
    static constexpr size_t kFreeApartFrom = 10000;

    // The asked folder as a listing takes it: absolute and clean; empty when it is no folder.
    static QByteArray ListableFolder(const QByteArray &asked);
    // A listing read before the window was built (TStartListing): the first listing takes it in
    // place of reading the folder again when it lists the same folder, and it is dropped then.
    struct TStarted {
        QByteArray Folder; // with its trailing "/"
        TFolderState Seen;
        std::shared_ptr<TFolderCatalogue> Catalogue;
        std::exception_ptr Error;
    };
    void AdoptStarted(TStarted started) { FStarted = std::move(started); }

private:
    void FreeReplaced(std::array<TListedRows, 2> replaced);
    void ListingEnded();
    void RelistDue(bool prune);

    QWidget *FWindow;
    TListingSteps &FSteps;
    bool FListing = false;
    QByteArray FListingFolder;
    bool FCloseAfterListing = false;
    std::function<void()> FAfterListing; // what follows the listing being read, if anything
    TFolderWatch *FWatch;
    // Frees the rows of a large listing that another replaced (a million entries take a while).
    std::thread FReplacedFreer;
    std::optional<TStarted> FStarted;
};
