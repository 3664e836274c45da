// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "catalogue/FolderCatalogue.h"

#include <QByteArray>

namespace TestSupport {
// The subfolders and files of a folder as a listing finds them, without their descriptions and
// without writing anything: what the enumeration keeps and drops, seen on its own.
inline void ScanFolder(const QByteArray &folder, TFolderCatalogue &catalogue, TDirectoryReader reader = ::readdir)
{
    ListFolderEntries(folder, catalogue, reader);
}
} // namespace TestSupport
