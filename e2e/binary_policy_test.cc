// What the shipped launcher's file itself promises, read from the file: the
// loader's protections, where its DLLs come from, its manifest and version
// resource, and a checksum that is not stale.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>

#include "mir_installer_win/installer/binary_format.h"
#include "mir_installer_win/installer/pe_image.h"
#include "strings/utf_string_conversions.h"
#include "testing/child_process_win.h"
#include "testing/scoped_temp_dir.h"
#include "tools/mir_attribution/stamp.h"

namespace e2e {
namespace {

using installer::ByteSpan;
using installer::ReadLe16;
using installer::ReadLe32;

// A PE32+ file read whole, with the offsets the rows need.
class Image {
 public:
  explicit Image(const std::wstring& path) : path_(path), bytes_(test_support::ReadBytes(path)) {
    installer::PeLayout layout;
    valid_ = installer::CheckPeHeaders(Span(), layout) == installer::PeHeaderCheck::kPassed;
    checksum_offset_ = layout.checksum_offset;
    optional_ = checksum_offset_ - installer::kChecksumField;
    e_ = optional_ - installer::kOptionalHeaderStart;
    valid_ = valid_ && ReadLe16(Span(), optional_) == installer::kPe32PlusMagic;
  }

  bool valid() const { return valid_; }
  const std::wstring& path() const { return path_; }
  ByteSpan Span() const {
    return ByteSpan(reinterpret_cast<const uint8_t*>(bytes_.data()), bytes_.size());
  }
  uint32_t At32(uint64_t offset) const { return ReadLe32(Span(), offset).value_or(0); }
  uint16_t At16(uint64_t offset) const { return ReadLe16(Span(), offset).value_or(0); }

  uint32_t TimeDateStamp() const { return At32(e_ + 8); }
  uint16_t DllCharacteristics() const { return At16(optional_ + 70); }
  uint32_t StoredChecksum() const { return At32(checksum_offset_); }
  uint32_t ComputedChecksum() const {
    mir_attribution::PeChecksum checksum(checksum_offset_);
    checksum.Add(Span());
    return checksum.Finish();
  }
  // DataDirectory[index]: its address and size.
  std::pair<uint32_t, uint32_t> Directory(int index) const {
    const uint64_t entry = optional_ + installer::kPe32PlusDirectories + 8 * index;
    return {At32(entry), At32(entry + 4)};
  }

  struct Section {
    std::string name;
    uint32_t address, size, raw_offset, characteristics;
  };
  std::vector<Section> Sections() const {
    std::vector<Section> sections;
    const uint64_t table = optional_ + At16(e_ + installer::kOptionalHeaderSizeField);
    for (uint16_t i = 0; i < At16(e_ + 6); ++i) {
      const uint64_t header = table + 40 * i;
      if (!installer::Contains(Span(), header, 40)) break;
      std::string name(bytes_.data() + header, 8);
      name.resize(name.find('\0') == std::string::npos ? 8 : name.find('\0'));
      sections.push_back({name, At32(header + 12), std::max(At32(header + 8), At32(header + 16)),
                          At32(header + 20), At32(header + 36)});
    }
    return sections;
  }
  // The file offset of a memory address, or 0 when no section holds it.
  uint64_t Offset(uint32_t rva) const {
    for (const Section& section : Sections()) {
      if (rva >= section.address && rva - section.address < section.size)
        return uint64_t{rva} - section.address + section.raw_offset;
    }
    return 0;
  }
  std::string TextAt(uint32_t rva) const {
    const uint64_t offset = Offset(rva);
    if (offset == 0 || offset >= bytes_.size()) return "";
    return std::string(bytes_.c_str() + offset);
  }

 private:
  std::wstring path_;
  std::string bytes_;
  bool valid_ = false;
  uint64_t checksum_offset_ = 0, optional_ = 0, e_ = 0;
};

std::string Imports(const Image& image) {
  std::set<std::string> names;
  const uint64_t table = image.Offset(image.Directory(1).first);
  for (uint64_t entry = table; table != 0; entry += 20) {
    const uint32_t name = image.At32(entry + 12);
    if (name == 0) break;
    std::string dll = image.TextAt(name);
    std::transform(dll.begin(), dll.end(), dll.begin(), [](char c) { return std::tolower(c); });
    names.insert(dll);
  }
  std::string joined;
  for (const std::string& name : names) joined += (joined.empty() ? "" : " ") + name;
  return joined;
}

std::string LoadConfigField(const Image& image, uint64_t field, int size) {
  const auto [address, length] = image.Directory(10);
  const uint64_t offset = image.Offset(address);
  if (offset == 0 || length < 0x50 || image.At32(offset) != length) return "missing";
  return std::to_string(size == 2 ? image.At16(offset + field) : image.At32(offset + field));
}

std::string WritableAndExecutable(const Image& image) {
  std::string names;
  for (const Image::Section& section : image.Sections()) {
    if ((section.characteristics & IMAGE_SCN_MEM_WRITE) &&
        (section.characteristics & IMAGE_SCN_MEM_EXECUTE)) {
      names += section.name + " ";
    }
  }
  return names;
}

std::string Manifest(const Image& image) {
  const HMODULE module = LoadLibraryExW(image.path().c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) return "";
  std::string text;
  if (HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
    const void* bytes = LockResource(LoadResource(module, found));
    if (bytes) text.assign(static_cast<const char*>(bytes), SizeofResource(module, found));
  }
  FreeLibrary(module);
  return text;
}

// A string of the version resource ("ProductName", ...), or "<none>"; "\"
// gives the fixed file and product versions.
std::string VersionValue(const Image& image, const std::wstring& name) {
  const DWORD size = GetFileVersionInfoSizeW(image.path().c_str(), nullptr);
  std::string info(size, '\0');
  if (size == 0 || !GetFileVersionInfoW(image.path().c_str(), 0, size, info.data()))
    return "<none>";
  void* value = nullptr;
  UINT length = 0;
  if (name == L"\\") {
    if (!VerQueryValueW(info.data(), L"\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO))
      return "<none>";
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    const auto quad = [](DWORD high, DWORD low) {
      return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
             std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
    };
    return quad(fixed->dwFileVersionMS, fixed->dwFileVersionLS) + " " +
           quad(fixed->dwProductVersionMS, fixed->dwProductVersionLS);
  }
  const std::wstring query = L"\\StringFileInfo\\040904B0\\" + name;
  if (!VerQueryValueW(info.data(), query.c_str(), &value, &length) || length == 0) return "<none>";
  return strings::WideToUtf8(std::wstring(static_cast<const wchar_t*>(value), length - 1));
}

std::string Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos ? "present" : "absent";
}

TEST(BinaryPolicyTest, ShippedLauncher) {
  const std::string version = MIR_VERSION_TEXT;
  const struct {
    const char* property;
    std::function<std::string(const Image&)> actual;
    std::string expected;
  } rows[] = {
      {"ASLR, high-entropy addresses",
       [](const Image& i) { return std::to_string(i.DllCharacteristics() & 0x60); }, "96"},
      {"NX", [](const Image& i) { return std::to_string(i.DllCharacteristics() & 0x100); }, "256"},
      {"sections both writable and executable", WritableAndExecutable, ""},
      {"no link timestamp", [](const Image& i) { return std::to_string(i.TimeDateStamp()); }, "0"},
      {"DependentLoadFlags", [](const Image& i) { return LoadConfigField(i, 0x4E, 2); },
       std::to_string(LOAD_LIBRARY_SEARCH_SYSTEM32)},
      // Only DLLs that Windows always takes from System32 (known DLLs).
      {"imports", Imports, "advapi32.dll kernel32.dll msvcrt.dll user32.dll"},
      {"manifest asInvoker",
       [](const Image& i) { return Contains(Manifest(i), "level=\"asInvoker\""); }, "present"},
      {"manifest supportedOS Windows 10 and 11",
       [](const Image& i) {
         return Contains(Manifest(i),
                         "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>");
       },
       "present"},
      {"manifest per-monitor DPI awareness",
       [](const Image& i) {
         return Contains(Manifest(i), ">PerMonitorV2, PerMonitor</dpiAwareness>");
       },
       "present"},
      {"manifest dependencies", [](const Image& i) { return Contains(Manifest(i), "<dependency"); },
       "absent"},
      {"ProductName", [](const Image& i) { return VersionValue(i, L"ProductName"); },
       "Mirelo Browser"},
      {"CompanyName", [](const Image& i) { return VersionValue(i, L"CompanyName"); }, "Mirelo"},
      {"FileDescription", [](const Image& i) { return VersionValue(i, L"FileDescription"); },
       "Mirelo Browser Setup"},
      {"OriginalFilename", [](const Image& i) { return VersionValue(i, L"OriginalFilename"); },
       "mir_setup_launcher.exe"},
      {"LegalCopyright", [](const Image& i) { return VersionValue(i, L"LegalCopyright"); },
       "Copyright 2026 Mirelo. All rights reserved."},
      {"FileVersion", [](const Image& i) { return VersionValue(i, L"FileVersion"); }, version},
      {"ProductVersion", [](const Image& i) { return VersionValue(i, L"ProductVersion"); },
       version},
      {"fixed file and product version", [](const Image& i) { return VersionValue(i, L"\\"); },
       version + " " + version},
      // lld writes no checksum (0); a checksum that is there must be right.
      {"checksum",
       [](const Image& i) {
         return i.StoredChecksum() == 0 || i.StoredChecksum() == i.ComputedChecksum() ? "right"
                                                                                      : "stale";
       },
       "right"},
  };
  for (const wchar_t* name : {L"mir_setup_launcher.exe", L"e2e_launcher.exe"}) {
    SCOPED_TRACE(strings::WideToUtf8(name));
    const Image image(test_support::SiblingProgram(name));
    ASSERT_TRUE(image.valid());
    for (const auto& row : rows) {
      SCOPED_TRACE(row.property);
      EXPECT_EQ(row.actual(image), row.expected);
    }
  }
}

}  // namespace
}  // namespace e2e
