// SPDX-License-Identifier: GPL-3.0-or-later
// Closing time of the real program: from the window manager's request to close the main window
// (WM_DELETE_WINDOW, as a click on the title bar's close button sends it) until the process has
// ended, in the states a user closes it in, against a bare Qt window closed the same way in the
// same run. Needs an X display (run it under xvfb-run) and xdotool for the states reached by
// keys and clicks.
//
// Usage: bench_close [--runs N] [--large FOLDER] [--dirnote PATH] [--bare PATH]
// Without --large, a folder of 200,000 entries is made (that takes a while on a slow disk).

#include "bench_window.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {
namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace BenchWindow;

// A folder of `count` entries, half of them described; a tenth of them folders.
fs::path MakeFolder(const fs::path &folder, int count)
{
    fs::create_directories(folder);
    std::ofstream desc(folder / "Folder.dnt", std::ios::binary);
    desc << "[Folders]\r\n";
    for (int i = 0; i < count / 10; ++i) {
        const std::string name = "folder " + std::to_string(i);
        fs::create_directory(folder / name);
        if (i % 2 == 0)
            desc << name << "=Description of " << name << "\r\n";
    }
    desc << "\r\n[Files]\r\n";
    for (int i = 0; i < count - count / 10; ++i) {
        const std::string name = "file " + std::to_string(i) + ".txt";
        std::ofstream(folder / name).put('x');
        if (i % 2 == 0)
            desc << name << "=Description of " << name << "\r\n";
    }
    return folder;
}

// A tree of 300 described folders of 50 descriptions each, for "Index this folder and its
// subfolders"; every description holds a word the search finds.
fs::path MakeTree(const fs::path &root)
{
    for (int f = 0; f < 300; ++f) {
        const fs::path folder = root / ("branch " + std::to_string(f));
        fs::create_directories(folder);
        std::ofstream desc(folder / "Folder.dnt", std::ios::binary);
        desc << "[Files]\r\n";
        for (int i = 0; i < 50; ++i)
            desc << "note " << i << ".txt=Note " << i << " of branch " << f << " about zebra" << i % 7 << "\r\n";
    }
    return root;
}

// Runs a helper (xdotool) to its end.
bool RunTool(std::vector<std::string> arguments)
{
    std::vector<char *> argv = Pointers(arguments);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The CPU time the process has used, in clock ticks.
long CpuTicks(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t end = text.rfind(')');
    if (end == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(end + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::atol(field.c_str());
        if (i == 15)
            stime = std::atol(field.c_str());
    }
    return utime + stime;
}

// Waits until the process has used no CPU for 300 ms: what it was asked to do is done (the
// listing's index update, the indexing of a tree, a search).
void WaitIdle(pid_t pid)
{
    long last = CpuTicks(pid);
    for (int quiet = 0; quiet < 6;) {
        std::this_thread::sleep_for(50ms);
        const long now = CpuTicks(pid);
        quiet = now == last ? quiet + 1 : 0;
        last = now;
    }
}

class TDisplay {
public:
    TDisplay() : FConnection(ConnectDisplay())
    {
        FProtocols = Atom("WM_PROTOCOLS");
        FDelete = Atom("WM_DELETE_WINDOW");
    }
    ~TDisplay() { xcb_disconnect(FConnection); }

    // The next top-level window of the main window's size mapped.
    xcb_window_t WaitMainWindow() { return BenchWindow::WaitMainWindow(FConnection); }

    // What the window manager sends when the user closes a window.
    void AskToClose(xcb_window_t window)
    {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = FProtocols;
        message.data.data32[0] = FDelete;
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(FConnection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&message));
        xcb_flush(FConnection);
    }

    // Events of the runs before are of no use.
    void Drain() { DrainEvents(FConnection); }

private:
    xcb_atom_t Atom(const char *name)
    {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            FConnection, xcb_intern_atom(FConnection, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : 0;
        std::free(reply);
        return atom;
    }

    xcb_connection_t *FConnection;
    xcb_atom_t FProtocols = 0, FDelete = 0;
};

struct TState {
    std::string Name;
    std::string Program;
    std::vector<std::string> Arguments;
    // Brings the shown window into the state closed from (nothing: closed as soon as shown).
    std::function<void(pid_t, xcb_window_t)> Prepare;
    bool NeedsXdotool = false;
};

// Starts the program with private user folders (the splash off), prepares the state, and
// returns the milliseconds from the request to close until the process has ended.
double TimeToClose(TDisplay &display, const TState &state, const fs::path &home, int run)
{
    const fs::path user = home / (state.Name + "-" + std::to_string(run));
    WriteSplashOff(user / "config");
    std::vector<std::string> environment = PrivateEnvironment(user, user / "runtime");
    std::vector<std::string> arguments{state.Program};
    arguments.insert(arguments.end(), state.Arguments.begin(), state.Arguments.end());

    display.Drain();
    const pid_t pid = Spawn(std::move(arguments), std::move(environment));
    const xcb_window_t window = display.WaitMainWindow();
    if (state.Prepare)
        state.Prepare(pid, window);
    const auto start = TClock::now();
    display.AskToClose(window);
    // A program that does not end within 30 s is counted as 30 s and ended.
    double elapsed = -1;
    while (elapsed < 0) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            elapsed = std::chrono::duration<double, std::milli>(TClock::now() - start).count();
        else if (TClock::now() - start > 30s) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            elapsed = 30000;
        } else
            std::this_thread::sleep_for(200us);
    }
    fs::remove_all(user);
    return elapsed;
}

// Keys and clicks into the window, as a person gives them.
void Xdo(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), "xdotool");
    RunTool(std::move(arguments));
}

void IndexTree(pid_t pid, xcb_window_t window)
{
    const std::string id = std::to_string(window);
    WaitIdle(pid);
    Xdo({"windowfocus", "--sync", id});
    // The window menu, opened by a right click beside the folder's name; its "Index this folder
    // and its subfolders" is the third item from the end.
    Xdo({"mousemove", "--window", id, "3", "30", "click", "3"});
    std::this_thread::sleep_for(300ms);
    Xdo({"key", "Up", "Up", "Up", "Return"});
    std::this_thread::sleep_for(300ms);
    WaitIdle(pid);
    // The dialog's Close button has the focus once the walk is done.
    Xdo({"key", "Escape"});
    WaitIdle(pid);
}

void Search(pid_t pid, xcb_window_t window)
{
    IndexTree(pid, window);
    Xdo({"windowfocus", "--sync", std::to_string(window)});
    Xdo({"key", "ctrl+f"});
    Xdo({"type", "--delay", "20", "zebra3"});
    WaitIdle(pid);
}
} // namespace

int main(int argc, char **argv)
{
    const fs::path here = fs::canonical("/proc/self/exe").parent_path();
    std::string dirnote = (here.parent_path() / "dirnote").string();
    std::string bare = (here / "bench_bare_window").string();
    int runs = 7;
    fs::path large;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
        else if (option == "--large")
            large = argv[i + 1];
        else if (option == "--dirnote")
            dirnote = argv[i + 1];
        else if (option == "--bare")
            bare = argv[i + 1];
    }
    const bool xdotool = RunTool({"xdotool", "version"});

    TDisplay display;
    char pattern[] = "/tmp/bench_close-XXXXXX";
    const fs::path root = mkdtemp(pattern);
    const fs::path entries = MakeFolder(root / "entries", 1000);
    const fs::path tree = MakeTree(root / "tree");
    if (large.empty()) {
        std::printf("making a folder of 200,000 entries...\n");
        std::fflush(stdout);
        large = MakeFolder(root / "large", 200000);
    }

    const std::vector<TState> states = {
        {"bare Qt window", bare, {}, [](pid_t pid, xcb_window_t) { WaitIdle(pid); }},
        {"fresh start, 1,000 entries", dirnote, {entries.string()}, [](pid_t pid, xcb_window_t) { WaitIdle(pid); }},
        // As soon as the rows are shown, while the index is brought up to date with them.
        {"large folder, just listed", dirnote, {large.string()}, nullptr},
        {"large folder, listed and idle", dirnote, {large.string()}, [](pid_t pid, xcb_window_t) { WaitIdle(pid); }},
        {"after indexing a tree", dirnote, {tree.string()}, IndexTree, true},
        {"after a search", dirnote, {tree.string()}, Search, true},
    };
    std::vector<std::vector<double>> times(states.size());
    for (int run = 0; run <= runs; ++run)
        for (size_t s = 0; s < states.size(); ++s) {
            if (states[s].NeedsXdotool && !xdotool)
                continue;
            const double ms = TimeToClose(display, states[s], root, run);
            // The first round warms the file cache and is not counted.
            if (run > 0)
                times[s].push_back(ms);
        }
    const double floor = Median(times[0]);
    std::printf("%-32s median %7.1f ms over %d runs\n", states[0].Name.c_str(), floor, runs);
    for (size_t s = 1; s < states.size(); ++s) {
        if (times[s].empty()) {
            std::printf("%-32s not measured: xdotool is missing\n", states[s].Name.c_str());
            continue;
        }
        const double median = Median(times[s]);
        std::printf("%-32s median %7.1f ms  max %7.1f ms  ratio %.2f\n", states[s].Name.c_str(), median,
                    *std::max_element(times[s].begin(), times[s].end()), median / floor);
    }
    fs::remove_all(root);
    return 0;
}
