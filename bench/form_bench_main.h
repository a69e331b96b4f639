// The main of a window benchmark: the application first, drawn offscreen
// unless QT_QPA_PLATFORM names a platform.
#pragma once

#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdlib>

#define FORM_BENCHMARK_MAIN()                  \
  int main(int argc, char** argv) {            \
    setenv("QT_QPA_PLATFORM", "offscreen", 0); \
    QApplication application(argc, argv);      \
    benchmark::Initialize(&argc, argv);        \
    benchmark::RunSpecifiedBenchmarks();       \
    benchmark::Shutdown();                     \
    return 0;                                  \
  }
