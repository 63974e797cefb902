// What the shipped launcher's file itself promises: the loader's protections,
// where its DLLs come from, its manifest and version resource, and a checksum
// that is not stale.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>

#include "mir_installer_win/installer/pe_image.h"
#include "strings/utf_string_conversions.h"
#include "testing/child_process_win.h"
#include "testing/scoped_temp_dir.h"
#include "tools/mir_attribution/stamp.h"

namespace e2e {
namespace {

// The file mapped as an image (sections at their addresses), not run.
struct Image {
  explicit Image(const std::wstring& file) : path(file) {
    module = LoadLibraryExW(file.c_str(), nullptr,
                            LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    // The handle of a module mapped as a resource has its low bits set.
    base = reinterpret_cast<const BYTE*>(reinterpret_cast<uintptr_t>(module) & ~uintptr_t{3});
    if (base)
      nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + PIMAGE_DOS_HEADER(base)->e_lfanew);
  }
  ~Image() { FreeLibrary(module); }
  const IMAGE_DATA_DIRECTORY& Directory(int index) const {
    return nt->OptionalHeader.DataDirectory[index];
  }

  std::wstring path;
  HMODULE module = nullptr;
  const BYTE* base = nullptr;
  const IMAGE_NT_HEADERS64* nt = nullptr;
};

std::string Imports(const Image& image) {
  std::set<std::string> names;
  const auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
      image.base + image.Directory(IMAGE_DIRECTORY_ENTRY_IMPORT).VirtualAddress);
  for (; entry->Name != 0; ++entry) {
    std::string name = reinterpret_cast<const char*>(image.base + entry->Name);
    std::transform(name.begin(), name.end(), name.begin(), [](char c) { return std::tolower(c); });
    names.insert(name);
  }
  std::string joined;
  for (const std::string& name : names) joined += (joined.empty() ? "" : " ") + name;
  return joined;
}

std::string DependentLoadFlags(const Image& image) {
  const IMAGE_DATA_DIRECTORY& entry = image.Directory(IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG);
  DWORD size = 0;
  WORD flags = 0;
  if (entry.Size < 0x50) return "no load configuration";
  memcpy(&size, image.base + entry.VirtualAddress, sizeof(size));
  memcpy(&flags, image.base + entry.VirtualAddress + 0x4E, sizeof(flags));
  return size == entry.Size ? std::to_string(flags) : "size differs";
}

std::string WritableAndExecutable(const Image& image) {
  std::string names;
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(image.nt);
  for (WORD i = 0; i < image.nt->FileHeader.NumberOfSections; ++i, ++section) {
    if ((section->Characteristics & IMAGE_SCN_MEM_WRITE) &&
        (section->Characteristics & IMAGE_SCN_MEM_EXECUTE)) {
      names += std::string(reinterpret_cast<const char*>(section->Name), 8).c_str();
    }
  }
  return names;
}

// Whether the embedded manifest (resource 1 of type 24) holds `part`.
std::string Manifest(const Image& image, const std::string& part) {
  const HRSRC found = FindResourceW(image.module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  const void* bytes = found ? LockResource(LoadResource(image.module, found)) : nullptr;
  if (!bytes) return "no manifest";
  const std::string text(static_cast<const char*>(bytes), SizeofResource(image.module, found));
  return text.find(part) != std::string::npos ? "present" : "absent";
}

// A string of the version resource, read the way Explorer reads it; "\"
// gives the fixed file and product versions.
std::string Version(const Image& image, const std::wstring& name) {
  std::string info(GetFileVersionInfoSizeW(image.path.c_str(), nullptr), '\0');
  void* value = nullptr;
  UINT length = 0;
  if (info.empty() || !GetFileVersionInfoW(image.path.c_str(), 0, info.size(), info.data()))
    return "<none>";
  if (name == L"\\") {
    if (!VerQueryValueW(info.data(), L"\\", &value, &length)) return "<none>";
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    std::string versions;
    for (DWORD part : {fixed->dwFileVersionMS, fixed->dwFileVersionLS, fixed->dwProductVersionMS,
                       fixed->dwProductVersionLS}) {
      versions += std::to_string(HIWORD(part)) + "." + std::to_string(LOWORD(part)) + ".";
    }
    return versions;
  }
  const std::wstring query = L"\\StringFileInfo\\040904B0\\" + name;
  if (!VerQueryValueW(info.data(), query.c_str(), &value, &length) || length == 0) return "<none>";
  return strings::WideToUtf8(std::wstring(static_cast<const wchar_t*>(value), length - 1));
}

// lld writes no checksum (0); one that is there must be the file's own.
std::string Checksum(const Image& image) {
  const std::string file = test_support::ReadBytes(image.path);
  const installer::ByteSpan bytes(reinterpret_cast<const uint8_t*>(file.data()), file.size());
  installer::PeLayout layout;
  if (installer::CheckPeHeaders(bytes, layout) != installer::PeHeaderCheck::kPassed) return "no PE";
  mir_attribution::PeChecksum checksum(layout.checksum_offset);
  checksum.Add(bytes);
  const uint32_t stored = image.nt->OptionalHeader.CheckSum;
  return stored == 0 || stored == checksum.Finish() ? "right" : "stale";
}

TEST(BinaryPolicyTest, ShippedLauncher) {
  const std::string version = MIR_VERSION_TEXT;
  const std::string versions = version + "." + version + ".";  // file, then product
  const struct {
    const char* property;
    std::function<std::string(const Image&)> actual;
    std::string expected;
  } rows[] = {
      {"ASLR with high-entropy addresses, NX",
       [](const Image& i) {
         return std::to_string(i.nt->OptionalHeader.DllCharacteristics & 0x160);
       },
       "352"},
      {"sections both writable and executable", WritableAndExecutable, ""},
      {"link timestamp",
       [](const Image& i) { return std::to_string(i.nt->FileHeader.TimeDateStamp); }, "0"},
      {"DependentLoadFlags", DependentLoadFlags, std::to_string(LOAD_LIBRARY_SEARCH_SYSTEM32)},
      // Only DLLs that Windows always takes from System32 (known DLLs).
      {"imports", Imports, "advapi32.dll kernel32.dll msvcrt.dll user32.dll"},
      {"manifest asInvoker", [](const Image& i) { return Manifest(i, "level=\"asInvoker\""); },
       "present"},
      {"manifest Windows 10 and 11",
       [](const Image& i) { return Manifest(i, "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"); },
       "present"},
      {"manifest per-monitor DPI awareness",
       [](const Image& i) { return Manifest(i, ">PerMonitorV2, PerMonitor</dpiAwareness>"); },
       "present"},
      {"manifest dependencies", [](const Image& i) { return Manifest(i, "<dependency"); },
       "absent"},
      {"ProductName", [](const Image& i) { return Version(i, L"ProductName"); }, "Mirelo Browser"},
      {"CompanyName", [](const Image& i) { return Version(i, L"CompanyName"); }, "Mirelo"},
      {"FileDescription", [](const Image& i) { return Version(i, L"FileDescription"); },
       "Mirelo Browser Setup"},
      {"OriginalFilename", [](const Image& i) { return Version(i, L"OriginalFilename"); },
       "mir_setup_launcher.exe"},
      {"LegalCopyright", [](const Image& i) { return Version(i, L"LegalCopyright"); },
       "Copyright 2026 Mirelo. All rights reserved."},
      {"FileVersion", [](const Image& i) { return Version(i, L"FileVersion"); }, version},
      {"ProductVersion", [](const Image& i) { return Version(i, L"ProductVersion"); }, version},
      {"fixed versions", [](const Image& i) { return Version(i, L"\\"); }, versions},
      {"checksum", Checksum, "right"},
  };
  for (const wchar_t* name : {L"mir_setup_launcher.exe", L"e2e_launcher.exe"}) {
    SCOPED_TRACE(strings::WideToUtf8(name));
    const Image image(test_support::SiblingProgram(name));
    ASSERT_NE(image.nt, nullptr) << GetLastError();
    for (const auto& row : rows) {
      SCOPED_TRACE(row.property);
      EXPECT_EQ(row.actual(image), row.expected);
    }
  }
}

}  // namespace
}  // namespace e2e
