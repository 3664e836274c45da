// SPDX-License-Identifier: GPL-3.0-or-later
// Folder listing against its floor: one directory enumeration plus one read of the description
// file's bytes, measured in the same run. Also the whole window listing (table filled and shown),
// the resident memory of a listing, and one commit into a large description file against one
// write of that file.
//
//   build/bench/bench_catalogue [--benchmark_filter=...]
//
// Names and descriptions are about 45 bytes each, in a mixed order and letter case; the
// description file describes every entry and holds 10% stale keys, so each listing prunes.

#include "common/AtomicFile.h"
#include "catalogue/FolderCatalogue.h"
#include "common/ProcessMemory.h"
#include "catalogue/ProfileFile.h"
#include "index/IndexUpdater.h"
#include "ui/Main.h"
#include "ui/StringGrid.h"

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {
using TClock = std::chrono::steady_clock;

constexpr const char *kMemoryChild = "--memory-child";

// A name of about 45 bytes: words in mixed case, a number in natural order, an extension.
QByteArray BenchName(int i, std::mt19937 &random)
{
    static const char *const words[] = {"Holiday", "report",  "Budget", "scan",   "Invoice", "photo",
                                        "draft",   "Meeting", "notes",  "Backup", "summer",  "Final"};
    static const char *const extensions[] = {"pdf", "jpg", "txt", "odt", "png"};
    QByteArray name;
    name += words[random() % 12];
    name += ' ';
    name += words[random() % 12];
    name += random() % 2 ? " - " : "_";
    name += words[random() % 12];
    name += " part " + QByteArray::number(i) + " of set";
    name += QByteArray::number(int(random() % 100));
    name += '.';
    name += extensions[random() % 5];
    return name;
}

// A folder of n files and a description file describing every one, plus 10% stale keys.
// With BENCH_FOLDERS set, the folders are kept there and made only once across runs (a million
// files take a minute to create, which a profile of the listing should not show).
struct TBenchFolder {
    explicit TBenchFolder(int n) : Count(n)
    {
        const QByteArray keep = qgetenv("BENCH_FOLDERS");
        Path = keep.isEmpty() ? Dir.path().toUtf8() : keep + "/files-" + QByteArray::number(n);
        const QByteArray made = Path + ".made"; // beside the folder: no entry of it
        const bool create = ::access(made.constData(), F_OK) != 0;
        if (create && !keep.isEmpty())
            ::mkdir(Path.constData(), 0755);
        Desc = "[ThisFolder]\r\nText0=bench\r\n\r\n[Folders]\r\n\r\n[Files]\r\n";
        Desc.reserve(qsizetype(n) * 100);
        std::mt19937 random(42);
        for (int i = 0; i < n; ++i) {
            const QByteArray name = BenchName(i, random);
            if (create)
                ::close(::open((Path + '/' + name).constData(), O_CREAT | O_WRONLY, 0644));
            Desc += name + "=Description of entry " + QByteArray::number(i) + ", with a few words\r\n";
            if (i == n / 2)
                Middle = name;
        }
        for (int i = 0; i < n / 10; ++i)
            Desc += "stale_" + QByteArray::number(i) + ".dat=gone\r\n";
        if (create && !keep.isEmpty())
            ::close(::open(made.constData(), O_CREAT | O_WRONLY, 0644));
        Reset();
    }
    void Reset() const { Reset(Desc); }
    void Reset(const QByteArray &content) const
    {
        const int fd = ::open((Path + "/Folder.dnt").constData(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        (void)!::write(fd, content.constData(), size_t(content.size()));
        ::close(fd);
    }
    // The description file with the middle entry left undescribed.
    QByteArray DescWithoutMiddle() const
    {
        const qsizetype line = Desc.indexOf("\n" + Middle + '=') + 1;
        return QByteArray(Desc).remove(line, Desc.indexOf('\n', line) + 1 - line);
    }
    QTemporaryDir Dir;
    int Count;
    QByteArray Path;
    QByteArray Desc;
    QByteArray Middle; // a name in the middle of the creation order
};

// Folders are made once per size for all benchmarks: a million files take a while to create.
TBenchFolder &Folder(int n)
{
    static std::map<int, std::unique_ptr<TBenchFolder>> folders;
    std::unique_ptr<TBenchFolder> &folder = folders[n];
    if (!folder)
        folder = std::make_unique<TBenchFolder>(n);
    return *folder;
}

double Seconds(TClock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

void Floor(const QByteArray &path)
{
    DIR *dir = ::opendir(path.constData());
    size_t count = 0;
    while (const dirent *e = ::readdir(dir))
        count += e->d_name[0] != 0;
    ::closedir(dir);
    benchmark::DoNotOptimize(count);
    benchmark::DoNotOptimize(ReadWholeFile(path + "/Folder.dnt"));
}

void BM_CatalogueListing(benchmark::State &state)
{
    TBenchFolder &folder = Folder(int(state.range(0)));
    double floorTotal = 0, listingTotal = 0;
    for (auto _ : state) {
        folder.Reset();          // each round prunes the same stale keys
        TFolderCatalogue listed; // freed outside the measurement, as the window keeps it
        const auto t0 = TClock::now();
        Floor(folder.Path);
        const auto t1 = TClock::now();
        listed = ListAndPruneFolder(folder.Path);
        const auto t2 = TClock::now();
        benchmark::DoNotOptimize(listed);
        floorTotal += Seconds(t1 - t0);
        listingTotal += Seconds(t2 - t1);
        state.SetIterationTime(Seconds(t2 - t1));
    }
    state.counters["floor_ms"] = 1000 * floorTotal / double(state.iterations());
    state.counters["listing_ms"] = 1000 * listingTotal / double(state.iterations());
    state.counters["ratio"] = listingTotal / floorTotal;
}
BENCHMARK(BM_CatalogueListing)->Arg(1000)->Arg(10000)->Arg(100000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CatalogueListing)->Arg(1000000)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// What the user waits for: the listing, the tables filled and the window painted.
void BM_WindowLoadFolder(benchmark::State &state)
{
    TBenchFolder &folder = Folder(int(state.range(0)));
    TFrmMain window({folder.Path});
    window.show();
    QApplication::processEvents();
    double floorTotal = 0, loadTotal = 0;
    for (auto _ : state) {
        folder.Reset();
        // The index takes in the last listing on its own thread after the rows are shown, and the
        // listing before it is freed on another; this listing is measured without that work on
        // the other core.
        if (TIndexUpdater *updater = window.IndexUpdater())
            updater->WaitIdle();
        window.WaitReplacedListingFreed();
        const auto t0 = TClock::now();
        Floor(folder.Path);
        const auto t1 = TClock::now();
        benchmark::DoNotOptimize(window.LoadFolder(folder.Path));
        window.repaint();
        QApplication::processEvents();
        const auto t2 = TClock::now();
        floorTotal += Seconds(t1 - t0);
        loadTotal += Seconds(t2 - t1);
        state.SetIterationTime(Seconds(t2 - t1));
    }
    state.counters["floor_ms"] = 1000 * floorTotal / double(state.iterations());
    state.counters["load_ms"] = 1000 * loadTotal / double(state.iterations());
    state.counters["ratio"] = loadTotal / floorTotal;
}
BENCHMARK(BM_WindowLoadFolder)->Arg(100000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowLoadFolder)->Arg(1000000)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

long StatusKiB(const char *field)
{
    FILE *status = std::fopen("/proc/self/status", "r");
    char line[256];
    long kib = -1;
    const size_t length = std::strlen(field);
    while (status && std::fgets(line, sizeof line, status))
        if (std::strncmp(line, field, length) == 0 && line[length] == ':')
            kib = std::atol(line + length + 1);
    if (status)
        std::fclose(status);
    return kib;
}

// The child of BM_ListingMemory: a window lists the folder once; prints the resident memory
// before the listing and its peak, in KiB.
int MemoryChild(const char *folder)
{
    TFrmMain window({QByteArray(folder) + "/unlisted/Folder.dnt"}); // lists nothing at its start
    window.show();
    QApplication::processEvents();
    const long before = StatusKiB("VmRSS");
    window.LoadFolder(folder);
    window.repaint();
    QApplication::processEvents();
    std::printf("%ld %ld\n", before, StatusKiB("VmHWM"));
    return 0;
}

// The peak resident memory of a process whose window lists the folder, measured in a process
// of its own so that nothing of the benchmark's counts.
void BM_ListingMemory(benchmark::State &state)
{
    TBenchFolder &folder = Folder(int(state.range(0)));
    long before = 0, peak = 0;
    for (auto _ : state) {
        folder.Reset();
        int fds[2];
        if (::pipe(fds) != 0) {
            state.SkipWithError("pipe");
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        const QByteArray self = QFile::encodeName(QCoreApplication::applicationFilePath());
        char *argv[] = {const_cast<char *>(self.constData()), const_cast<char *>(kMemoryChild),
                        const_cast<char *>(folder.Path.constData()), nullptr};
        pid_t pid = 0;
        const auto t0 = TClock::now();
        const int spawned = posix_spawn(&pid, self.constData(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        char buffer[128] = {};
        size_t got = 0;
        for (ssize_t n; got + 1 < sizeof buffer && (n = ::read(fds[0], buffer + got, sizeof buffer - 1 - got)) > 0;)
            got += size_t(n);
        ::close(fds[0]);
        int status = 0;
        if (spawned == 0)
            ::waitpid(pid, &status, 0);
        state.SetIterationTime(Seconds(TClock::now() - t0));
        if (spawned != 0 || std::sscanf(buffer, "%ld %ld", &before, &peak) != 2) {
            state.SkipWithError("the measuring child failed");
            return;
        }
    }
    state.counters["peak_MB"] = double(peak) / 1024;
    state.counters["listing_MB"] = double(peak - before) / 1024;
    state.counters["bytes_per_entry"] = double(peak - before) * 1024 / double(folder.Count);
}
BENCHMARK(BM_ListingMemory)->Arg(100000)->Arg(1000000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// One description typed and committed in the window, against writing the whole file once: into an
// entry described in the middle of the file (range(1) 0), whose line is replaced where it stands,
// or into one not described (range(1) 1), which takes a scan to the end of its section.
void BM_CommitIntoLargeFile(benchmark::State &state)
{
    TBenchFolder &folder = Folder(int(state.range(0)));
    const bool described = state.range(1) == 0;
    const QByteArray start = described ? folder.Desc : folder.DescWithoutMiddle();
    folder.Reset(start);
    TFrmMain window({folder.Path});
    TStringGrid *grid = window.StringGridFiles;
    const int row = grid->GridModel()->FindName(folder.Middle);
    grid->SetCurrentCell(TStringGridModel::ColDesc, row);
    const QByteArray copy = folder.Path + "/written-once.dnt";
    // The first write into a folder also looks for temporaries that crashed writers left, which
    // reads the whole folder; it is done at most once a minute and not counted here.
    grid->GridModel()->SetDescription(row, QStringLiteral("first"));
    window.CommitCurrentRow(grid, "Files");
    // Medians: a round now and then waits tenfold for memory or the disk, the floor's as often as
    // the commit's.
    std::vector<double> floors, commits;
    int i = 0;
    for (auto _ : state) {
        if (!described)
            folder.Reset(start);
        // The index takes in a new folder of a million descriptions for tens of seconds on its
        // own thread; the commit is measured on a quiet machine, as the listing is.
        if (TIndexUpdater *updater = window.IndexUpdater())
            updater->WaitIdle();
        // The last round's 100 MB reach the disk first: a user's commits are seconds apart, and
        // the copy below is rewritten before its writeback, so it never waits for the disk.
        ::sync();
        const auto t0 = TClock::now();
        {
            const QByteArray bytes = *ReadWholeFile(window.DescFilePath());
            const int fd = ::open(copy.constData(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
            (void)!::write(fd, bytes.constData(), size_t(bytes.size()));
            ::close(fd);
        }
        const auto t1 = TClock::now();
        grid->GridModel()->SetDescription(row, QStringLiteral("changed %1").arg(++i));
        window.CommitCurrentRow(grid, "Files");
        const auto t2 = TClock::now();
        floors.push_back(Seconds(t1 - t0));
        commits.push_back(Seconds(t2 - t1));
        state.SetIterationTime(commits.back());
    }
    ::unlink(copy.constData());
    const auto median = [](std::vector<double> &values) {
        std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(values.size() / 2), values.end());
        return values[values.size() / 2];
    };
    const double floorMedian = median(floors), commitMedian = median(commits);
    state.counters["write_once_median_ms"] = 1000 * floorMedian;
    state.counters["commit_median_ms"] = 1000 * commitMedian;
    state.counters["ratio"] = commitMedian / floorMedian;
}
BENCHMARK(BM_CommitIntoLargeFile)
    ->ArgsProduct({{100000, 1000000}, {0, 1}})
    ->ArgNames({"entries", "new"})
    ->Iterations(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window's settings and index go to a folder of this run, never the user's own.
    QTemporaryDir home;
    for (const char *variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
        const QByteArray path = home.path().toUtf8() + '/' + variable;
        ::mkdir(path.constData(), 0700);
        qputenv(variable, path);
    }
    ReturnLargeBlocksToTheSystem(); // as the program does
    QApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], kMemoryChild) == 0)
        return MemoryChild(argv[2]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
