// SPDX-License-Identifier: GPL-3.0-or-later
// The per-user index against its budget, in one run:
//   - listing 100,000 entries with the index on (renames followed inside the listing, the update
//     handed to its thread) against the same listing with it off: ratio at most 1.2;
//   - a search over 1,000,000 indexed descriptions: under 50 ms.
//
//   build-rel/bench/bench_index [--benchmark_filter=...]

#include "catalogue/FolderCatalogue.h"
#include "index/DescriptionIndex.h"
#include "index/IndexUpdater.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
using TClock = std::chrono::steady_clock;

double Seconds(TClock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// User and system time of the process so far: on a shared machine the wall time alone says
// more about the neighbours than about the code.
double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void WriteBytes(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    (void)!::write(fd, bytes.constData(), size_t(bytes.size()));
    ::close(fd);
}

// 100,000 files: nine in ten described, one in ten not, plus stale keys of files that are gone,
// so the listing prunes and the follower is asked about every stale key.
void BM_ListingIndexOnVersusOff(benchmark::State &state)
{
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path()) + "/folder";
    ::mkdir(folder.constData(), 0755);
    const int n = int(state.range(0));
    QByteArray desc = "[Files]\r\n";
    for (int i = 0; i < n; ++i) {
        const QByteArray name = "file_" + QByteArray::number(i).rightJustified(7, '0') + ".dat";
        WriteBytes(folder + '/' + name, {});
        if (i % 10 != 0)
            desc += name + "=Description of " + name + " with a few more words\r\n";
    }
    for (int i = 0; i < n / 20; ++i)
        desc += "stale_" + QByteArray::number(i) + ".dat=gone\r\n";
    const QString indexPath = dir.path() + QStringLiteral("/index.sqlite");
    TDescriptionIndex index(indexPath);
    TIndexUpdater updater(indexPath);
    // Indexed once, as a folder the user has listed before.
    WriteBytes(folder + "/Folder.dnt", desc);
    updater.Listed(ListAndPruneFolder(folder, {.Follower = &index}));
    updater.WaitIdle();

    double offTotal = 0, onTotal = 0;
    for (auto _ : state) {
        TFolderCatalogue off, on; // freed outside the measurement, as the window keeps them
        WriteBytes(folder + "/Folder.dnt", desc);
        const auto t0 = TClock::now();
        off = ListAndPruneFolder(folder);
        const auto t1 = TClock::now();
        WriteBytes(folder + "/Folder.dnt", desc);
        const auto t2 = TClock::now();
        on = ListAndPruneFolder(folder, {.Follower = &index});
        updater.Listed(on);
        const auto t3 = TClock::now();
        updater.WaitIdle(); // the update after the rows are shown is not what the user waits for
        offTotal += Seconds(t1 - t0);
        onTotal += Seconds(t3 - t2);
        state.SetIterationTime(Seconds(t3 - t2));
    }
    state.counters["off_ms"] = 1000 * offTotal / double(state.iterations());
    state.counters["on_ms"] = 1000 * onTotal / double(state.iterations());
    state.counters["ratio"] = onTotal / offTotal;
    if (!index.IsUsable())
        state.SkipWithError("the index failed");
}
BENCHMARK(BM_ListingIndexOnVersusOff)->Arg(100000)->Iterations(8)->UseManualTime()->Unit(benchmark::kMillisecond);

// 1,000 folders of 1,000 descriptions each: six words of a small vocabulary, each with a number
// (a few hundred thousand documents share each word), indexed once.
struct TSearchCorpus {
    TSearchCorpus()
    {
        const QByteArray root = QFile::encodeName(Dir.path()) + "/tree";
        ::mkdir(root.constData(), 0755);
        static const char *const kWords[] = {
            "holiday", "sunset", "lake",   "mountain", "invoice", "report",  "draft",   "final",   "photo",    "scan",
            "family",  "garden", "winter", "summer",   "café",    "crème",   "budget",  "letter",  "contract", "backup",
            "music",   "video",  "recipe", "travel",   "school",  "project", "notes",   "archive", "old",      "new",
            "copy",    "tax",    "bank",   "house",    "car",     "doctor",  "birthday"};
        constexpr int kWordCount = int(sizeof(kWords) / sizeof(kWords[0]));
        quint32 seed = 12345;
        auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
        for (int f = 0; f < 1000; ++f) {
            const QByteArray folder = root + "/f" + QByteArray::number(f);
            ::mkdir(folder.constData(), 0755);
            QByteArray desc = "[Files]\r\n";
            for (int e = 0; e < 1000; ++e) {
                desc += "entry" + QByteArray::number(e) + ".dat=";
                for (int w = 0; w < 6; ++w)
                    desc += QByteArray(kWords[next() % kWordCount]) + ' ' + QByteArray::number(next() % 1000) + ' ';
                desc += "\r\n";
            }
            WriteBytes(folder + "/Folder.dnt", desc);
        }
        Index = std::make_unique<TDescriptionIndex>(Dir.path() + QStringLiteral("/index.sqlite"));
        const auto t0 = TClock::now();
        const double cpu0 = CpuSeconds();
        Index->IndexTree(root, {});
        BuildSeconds = Seconds(TClock::now() - t0);
        BuildCpuSeconds = CpuSeconds() - cpu0;
    }
    QTemporaryDir Dir;
    std::unique_ptr<TDescriptionIndex> Index;
    double BuildSeconds = 0, BuildCpuSeconds = 0;
};

void BM_SearchOneMillion(benchmark::State &state)
{
    static TSearchCorpus corpus;
    static const QString kQueries[] = {QStringLiteral("sun"), QStringLiteral("cafe creme"), QStringLiteral("h"),
                                       QStringLiteral("holiday 42 lake"), QStringLiteral("nothingmatches")};
    const QString &query = kQueries[state.range(0)];
    size_t hits = 0;
    double slowest = 0;
    for (auto _ : state) {
        const auto t0 = TClock::now();
        hits = corpus.Index->Search(query).size();
        const double took = Seconds(TClock::now() - t0);
        slowest = std::max(slowest, took);
        state.SetIterationTime(took);
    }
    state.SetLabel(query.toStdString());
    state.counters["hits"] = double(hits);
    state.counters["slowest_ms"] = 1000 * slowest;
    state.counters["build_s"] = corpus.BuildSeconds;
    state.counters["build_cpu_s"] = corpus.BuildCpuSeconds;
}
BENCHMARK(BM_SearchOneMillion)->DenseRange(0, 4)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
} // namespace
