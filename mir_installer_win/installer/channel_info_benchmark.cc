// Throughput of each record search over 64 MiB, against memchr over the
// same bytes. No input may make a search slower than linear.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "logging/logging.h"
#include "mir_installer_win/installer/channel_info.h"
#include "mir_installer_win/installer/pe_image.h"

namespace {

constexpr size_t kSize = 64 << 20;

enum Content { kRandom, kZeros, kNearMisses, kMalformedRecords };

const std::vector<uint8_t>& Buffer(Content content) {
  static std::vector<uint8_t> buffers[4];
  std::vector<uint8_t>& buffer = buffers[content];
  if (!buffer.empty()) return buffer;
  buffer.assign(kSize, 0);
  const auto fill = [&](std::string_view pattern) {
    for (size_t i = 0; i + pattern.size() <= kSize; i += pattern.size()) {
      std::memcpy(buffer.data() + i, pattern.data(), pattern.size());
    }
  };
  switch (content) {
    case kRandom: {
      std::mt19937_64 random(1);
      for (size_t i = 0; i < kSize; i += 8) {
        const uint64_t word = random();
        std::memcpy(buffer.data() + i, &word, 8);
      }
      break;
    }
    case kZeros:
      break;
    case kNearMisses:  // every tag and marker one byte short
      fill("CHANNEL_INFO:CHANNEL_INFOMIRBCH0:CHANNEL_INF");
      break;
    case kMalformedRecords:
      fill("CHANNEL_INFO:\xFF:CHANNEL_INFO");
      break;
  }
  return buffer;
}

template <typename Search>
void Run(benchmark::State& state, Search search) {
  logging::ConfigureLogging(logging::LogSettings());  // warnings are gated off, as in a test
  const std::vector<uint8_t>& buffer = Buffer(static_cast<Content>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(search(ByteSpan(buffer)));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buffer.size()));
}

void BM_Memchr(benchmark::State& state) {
  Run(state, [](ByteSpan span) { return std::memchr(span.data(), 0x7B, span.size()); });
}
void BM_Trailer(benchmark::State& state) { Run(state, FindChannelInfoTrailer); }
void BM_TrailerAfterDer(benchmark::State& state) { Run(state, FindChannelInfoTrailerAfterDer); }
void BM_Delimited(benchmark::State& state) { Run(state, FindChannelInfoDelimited); }
void BM_PeImage(benchmark::State& state) { Run(state, FindChannelInfoInPeImage); }

#define CONTENTS               \
  ->Arg(kRandom)               \
      ->Arg(kZeros)            \
      ->Arg(kNearMisses)       \
      ->Arg(kMalformedRecords) \
      ->Unit(benchmark::kMillisecond)
BENCHMARK(BM_Memchr) CONTENTS;
BENCHMARK(BM_Trailer) CONTENTS;
BENCHMARK(BM_TrailerAfterDer) CONTENTS;
BENCHMARK(BM_Delimited) CONTENTS;
BENCHMARK(BM_PeImage) CONTENTS;

}  // namespace

BENCHMARK_MAIN();
