// SPDX-License-Identifier: GPL-3.0-or-later
// The search for the version resource in a module file: any bytes as an ELF or a PE file.

#include "FuzzSupport.h"

#include "about/ModuleResource.h"
#include "about/QorAboutVersion.h"
#include "about/VersionSection.h"
#include "common/Exceptions.h"

namespace {

void CheckFound(QByteArrayView file, const std::optional<QByteArray> &found)
{
    if (!found)
        return;
    Require(found->isEmpty() || file.indexOf(QByteArrayView(*found)) >= 0,
            "the resource found is not bytes of the file");
    QStringList lines;
    try {
        ParseVersionBlock(*found, lines);
    } catch (const TException &) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView file(reinterpret_cast<const char *>(data), qsizetype(size));
    CheckFound(file, FindElfSection(file, kVersionSectionName));
    CheckFound(file, FindPeResource(file, kRtVersion, 1));
    return 0;
}
