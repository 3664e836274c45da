// SPDX-License-Identifier: GPL-3.0-or-later
// What a user waits for at the start: a fresh dirnote process, from its start until its main
// window is mapped with the rows listed and the stale keys are pruned on disk, in a folder of
// many described files with 200 stale keys. Against a floor measured in the same run: a fresh
// process that reads the folder once, reads Folder.dnt once and writes it to a new file once.
// Also the peak resident memory of each program process when it is done (its VmHWM).
//
// Usage: bench_fresh_listing [DIRNOTE [RUNS [COUNT...]]]   (under xvfb-run; default 5 runs of
// 100,000 and 1,000,000 files). BENCH_FOLDERS=<folder> keeps the generated folders across runs.
// Each run of the program has settings, index and runtime folders of its own: a first start.

#include "bench_window.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;
using namespace BenchWindow;

constexpr int kStaleKeys = 200;

// A name of about 45 bytes: words in mixed case, a number in natural order, an extension.
std::string BenchName(int i, std::mt19937 &random)
{
    static const char *const words[] = {"Holiday", "report",  "Budget", "scan",   "Invoice", "photo",
                                        "draft",   "Meeting", "notes",  "Backup", "summer",  "Final"};
    static const char *const extensions[] = {"pdf", "jpg", "txt", "odt", "png"};
    std::string name = words[random() % 12];
    name += ' ';
    name += words[random() % 12];
    name += random() % 2 ? " - " : "_";
    name += words[random() % 12];
    name += " part " + std::to_string(i) + " of set" + std::to_string(random() % 100) + '.';
    name += extensions[random() % 5];
    return name;
}

struct TFolder {
    fs::path Path;
    std::string Desc; // Folder.dnt as each run finds it: every file described, plus stale keys
};

// A folder of n empty files; kept under BENCH_FOLDERS when given (a million files take a minute).
TFolder MakeFolder(const fs::path &root, int n)
{
    const char *keep = std::getenv("BENCH_FOLDERS");
    TFolder folder;
    folder.Path = (keep && *keep ? fs::path(keep) : root) / ("fresh-" + std::to_string(n));
    const fs::path made = folder.Path.string() + ".made";
    const bool create = !fs::exists(made);
    fs::create_directories(folder.Path);
    folder.Desc = "[ThisFolder]\r\nText0=bench\r\n\r\n[Folders]\r\n\r\n[Files]\r\n";
    // First in the section: only keys within the key list's 16384 bytes can be found stale.
    for (int i = 0; i < kStaleKeys; ++i)
        folder.Desc += "stale_" + std::to_string(i) + ".dat=gone\r\n";
    std::mt19937 random(42);
    for (int i = 0; i < n; ++i) {
        const std::string name = BenchName(i, random);
        if (create)
            ::close(::open((folder.Path / name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
        folder.Desc += name + "=Description of entry " + std::to_string(i) + ", with a few words\r\n";
    }
    if (create)
        std::ofstream(made) << n;
    return folder;
}

void ResetDescriptions(const TFolder &folder)
{
    std::ofstream(folder.Path / "Folder.dnt", std::ios::binary | std::ios::trunc) << folder.Desc;
}

// The floor, run as a process of its own: one enumeration, one read and one write of the file.
int RunFloor(const char *folder)
{
    DIR *dir = ::opendir(folder);
    if (!dir)
        return 1;
    size_t count = 0;
    while (const dirent *entry = ::readdir(dir))
        count += entry->d_name[0] != 0;
    ::closedir(dir);
    const std::string path = std::string(folder) + "/Folder.dnt";
    const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<char> bytes(size_t(fs::file_size(path)));
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(in, bytes.data() + got, bytes.size() - got);
        if (n <= 0)
            return 1;
        got += size_t(n);
    }
    ::close(in);
    const std::string temp = std::string(folder) + "/../.floor-" + std::to_string(::getpid());
    const int out = ::open(temp.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
    const bool written = ::write(out, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    ::close(out);
    ::unlink(temp.c_str());
    return written && count > 0 ? 0 : 1;
}

// The process's peak resident memory so far (VmHWM). Not the child's getrusage: a child made by
// posix_spawn shares this process's memory until it executes the program, and that counts there.
double PeakMb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    return -1;
}

double Milliseconds(TClock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

struct TRun {
    double Ms = -1;
    double PeakMb = 0;
};

TRun TimeFloor(const std::string &self, const TFolder &folder)
{
    const auto start = TClock::now();
    const pid_t pid = Spawn({self, "--floor", folder.Path.string()}, {});
    int status = 0;
    ::waitpid(pid, &status, 0);
    TRun run;
    run.Ms = Milliseconds(TClock::now() - start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        run.Ms = -1;
    return run;
}

// Starts dirnote on the folder; done once its main window is mapped and Folder.dnt has been
// replaced (the prune of the stale keys). Then its peak memory is read and the process ended.
TRun TimeProgram(xcb_connection_t *connection, const std::string &dirnote, const TFolder &folder, const fs::path &home)
{
    ResetDescriptions(folder);
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ::inotify_add_watch(watch, folder.Path.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);
    // Events of earlier runs' windows are of no interest.
    DrainEvents(connection);

    const auto start = TClock::now();
    const pid_t pid = Spawn({dirnote, folder.Path.string()}, PrivateEnvironment(home, home / "runtime"));
    double mapped = -1, pruned = -1;
    const auto deadline = start + std::chrono::seconds(30);
    pollfd fds[2] = {{xcb_get_file_descriptor(connection), POLLIN, 0}, {watch, POLLIN, 0}};
    while ((mapped < 0 || pruned < 0) && TClock::now() < deadline) {
        ::poll(fds, 2, 100);
        while (xcb_generic_event_t *event = xcb_poll_for_event(connection)) {
            if (mapped < 0 && MainWindowMapped(connection, event))
                mapped = Milliseconds(TClock::now() - start);
            std::free(event);
        }
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = ::read(watch, buffer, sizeof buffer)) > 0;)
            for (char *p = buffer; p < buffer + n;) {
                const auto *event = reinterpret_cast<const inotify_event *>(p);
                if (event->len && std::strcmp(event->name, "Folder.dnt") == 0 && pruned < 0)
                    pruned = Milliseconds(TClock::now() - start);
                p += sizeof(inotify_event) + event->len;
            }
    }
    ::close(watch);
    if (mapped < 0 || pruned < 0)
        std::fprintf(stderr, "window mapped after %.0f ms, file pruned after %.0f ms (-1: not seen)\n", mapped, pruned);
    TRun run;
    run.Ms = mapped < 0 || pruned < 0 ? -1 : std::max(mapped, pruned);
    run.PeakMb = PeakMb(pid);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return run;
}
} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--floor") == 0)
        return RunFloor(argv[2]);
    const fs::path self = fs::canonical("/proc/self/exe");
    const std::string dirnote = argc > 1 ? argv[1] : (self.parent_path().parent_path() / "dirnote").string();
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::vector<int> counts;
    for (int i = 3; i < argc; ++i)
        counts.push_back(std::atoi(argv[i]));
    if (counts.empty())
        counts = {100000, 1000000};

    xcb_connection_t *connection = ConnectDisplay();

    char pattern[] = "/tmp/bench_fresh-XXXXXX";
    const fs::path root = mkdtemp(pattern);
    for (const int n : counts) {
        const TFolder folder = MakeFolder(root, n);
        // One untimed run of each fills the file cache.
        ResetDescriptions(folder);
        TimeFloor(self, folder);
        TimeProgram(connection, dirnote, folder, root / "home-warm");
        std::vector<double> floors, times, ratios, peaks;
        for (int run = 1; run <= runs; ++run) {
            const TRun floor = TimeFloor(self, folder);
            const TRun program = TimeProgram(connection, dirnote, folder, root / ("home-" + std::to_string(run)));
            fs::remove_all(root / ("home-" + std::to_string(run)));
            if (floor.Ms < 0 || program.Ms < 0) {
                std::fprintf(stderr, "%d entries, run %d: %s did not finish\n", n, run,
                             floor.Ms < 0 ? "the floor" : "dirnote");
                continue;
            }
            floors.push_back(floor.Ms);
            times.push_back(program.Ms);
            ratios.push_back(program.Ms / floor.Ms);
            peaks.push_back(program.PeakMb);
            std::printf("%8d entries  run %d: dirnote %8.1f ms  floor %7.1f ms  ratio %5.2f  peak %6.1f MB\n", n, run,
                        program.Ms, floor.Ms, program.Ms / floor.Ms, program.PeakMb);
            std::fflush(stdout);
        }
        std::printf("%8d entries  median: dirnote %8.1f ms  floor %7.1f ms  ratio %5.2f (range %.2f to %.2f)  "
                    "peak %6.1f MB (at most %.1f)\n",
                    n, Median(times), Median(floors), Median(ratios),
                    ratios.empty() ? -1 : *std::min_element(ratios.begin(), ratios.end()),
                    ratios.empty() ? -1 : *std::max_element(ratios.begin(), ratios.end()), Median(peaks),
                    peaks.empty() ? -1 : *std::max_element(peaks.begin(), peaks.end()));
        std::fflush(stdout);
        if (!std::getenv("BENCH_FOLDERS"))
            fs::remove_all(folder.Path);
    }
    fs::remove_all(root);
    xcb_disconnect(connection);
    return 0;
}
