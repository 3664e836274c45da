// SPDX-License-Identifier: GPL-3.0-or-later
// Commits one description as the main window does, in a process of its own so that a test can
// give it another environment (a preloaded library): dn_dntwriter <Folder.dnt> <key> <value>.
// Prints the error and exits 1 when the write fails.
#include "catalogue/ProfileFile.h"
#include "common/Exceptions.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: dn_dntwriter <Folder.dnt> <key> <value>\n");
        return 2;
    }
    try {
        ProfileFile(argv[1]).WriteString("Files", argv[2], argv[3]);
    } catch (const TException &error) {
        std::printf("%s", error.what());
        return 1;
    }
    return 0;
}
