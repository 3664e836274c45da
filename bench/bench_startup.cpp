// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up time of the real program: from the process's start until its main window is mapped
// on the display, listing a folder of 1,000 entries, against a bare Qt window program of the
// same size measured in the same run. Needs an X display (run it under xvfb-run).
//
// Usage: bench_startup [DIRNOTE [BARE_WINDOW [RUNS]]]
// Prints each program's median and its ratio to the bare window's; a bare window with one line
// of text shows how much of the difference is the font set-up any text needs, and one that shows
// what the main window shows, built from Qt's own parts (with and without a splash first), how
// much any program that shows it pays.

#include "bench_window.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;
using namespace BenchWindow;

// A folder of 1,000 entries, half of them described.
fs::path MakeFolder(const fs::path &root)
{
    const fs::path folder = root / "entries";
    fs::create_directories(folder);
    std::ofstream desc(folder / "Folder.dnt", std::ios::binary);
    desc << "[Folders]\r\n";
    for (int i = 0; i < 100; ++i) {
        const std::string name = "folder " + std::to_string(i);
        fs::create_directory(folder / name);
        if (i % 2 == 0)
            desc << name << "=Description of " << name << "\r\n";
    }
    desc << "\r\n[Files]\r\n";
    for (int i = 0; i < 900; ++i) {
        const std::string name = "file " + std::to_string(i) + ".txt";
        std::ofstream(folder / name) << i;
        if (i % 2 == 0)
            desc << name << "=Description of " << name << "\r\n";
    }
    return folder;
}

// Starts the program with private user folders and returns the milliseconds until a top-level
// window of the main window's size is mapped; ends the program afterwards.
double TimeToWindow(xcb_connection_t *connection, const std::string &program, const std::vector<std::string> &arguments,
                    const fs::path &home, int run)
{
    // Each run has a runtime folder of its own: no socket of an ended run is left to check.
    std::vector<std::string> environment = PrivateEnvironment(home, home / ("runtime-" + std::to_string(run)));
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const auto start = TClock::now();
    const pid_t pid = Spawn(std::move(argv), std::move(environment));
    double elapsed = -1;
    if (WaitMainWindow(connection))
        elapsed = std::chrono::duration<double, std::milli>(TClock::now() - start).count();
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return elapsed;
}
} // namespace

int main(int argc, char **argv)
{
    const fs::path here = fs::canonical("/proc/self/exe").parent_path();
    const std::string dirnote = argc > 1 ? argv[1] : (here.parent_path() / "dirnote").string();
    const std::string bare = argc > 2 ? argv[2] : (here / "bench_bare_window").string();
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 15;

    xcb_connection_t *connection = ConnectDisplay();

    char pattern[] = "/tmp/bench_startup-XXXXXX";
    const fs::path root = mkdtemp(pattern);
    const fs::path folder = MakeFolder(root);

    // The same program with the splash turned off in its settings, to show the splash's share.
    const fs::path quiet = root / "quiet";
    WriteSplashOff(quiet / "config");

    std::vector<double> bareTimes, textTimes, tablesTimes, splashTablesTimes, dirnoteTimes, quietTimes;
    // One untimed run of each warms the file cache.
    TimeToWindow(connection, bare, {}, root, 0);
    TimeToWindow(connection, bare, {"--text"}, root, 0);
    TimeToWindow(connection, bare, {"--tables"}, root, 0);
    TimeToWindow(connection, bare, {"--tables", "--splash"}, root, 0);
    TimeToWindow(connection, dirnote, {folder.string()}, root, 0);
    TimeToWindow(connection, dirnote, {folder.string()}, quiet, 0);
    for (int run = 1; run <= runs; ++run) {
        bareTimes.push_back(TimeToWindow(connection, bare, {}, root, run));
        textTimes.push_back(TimeToWindow(connection, bare, {"--text"}, root, run));
        tablesTimes.push_back(TimeToWindow(connection, bare, {"--tables"}, root, run));
        splashTablesTimes.push_back(TimeToWindow(connection, bare, {"--tables", "--splash"}, root, run));
        dirnoteTimes.push_back(TimeToWindow(connection, dirnote, {folder.string()}, root, run));
        quietTimes.push_back(TimeToWindow(connection, dirnote, {folder.string()}, quiet, run));
    }
    const double bareMedian = Median(bareTimes);
    const double dirnoteMedian = Median(dirnoteTimes);
    const double quietMedian = Median(quietTimes);
    const double textMedian = Median(textTimes);
    const double tablesMedian = Median(tablesTimes);
    const double splashTablesMedian = Median(splashTablesTimes);
    std::printf("bare Qt window                   median %7.1f ms over %d runs\n", bareMedian, runs);
    std::printf("bare Qt window with one label    median %7.1f ms  ratio %.2f\n", textMedian, textMedian / bareMedian);
    std::printf("bare Qt window, two tables       median %7.1f ms  ratio %.2f\n", tablesMedian,
                tablesMedian / bareMedian);
    std::printf("bare Qt window, tables, splash   median %7.1f ms  ratio %.2f\n", splashTablesMedian,
                splashTablesMedian / bareMedian);
    std::printf("dirnote, 1,000 entries           median %7.1f ms  ratio %.2f\n", dirnoteMedian,
                dirnoteMedian / bareMedian);
    std::printf("dirnote, 1,000 entries, no splash median %7.1f ms  ratio %.2f\n", quietMedian,
                quietMedian / bareMedian);
    fs::remove_all(root);
    xcb_disconnect(connection);
    return 0;
}
