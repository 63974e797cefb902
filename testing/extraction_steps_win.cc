// The launcher's extraction of one payload, step by step, each step timed:
// the same calls on the same sizes (a file mapping of the payload standing
// in for the resource section, which the loader also maps from the file),
// for scripts/benchmark-launcher.sh. Prints "step<TAB>milliseconds" lines.
//   extraction_steps PAYLOAD DIRECTORY   (DIRECTORY must not hold "payload.bin")
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <span>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/win/scoped_handle.h"

namespace {

constexpr DWORD kReadBackChunk = 1 << 20;  // the launcher's read-back chunk

class Stopwatch {
 public:
  Stopwatch() {
    ::QueryPerformanceFrequency(&frequency_);
    ::QueryPerformanceCounter(&last_);
  }
  // Prints the time since the last step under `step`.
  void Step(const char* step) {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    std::printf("%s\t%.1f\n", step,
                1e3 * double(now.QuadPart - last_.QuadPart) / frequency_.QuadPart);
    ::QueryPerformanceCounter(&last_);
  }

 private:
  LARGE_INTEGER frequency_;
  LARGE_INTEGER last_;
};

struct ViewUnmapper {
  void operator()(const char* view) const { ::UnmapViewOfFile(view); }
};
using ScopedView = std::unique_ptr<const char, ViewUnmapper>;

bool Fail(const char* what) {
  std::fprintf(stderr, "extraction_steps: %s failed, error %lu\n", what, ::GetLastError());
  return false;
}

bool Run(const wchar_t* payload_path, const base::PathValue& directory) {
  base::ScopedHandle payload(::CreateFileW(payload_path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER length = {};
  if (!payload.IsValid() || !::GetFileSizeEx(payload.Get(), &length) || length.QuadPart == 0 ||
      length.QuadPart > MAXDWORD) {
    return Fail("opening the payload");
  }
  const DWORD size = static_cast<DWORD>(length.QuadPart);
  base::ScopedHandle mapping(
      ::CreateFileMappingW(payload.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  const ScopedView view(mapping.IsValid() ? static_cast<const char*>(::MapViewOfFile(
                                                mapping.Get(), FILE_MAP_READ, 0, 0, 0))
                                          : nullptr);
  if (!view) return Fail("mapping the payload");
  const char* resource = view.get();
  const base::PathValue path = directory.AppendComponent(L"payload.bin");

  Stopwatch watch;
  for (DWORD offset = 0; offset < size; offset += 4096) {
    (void)static_cast<const volatile char*>(resource)[offset];  // volatile: never left out
  }
  watch.Step("the source's pages, touched one read each");
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[size]);
  if (!buffer) return Fail("new[]");
  watch.Step("new[] of the buffer");
  std::memcpy(buffer.get(), resource, size);
  watch.Step("memcpy (msvcrt) into it, its first touch");
  std::memcpy(buffer.get(), resource, size);
  watch.Step("memcpy again, both touched (reference)");
  if (!base::WriteFile(path, std::span<const char>(buffer.get(), size))) return Fail("WriteFile");
  watch.Step("WriteFile: open, one write, close");

  base::ScopedHandle file(::CreateFileW(path.Text().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  std::unique_ptr<char[]> chunk(new (std::nothrow) char[kReadBackChunk]);
  if (!file.IsValid() || !chunk) return Fail("opening for the read-back");
  watch.Step("read-back: open, 1 MiB chunk");
  LARGE_INTEGER frequency, before, after;
  ::QueryPerformanceFrequency(&frequency);
  LONGLONG reading = 0;
  bool same = true;
  size_t compared = 0;
  for (DWORD read = 0;; compared += read) {
    ::QueryPerformanceCounter(&before);
    if (!::ReadFile(file.Get(), chunk.get(), kReadBackChunk, &read, nullptr))
      return Fail("ReadFile");
    ::QueryPerformanceCounter(&after);
    reading += after.QuadPart - before.QuadPart;
    if (read == 0) break;
    same = same && read <= size - compared &&
           std::memcmp(chunk.get(), buffer.get() + compared, read) == 0;
  }
  if (!same || compared != size) return Fail("the read-back's comparison");
  watch.Step("read-back: ReadFile and memcmp (msvcrt)");
  std::printf("  of which ReadFile\t%.1f\n", 1e3 * double(reading) / frequency.QuadPart);
  buffer.reset();
  watch.Step("delete[] of the buffer");
  file.Close();
  if (!base::DeleteRecursively(path)) return Fail("deleting the file");
  watch.Step("deleting the written file");
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: extraction_steps PAYLOAD DIRECTORY\n");
    return 2;
  }
  return Run(argv[1], base::PathValue(argv[2])) ? 0 : 1;
}
