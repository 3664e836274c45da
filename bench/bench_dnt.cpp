// SPDX-License-Identifier: GPL-3.0-or-later
// `dnt ls` of a folder of 100,000 described entries, the whole process as a user runs it, against
// a floor measured in the same run: `ls -f` of the same folder (one enumeration, no sorting, no
// descriptions). The goal is under 0.5 s.
//
//   build-rel/bench/bench_dnt [--benchmark_filter=...]
//
// The wall time counts the time other processes take the cores from it; on a busy machine,
// dnt_ls_cpu_s, or a run under `chrt -f 10`, shows the program's own time.

#include <QByteArray>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {
using TClock = std::chrono::steady_clock;

// n files, every one described, as a folder the window has described over time.
struct TBenchFolder {
    explicit TBenchFolder(int n)
    {
        Path = Dir.path().toUtf8();
        QByteArray desc = "[ThisFolder]\r\nText0=bench\r\n\r\n[Folders]\r\n\r\n[Files]\r\n";
        for (int i = 0; i < n; ++i) {
            const QByteArray name = "file_" + QByteArray::number(i).rightJustified(7, '0') + ".dat";
            ::close(::open((Path + '/' + name).constData(), O_CREAT | O_WRONLY, 0644));
            desc += name + "=Description of " + name + " with a few more words\r\n";
        }
        const int fd = ::open((Path + "/Folder.dnt").constData(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        (void)!::write(fd, desc.constData(), size_t(desc.size()));
        ::close(fd);
    }
    QTemporaryDir Dir;
    QByteArray Path;
};

// Runs the program to its end with its output read through a pipe, as a terminal or a script
// reads it; returns the bytes it printed and adds the processor time it took to *cpu.
size_t Run(std::vector<const char *> argv, double *cpu = nullptr)
{
    argv.push_back(nullptr);
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char **>(argv.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    size_t total = 0;
    char buffer[1 << 16];
    for (ssize_t n; !failed && (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        total += size_t(n);
    ::close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    if (!failed)
        ::wait4(pid, &status, 0, &usage);
    if (cpu)
        *cpu += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return total;
}

double Seconds(TClock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

void BM_DntLs(benchmark::State &state)
{
    const TBenchFolder folder(int(state.range(0)));
    double floorTotal = 0, lsTotal = 0, lsCpu = 0;
    size_t printed = 0;
    for (auto _ : state) {
        const auto t0 = TClock::now();
        benchmark::DoNotOptimize(Run({"/bin/ls", "-f", folder.Path.constData()}));
        const auto t1 = TClock::now();
        printed = Run({DNT_PATH, "ls", folder.Path.constData()}, &lsCpu);
        const auto t2 = TClock::now();
        floorTotal += Seconds(t1 - t0);
        lsTotal += Seconds(t2 - t1);
        state.SetIterationTime(Seconds(t2 - t1));
    }
    const double rounds = double(state.iterations());
    state.counters["dnt_ls_s"] = lsTotal / rounds;
    // Processor time of both threads: what a busy machine cannot inflate as it does the wall time.
    state.counters["dnt_ls_cpu_s"] = lsCpu / rounds;
    state.counters["floor_s"] = floorTotal / rounds;
    state.counters["ratio"] = lsTotal / floorTotal;
    state.counters["under_0.5s"] = lsTotal / rounds < 0.5 ? 1 : 0;
    state.counters["bytes_out"] = double(printed);
}
BENCHMARK(BM_DntLs)->Arg(100000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
} // namespace

BENCHMARK_MAIN();
