// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up time of the real program: from the process's start until its main window is mapped
// on the display, listing a folder of 1,000 entries, against a bare Qt window program of the
// same size measured in the same run. Needs an X display (run it under xvfb-run).
//
// Usage: bench_startup [DIRNOTE [BARE_WINDOW [RUNS]]]
// Prints each program's median and its ratio to the bare window's; a bare window with one line
// of text shows how much of the difference is the font set-up any text needs.

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {
namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

// The main window's size: the splash and helper windows of other sizes do not count.
constexpr int kWidth = 445;
constexpr int kHeight = 449;

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
    const fs::path runtime = home / ("runtime-" + std::to_string(run));
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    std::vector<std::string> environment;
    for (char **e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("XDG_", 0) != 0 && entry.rfind("HOME=", 0) != 0 && entry.rfind("QT_QPA_PLATFORM=", 0) != 0)
            environment.push_back(entry);
    }
    environment.push_back("HOME=" + (home / "home").string());
    environment.push_back("XDG_CONFIG_HOME=" + (home / "config").string());
    environment.push_back("XDG_DATA_HOME=" + (home / "data").string());
    environment.push_back("XDG_CACHE_HOME=" + (home / "cache").string());
    environment.push_back("XDG_RUNTIME_DIR=" + runtime.string());
    std::vector<char *> envp, argv;
    for (std::string &entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string programCopy = program;
    std::vector<std::string> argumentsCopy = arguments;
    argv.push_back(programCopy.data());
    for (std::string &argument : argumentsCopy)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const auto start = TClock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) {
        std::perror(program.c_str());
        std::exit(2);
    }
    double elapsed = -1;
    while (xcb_generic_event_t *event = xcb_wait_for_event(connection)) {
        const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
        xcb_window_t window = mapped ? reinterpret_cast<xcb_map_notify_event_t *>(event)->window : 0;
        std::free(event);
        if (!mapped)
            continue;
        xcb_get_geometry_reply_t *geometry = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window),
                                                                    nullptr);
        const bool main = geometry && geometry->width == kWidth && geometry->height == kHeight;
        std::free(geometry);
        if (main) {
            elapsed = std::chrono::duration<double, std::milli>(TClock::now() - start).count();
            break;
        }
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return elapsed;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
} // namespace

int main(int argc, char **argv)
{
    const fs::path here = fs::canonical("/proc/self/exe").parent_path();
    const std::string dirnote = argc > 1 ? argv[1] : (here.parent_path() / "dirnote").string();
    const std::string bare = argc > 2 ? argv[2] : (here / "bench_bare_window").string();
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 15;

    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "no X display: run this under xvfb-run\n");
        return 2;
    }
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);

    char pattern[] = "/tmp/bench_startup-XXXXXX";
    const fs::path root = mkdtemp(pattern);
    const fs::path folder = MakeFolder(root);

    // The same program with the splash turned off in its settings, to show the splash's share.
    const fs::path quiet = root / "quiet";
    fs::create_directories(quiet / "config" / "KER-MOSS");
    std::ofstream(quiet / "config" / "KER-MOSS" / "HKEY_CURRENT_USER.reg", std::ios::binary)
        << "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\KER-MOSS]\r\n\"SplashEnabled\"=dword:00000000\r\n";

    std::vector<double> bareTimes, textTimes, dirnoteTimes, quietTimes;
    // One untimed run of each warms the file cache.
    TimeToWindow(connection, bare, {}, root, 0);
    TimeToWindow(connection, bare, {"--text"}, root, 0);
    TimeToWindow(connection, dirnote, {folder.string()}, root, 0);
    TimeToWindow(connection, dirnote, {folder.string()}, quiet, 0);
    for (int run = 1; run <= runs; ++run) {
        bareTimes.push_back(TimeToWindow(connection, bare, {}, root, run));
        textTimes.push_back(TimeToWindow(connection, bare, {"--text"}, root, run));
        dirnoteTimes.push_back(TimeToWindow(connection, dirnote, {folder.string()}, root, run));
        quietTimes.push_back(TimeToWindow(connection, dirnote, {folder.string()}, quiet, run));
    }
    const double bareMedian = Median(bareTimes);
    const double dirnoteMedian = Median(dirnoteTimes);
    const double quietMedian = Median(quietTimes);
    const double textMedian = Median(textTimes);
    std::printf("bare Qt window                   median %7.1f ms over %d runs\n", bareMedian, runs);
    std::printf("bare Qt window with one label    median %7.1f ms  ratio %.2f\n", textMedian, textMedian / bareMedian);
    std::printf("dirnote, 1,000 entries           median %7.1f ms  ratio %.2f\n", dirnoteMedian,
                dirnoteMedian / bareMedian);
    std::printf("dirnote, 1,000 entries, no splash median %7.1f ms  ratio %.2f\n", quietMedian,
                quietMedian / bareMedian);
    fs::remove_all(root);
    xcb_disconnect(connection);
    return 0;
}
