// SPDX-License-Identifier: GPL-3.0-or-later
// Writes <count> integer values named <prefix><n> under the program's key, as a second
// process would. Runs only in a test's own configuration folder.
#include "common/Exceptions.h"
#include "settings/RegSpecial.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 3 || qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME")) {
        std::fprintf(stderr, "usage: XDG_CONFIG_HOME=<folder> dn_regwriter <prefix> <count>\n");
        return 2;
    }
    const QString prefix = QString::fromLocal8Bit(argv[1]);
    const int count = std::atoi(argv[2]);
    try {
        for (int i = 0; i < count; ++i)
            WriteRegValue(HKEY_CURRENT_USER, DirNoteRegKey, prefix + QString::number(i), RegValue::FromInteger(i));
    } catch (const TException &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
