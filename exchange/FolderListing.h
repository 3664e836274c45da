// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/FolderCatalogue.h"

#include <QByteArray>
#include <QString>

// A folder listed for a reader that changes nothing: no file is created and no key pruned.
struct TReadListing {
    // The entries as the window sorts them, with their descriptions while DescriptionError is
    // empty; Catalogue.Error says why the folder itself could not be listed whole.
    TFolderCatalogue Catalogue;
    // The folder's Folder.dnt exists but cannot be read (the user may not read it, it is larger
    // than 256 MiB): "Unable to read <path>: <reason>". The entries then have no descriptions,
    // which says nothing about what they have on disk.
    QString DescriptionError;
    // Listed whole and its descriptions read: an entry without a description has none.
    bool Whole() const { return Catalogue.Error.isEmpty() && DescriptionError.isEmpty(); }
    // The message for a listing that is not whole (the folder's error first).
    QString Problem() const { return Catalogue.Error.isEmpty() ? DescriptionError : Catalogue.Error; }
};

// Lists the folder and reads its descriptions; never raises for a description file it cannot
// read: its entries are still listed, so a walk of a tree goes on into its subfolders.
TReadListing ReadListing(const QByteArray &folder);
