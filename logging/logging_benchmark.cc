// A statement below the gate must cost no more than a few comparisons.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "logging/logging.h"

namespace {

constexpr logging::LogSource kSource{"mir_installer_win/setup_launcher/setup_launcher_main"};

void BM_EmptyLoop(benchmark::State& state) {
  int i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(++i);
}
BENCHMARK(BM_EmptyLoop);

void BM_GatedOffStatement(benchmark::State& state) {
  logging::ConfigureLogging(logging::LogSettings());
  int i = 0;
  for (auto _ : state) {
    LOG_AT(kSource, 330, INFO) << "Setup Launcher Starting " << ++i;
    benchmark::DoNotOptimize(i);
  }
}
BENCHMARK(BM_GatedOffStatement);

void BM_LineToFile(benchmark::State& state) {
  const auto path = std::filesystem::temp_directory_path() / "mir_logging_benchmark.log";
  logging::LogSettings settings;
  settings.destinations = logging::DestFile;
  settings.log_file_path = path.wstring();
  settings.old_file_mode = logging::DeleteOld;
  logging::ConfigureLogging(std::move(settings));
  int i = 0;
  for (auto _ : state) LOG_AT(kSource, 330, INFO) << "Setup Launcher Starting " << ++i;
  logging::ShutDownLogFile();
  logging::ConfigureLogging(logging::LogSettings());
  std::filesystem::remove(path);
}
BENCHMARK(BM_LineToFile);

}  // namespace

BENCHMARK_MAIN();
