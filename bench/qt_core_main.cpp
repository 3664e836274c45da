// SPDX-License-Identifier: GPL-3.0-or-later
// The entry of the benchmarks whose code needs a Qt application object (an event loop, local
// sockets, timers) but no display.

#include <QCoreApplication>

#include <benchmark/benchmark.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
