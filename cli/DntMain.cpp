// SPDX-License-Identifier: GPL-3.0-or-later
#include "DntCommands.h"
#include "TerminalText.h"

#include "common/Exceptions.h"
#include "common/ProcessMemory.h"
#include "settings/RegSpecial.h"

#include <cstdio>
#include <exception>

int main(int argc, char **argv)
{
    // Nothing that goes wrong ends the process with an abort: it is reported, and dnt exits 1.
    try {
        ReturnLargeBlocksToTheSystem();
        // dnt reads the window's settings where the window keeps them.
        RegProgramKey = DirNoteRegKey;
        // Paths stay the system's bytes: they are not decoded through the locale.
        std::vector<QByteArray> args;
        for (int i = 1; i < argc; ++i)
            args.emplace_back(argv[i]);
        return RunDnt(args);
    } catch (const TException &error) {
        std::fprintf(stderr, "dnt: %s\n", TerminalText(error.Message().toUtf8()).constData());
    } catch (const std::exception &error) {
        std::fprintf(stderr, "dnt: %s\n", TerminalText(QByteArray(error.what())).constData());
    } catch (...) {
        std::fputs("dnt: an unexpected error ended the command\n", stderr);
    }
    std::fflush(stdout);
    return kExitError;
}
