// Folder listing against its floor: one directory enumeration plus one read of the description
// file's bytes, measured in the same run. Also the whole window listing and one write.
//
//   build/bench/bench_catalogue [--benchmark_filter=...]

#include "common/AtomicFile.h"
#include "catalogue/FolderCatalogue.h"
#include "catalogue/ProfileFile.h"
#include "ui/Main.h"

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {
using TClock = std::chrono::steady_clock;

// A folder of n files and a description file describing every one, plus 10% stale keys.
struct TBenchFolder {
    explicit TBenchFolder(int n)
    {
        Path = Dir.path().toUtf8();
        Desc = "[ThisFolder]\r\nText0=bench\r\n\r\n[Folders]\r\n\r\n[Files]\r\n";
        for (int i = 0; i < n; ++i) {
            const QByteArray name = "file_" + QByteArray::number(i).rightJustified(7, '0') + ".dat";
            const int fd = ::open((Path + '/' + name).constData(), O_CREAT | O_WRONLY, 0644);
            ::close(fd);
            Desc += name + "=Description of " + name + " with a few more words\r\n";
        }
        for (int i = 0; i < n / 10; ++i)
            Desc += "stale_" + QByteArray::number(i) + ".dat=gone\r\n";
        Reset();
    }
    void Reset() const
    {
        const int fd = ::open((Path + "/Folder.dnt").constData(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        (void)!::write(fd, Desc.constData(), size_t(Desc.size()));
        ::close(fd);
    }
    QTemporaryDir Dir;
    QByteArray Path;
    QByteArray Desc;
};

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
    TBenchFolder folder(int(state.range(0)));
    double floorTotal = 0, listingTotal = 0;
    for (auto _ : state) {
        folder.Reset(); // each round prunes the same stale keys
        TFolderCatalogue listed; // freed outside the measurement, as the window keeps it
        const auto t0 = TClock::now();
        Floor(folder.Path);
        const auto t1 = TClock::now();
        listed = ReadFolderCatalogue(folder.Path);
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

void BM_WindowLoadFolder(benchmark::State &state)
{
    TBenchFolder folder(int(state.range(0)));
    TFrmMain window({folder.Path});
    double floorTotal = 0, loadTotal = 0;
    for (auto _ : state) {
        folder.Reset();
        const auto t0 = TClock::now();
        Floor(folder.Path);
        const auto t1 = TClock::now();
        benchmark::DoNotOptimize(window.LoadFolder(folder.Path));
        const auto t2 = TClock::now();
        floorTotal += Seconds(t1 - t0);
        loadTotal += Seconds(t2 - t1);
        state.SetIterationTime(Seconds(t2 - t1));
    }
    state.counters["load_ms"] = 1000 * loadTotal / double(state.iterations());
    state.counters["ratio"] = loadTotal / floorTotal;
}
BENCHMARK(BM_WindowLoadFolder)->Arg(100000)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_WriteStringIntoLargeFile(benchmark::State &state)
{
    TBenchFolder folder(int(state.range(0)));
    ProfileFile profile(folder.Path + "/Folder.dnt");
    double floorTotal = 0, writeTotal = 0;
    int i = 0;
    for (auto _ : state) {
        const auto t0 = TClock::now();
        benchmark::DoNotOptimize(ReadWholeFile(folder.Path + "/Folder.dnt"));
        const auto t1 = TClock::now();
        profile.WriteString("Files", "file_0050000.dat", "changed " + QByteArray::number(++i));
        const auto t2 = TClock::now();
        floorTotal += Seconds(t1 - t0);
        writeTotal += Seconds(t2 - t1);
        state.SetIterationTime(Seconds(t2 - t1));
    }
    state.counters["write_ms"] = 1000 * writeTotal / double(state.iterations());
    state.counters["ratio_to_read"] = writeTotal / floorTotal;
}
BENCHMARK(BM_WriteStringIntoLargeFile)->Arg(100000)->UseManualTime()->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
