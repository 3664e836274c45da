// SPDX-License-Identifier: GPL-3.0-or-later
// What the benchmarks that start the real program on an X display share: a private set of user
// folders for each start, the start itself, and the wait for the program's main window.
#pragma once

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <spawn.h>
#include <unistd.h>

extern char **environ;

namespace BenchWindow {
namespace fs = std::filesystem;

// The main window's default size: the splash and helper windows of other sizes do not count.
constexpr int kMainWidth = 445;
constexpr int kMainHeight = 449;

// This process's environment with HOME and the XDG folders below `home`, except the runtime
// folder, which is `runtime` (made private): a start that finds no settings, index or socket of
// another. The platform is left to Qt's default, the X display.
inline std::vector<std::string> PrivateEnvironment(const fs::path &home, const fs::path &runtime)
{
    std::vector<std::string> environment;
    for (char **e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("XDG_", 0) != 0 && entry.rfind("HOME=", 0) != 0 && entry.rfind("QT_QPA_PLATFORM=", 0) != 0)
            environment.push_back(entry);
    }
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    environment.push_back("HOME=" + (home / "home").string());
    environment.push_back("XDG_CONFIG_HOME=" + (home / "config").string());
    environment.push_back("XDG_DATA_HOME=" + (home / "data").string());
    environment.push_back("XDG_CACHE_HOME=" + (home / "cache").string());
    environment.push_back("XDG_RUNTIME_DIR=" + runtime.string());
    return environment;
}

// The settings of a user who turned the splash off, in the XDG_CONFIG_HOME `config`.
inline void WriteSplashOff(const fs::path &config)
{
    fs::create_directories(config / "KER-MOSS");
    std::ofstream(config / "KER-MOSS" / "HKEY_CURRENT_USER.reg", std::ios::binary)
        << "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\KER-MOSS]\r\n\"SplashEnabled\"=dword:00000000\r\n";
}

// Pointers to the strings, ended by a null pointer, as exec and spawn take them.
inline std::vector<char *> Pointers(std::vector<std::string> &strings)
{
    std::vector<char *> pointers;
    for (std::string &s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Starts arguments[0] with the arguments and environment given; a program that cannot be
// started ends the benchmark.
inline pid_t Spawn(std::vector<std::string> arguments, std::vector<std::string> environment)
{
    const std::vector<char *> argv = Pointers(arguments), envp = Pointers(environment);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) {
        std::perror(argv[0]);
        std::exit(2);
    }
    return pid;
}

// A connection to the display that is told of every top-level window mapped.
inline xcb_connection_t *ConnectDisplay()
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "no X display: run this under xvfb-run\n");
        std::exit(2);
    }
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);
    return connection;
}

// The window the event maps when it is a top-level window of the main window's size, else 0.
inline xcb_window_t MainWindowMapped(xcb_connection_t *connection, const xcb_generic_event_t *event)
{
    if ((event->response_type & 0x7f) != XCB_MAP_NOTIFY)
        return 0;
    const xcb_window_t window = reinterpret_cast<const xcb_map_notify_event_t *>(event)->window;
    xcb_get_geometry_reply_t *geometry = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window),
                                                                nullptr);
    const bool main = geometry && geometry->width == kMainWidth && geometry->height == kMainHeight;
    std::free(geometry);
    return main ? window : 0;
}

// Waits for the next main window mapped; 0 when the display's connection ends first.
inline xcb_window_t WaitMainWindow(xcb_connection_t *connection)
{
    while (xcb_generic_event_t *event = xcb_wait_for_event(connection)) {
        const xcb_window_t window = MainWindowMapped(connection, event);
        std::free(event);
        if (window)
            return window;
    }
    return 0;
}

// Lets go of the events that came so far.
inline void DrainEvents(xcb_connection_t *connection)
{
    while (xcb_generic_event_t *event = xcb_poll_for_event(connection))
        std::free(event);
}

// The middle of the values measured; -1 when there are none.
inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}
} // namespace BenchWindow
