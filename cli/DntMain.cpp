#include "DntCommands.h"
#include "common/ProcessMemory.h"

int main(int argc, char **argv)
{
    ReturnLargeBlocksToTheSystem();
    // Paths stay the system's bytes: they are not decoded through the locale.
    std::vector<QByteArray> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    return RunDnt(args);
}
