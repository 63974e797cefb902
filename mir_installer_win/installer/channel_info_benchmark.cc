// Throughput of each record search over 64 MiB, against memchr over the
// same bytes. No input may make a search slower than linear.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "logging/logging.h"
#include "mir_installer_win/installer/channel_info_search.h"
#include "mir_installer_win/installer/pe_image_search.h"
#include "testing/synthetic_pe_image.h"

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
  for (auto _ : state) benchmark::DoNotOptimize(search(installer::ByteSpan(buffer)));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buffer.size()));
}

// The yardstick: every 'C' found with memchr, as a tag search must do.
void BM_Memchr(benchmark::State& state) {
  Run(state, [](installer::ByteSpan span) {
    size_t count = 0;
    for (const uint8_t* p = span.data();
         (p = static_cast<const uint8_t*>(std::memchr(p, 'C', span.data() + span.size() - p)));
         ++p) {
      ++count;
    }
    return count;
  });
}
void BM_Trailer(benchmark::State& state) {
  Run(state, [](installer::ByteSpan span) { return installer::FindChannelInfoTrailer(span); });
}
void BM_TrailerAfterDer(benchmark::State& state) {
  Run(state,
      [](installer::ByteSpan span) { return installer::FindChannelInfoTrailerAfterDer(span); });
}
void BM_Delimited(benchmark::State& state) {
  Run(state, [](installer::ByteSpan span) { return installer::FindChannelInfoDelimited(span); });
}
// The buffer behind PE headers whose one certificate entry covers all of it,
// so the walk and the scan both search everything.
void BM_PeImage(benchmark::State& state) {
  static std::vector<uint8_t> images[4];
  std::vector<uint8_t>& image = images[state.range(0)];
  if (image.empty()) {
    test_support::SyntheticImage pe{Buffer(static_cast<Content>(state.range(0)))};
    const std::vector<uint8_t> headers = test_support::BaseSyntheticImage().PadTo(0x200).bytes;
    std::copy(headers.begin(), headers.end(), pe.bytes.begin());
    pe.Put32(0x12C, kSize - 0x200).Put32(0x200, kSize - 0x200);
    image = std::move(pe.bytes);
  }
  logging::ConfigureLogging(logging::LogSettings());
  for (auto _ : state) benchmark::DoNotOptimize(installer::FindChannelInfoInPeImage(image));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * image.size()));
}

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
