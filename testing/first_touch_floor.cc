// What touching fresh memory costs natively: the floor under a program that
// copies a payload into a heap buffer of its own, as the launcher does with
// the installer (a streaming installer never pays it). Prints the seconds
// that one malloc and memcpy of SIZE bytes take, from a source touched
// beforehand, so that only the destination is new.
//   first_touch_floor [SIZE]   (default 232935280, the shipped installer's)
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

namespace {

constexpr size_t kDefaultSize = 232935280;
constexpr size_t kMaxSize = size_t{1} << 32;

struct FreeDeleter {
  void operator()(char* bytes) const { std::free(bytes); }
};
using Buffer = std::unique_ptr<char, FreeDeleter>;

}  // namespace

int main(int argc, char** argv) {
  size_t size = kDefaultSize;
  if (argc > 1) {
    const std::string_view text(argv[1]);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
    if (argc > 2 || error != std::errc() || end != text.data() + text.size() || size == 0 ||
        size > kMaxSize) {
      std::fprintf(stderr, "usage: first_touch_floor [SIZE, 1 to 4 GiB]\n");
      return 2;
    }
  }
  const Buffer source(static_cast<char*>(std::malloc(size)));
  if (!source) return 1;
  std::memset(source.get(), 1, size);
  const auto start = std::chrono::steady_clock::now();
  const Buffer destination(static_cast<char*>(std::malloc(size)));
  if (!destination) return 1;
  std::memcpy(destination.get(), source.get(), size);
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  // Read back, so that the copy cannot be left out.
  if (destination.get()[size / 2] != 1) return 1;
  std::printf("%.3f\n", seconds.count());
  return 0;
}
