// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/FolderListing.h"

#include "catalogue/DescriptionFile.h"
#include "catalogue/NameOrder.h"
#include "common/AtomicFile.h"
#include "common/Exceptions.h"
#include "common/PathUtils.h"
#include "common/TextCodec.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Why an existing description file cannot be read; 0 when it can, or when there is none to read
// (absent, or no regular file, which reads as absent everywhere).
int DescriptionFileError(const QByteArray &descPath)
{
    // The listing's own reader takes any failure to open for "no descriptions": asked here
    // again, without reading the file.
    const int fd = ::open(descPath.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR || errno == EISDIR || errno == ENXIO ? 0 : errno;
    struct stat st;
    int error = 0;
    if (::fstat(fd, &st) != 0)
        error = errno;
    else if (S_ISREG(st.st_mode) && st.st_size > kMaxFileSize)
        error = EFBIG;
    ::close(fd);
    return error;
}

QString ReadError(const QByteArray &descPath, int error)
{
    return QStringLiteral("Unable to read %1: %2").arg(DecodeName(descPath), FileErrorText(error));
}

} // namespace

TReadListing ReadListing(const QByteArray &folder)
{
    TReadListing listing;
    if (const int error = DescriptionFileError(IncludeTrailingPathDelimiter(folder) + kDescFileName)) {
        listing.Catalogue.Folder = IncludeTrailingPathDelimiter(folder);
        listing.Catalogue.DescPath = listing.Catalogue.Folder + kDescFileName;
        ListFolderEntries(listing.Catalogue.Folder, listing.Catalogue);
        // A folder that cannot be entered cannot open its description file either: one message.
        if (listing.Catalogue.Error.isEmpty())
            listing.DescriptionError = ReadError(listing.Catalogue.DescPath, error);
        return listing;
    }
    try {
        listing.Catalogue = ListAndPruneFolder(folder, {.Stale = TStaleKeys::Keep});
    } catch (const TException &e) {
        // The file grew past the limit since it was looked at.
        listing = {};
        listing.Catalogue.Folder = IncludeTrailingPathDelimiter(folder);
        listing.Catalogue.DescPath = listing.Catalogue.Folder + kDescFileName;
        ListFolderEntries(listing.Catalogue.Folder, listing.Catalogue);
        listing.DescriptionError = e.Message();
    }
    return listing;
}
