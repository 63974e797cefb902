// A small PE32+ image with a certificate table whose one WIN_CERTIFICATE
// carries a trailer record after a tiny DER element, and the variants of it
// that exercise each stage of the attribution search. Each variant says what
// the locator finds when the image is a file, and which lines it logs.
#ifndef TESTING_SYNTHETIC_PE_IMAGE_H_
#define TESTING_SYNTHETIC_PE_IMAGE_H_

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mir_installer_win/installer/attribution_slot.h"
#include "mir_installer_win/installer/byte_source.h"
#include "mir_installer_win/installer/channel_info_search.h"
#include "testing/expected_log_line.h"

namespace test_support {

struct SyntheticImage {
  std::vector<uint8_t> bytes;

  void Put(size_t offset, std::string_view text) {
    if (bytes.size() < offset + text.size()) bytes.resize(offset + text.size());
    for (size_t i = 0; i < text.size(); ++i) bytes[offset + i] = static_cast<uint8_t>(text[i]);
  }
  SyntheticImage& Put16(size_t offset, uint16_t value) {
    Put(offset, std::string{static_cast<char>(value), static_cast<char>(value >> 8)});
    return *this;
  }
  SyntheticImage& Put32(size_t offset, uint32_t value) {
    Put16(offset, static_cast<uint16_t>(value));
    return Put16(offset + 2, static_cast<uint16_t>(value >> 16));
  }
  SyntheticImage& Append(std::string_view text) {
    Put(bytes.size(), text);
    return *this;
  }
  SyntheticImage& PadTo(size_t size) {
    bytes.resize(size);
    return *this;
  }
};

// The image of 552 bytes: MZ, e_lfanew 0x80, PE32+ with 16 directories, the
// certificate table at 0x200 of 40 bytes holding one entry of 37 bytes.
inline SyntheticImage BaseSyntheticImage() {
  SyntheticImage image;
  image.bytes.assign(0x228, 0);
  image.Put(0, "MZ");
  image.Put32(0x3C, 0x80);
  image.Put(0x80, std::string("PE\0\0", 4));
  image.Put16(0x94, 0xF0);
  image.Put16(0x98, 0x20B);
  image.Put32(0x104, 16);
  image.Put32(0x128, 0x200);
  image.Put32(0x12C, 0x28);
  image.Put32(0x200, 0x25);
  image.Put16(0x204, 0x0200);
  image.Put16(0x206, 0x0002);
  image.Put(0x208, std::string("\x30\x03\x02\x01\x01MIRBCH01\x0C\0\0\0source=promo", 29));
  return image;
}

// The image as a release's base: its one entry holds the signature, padding
// to 8 and a zero attribution slot of 4,112 bytes that ends the file.
inline SyntheticImage ReservedSyntheticImage() {
  SyntheticImage image = BaseSyntheticImage();
  image.PadTo(0x20D).PadTo(0x210 + 4112);
  image.Put32(0x12C, 0x10 + 4112);
  image.Put32(0x200, 0x10 + 4112);
  return image;
}

// ReadSignedImage of `bytes` read as a file.
inline bool ReadSignedImageOf(installer::ByteSpan bytes, installer::SignedImage& image,
                              std::string& error) {
  installer::MemorySource source(bytes);
  return installer::ReadSignedImage(source, image, error);
}

// Whether a search's `place` points, in `bytes`, at the record of `value`.
inline bool PointsAtRecord(installer::ByteSpan bytes, const installer::RecordPlace& place,
                           std::string_view value) {
  std::string record, error;
  return installer::EncodeRecord(value, place.form, record, error) &&
         installer::Contains(bytes, place.offset, record.size()) &&
         std::ranges::equal(installer::AsBytes(record), bytes.subspan(place.offset, record.size()));
}

struct PeVariant {
  const char* name;
  SyntheticImage image;
  std::string value;
  bool found_by_tail;              // the tail window finds it (line 545)
  std::vector<std::string> lines;  // what the file search logs, timestamps aside
};

inline std::vector<PeVariant> PeVariants() {
  std::vector<PeVariant> variants;
  auto variant = [](void (*change)(SyntheticImage&)) {
    SyntheticImage image = BaseSyntheticImage();
    change(image);
    return image;
  };
  variants.push_back({"as listed",
                      BaseSyntheticImage(),
                      "source=promo",
                      true,
                      {AttributionLine(545,
                                       "CHANNEL_INFO from file tail window (552 "
                                       "bytes, same idea as 4f51b96/8656c3c2)")}});
  variants.push_back({"XYZ appended",
                      variant([](SyntheticImage& i) { i.Append("XYZ"); }),
                      "source=promo",
                      false,
                      {}});
  variants.push_back({"XYZ appended, Size 0",
                      variant([](SyntheticImage& i) {
                        i.Append("XYZ");
                        i.Put32(0x12C, 0);
                      }),
                      "",
                      false,
                      {AttributionLine(360,
                                       "PE Security directory empty: cert_rva=512 cert_size=0 "
                                       "(unsigned exe or header cleared by repack tool)",
                                       "WARNING"),
                       AttributionLine(479,
                                       "No CHANNEL_INFO after PE-buffer attempts; cert_rva=512 "
                                       "data_dir_size=0 first_dwLength=37 table_bytes_used=0 "
                                       "file_size=555")}});
  variants.push_back({"XYZ appended, Size 16",
                      variant([](SyntheticImage& i) {
                        i.Append("XYZ");
                        i.Put32(0x12C, 16);
                      }),
                      "source=promo",
                      false,
                      {AttributionLine(401,
                                       "DataDirectory[4].Size (16) < first WIN_CERT.dwLength "
                                       "(37); using dwLength for read (fix injector to update "
                                       "both).",
                                       "WARNING")}});
  variants.push_back({"XYZ appended, Size 5",
                      variant([](SyntheticImage& i) {
                        i.Append("XYZ");
                        i.Put32(0x12C, 5);
                      }),
                      "",
                      false,
                      {AttributionLine(367, "cert_size too small: 5", "ERROR")}});
  variants.push_back({"XYZ appended, Size 256",
                      variant([](SyntheticImage& i) {
                        i.Append("XYZ");
                        i.Put32(0x12C, 256);
                      }),
                      "",
                      false,
                      {AttributionLine(380,
                                       "DataDirectory[4] overruns file: cert_rva=512 "
                                       "cert_size=256 file_size=555; will try cert_rva..EOF "
                                       "scan only.",
                                       "WARNING"),
                       AttributionLine(479,
                                       "No CHANNEL_INFO after PE-buffer attempts; cert_rva=512 "
                                       "data_dir_size=256 first_dwLength=37 table_bytes_used=256 "
                                       "file_size=555")}});
  variants.push_back({"XYZ appended, dwLength 4",
                      variant([](SyntheticImage& i) {
                        i.Append("XYZ");
                        i.Put32(0x200, 4);
                      }),
                      "",
                      false,
                      {AttributionLine(420, "WIN_CERTIFICATE dwLength too small: 4", "ERROR"),
                       AttributionLine(479,
                                       "No CHANNEL_INFO after PE-buffer attempts; cert_rva=512 "
                                       "data_dir_size=40 first_dwLength=4 table_bytes_used=40 "
                                       "file_size=555")}});
  variants.push_back({"zeros up to 2 MiB",
                      variant([](SyntheticImage& i) { i.PadTo(2097152); }),
                      "source=promo",
                      false,
                      {}});
  variants.push_back({"zeros up to 2 MiB, Size 0",
                      variant([](SyntheticImage& i) {
                        i.PadTo(2097152);
                        i.Put32(0x12C, 0);
                      }),
                      "source=promo",
                      false,
                      {AttributionLine(360,
                                       "PE Security directory empty: cert_rva=512 cert_size=0 "
                                       "(unsigned exe or header cleared by repack tool)",
                                       "WARNING"),
                       AttributionLine(473,
                                       "CHANNEL_INFO found via cert_rva..EOF scan (structured "
                                       "walk missed or skipped)",
                                       "WARNING")}});
  variants.push_back({"two entries, the later wins",
                      variant([](SyntheticImage& i) {
                        i.PadTo(0x200);
                        i.Put32(0x12C, 64);
                        for (size_t entry : {0x200u, 0x220u}) {
                          i.PadTo(entry + 32);
                          i.Put32(entry, 25);
                          i.Put(entry + 8, std::string("\x30\x00MIRBCH01\x03\0\0\0", 14));
                          i.Put(entry + 22, entry == 0x200 ? "one" : "two");
                        }
                        i.Append("XYZ");
                      }),
                      "two",
                      false,
                      {}});
  variants.push_back({"PE32+ optional header too short",
                      variant([](SyntheticImage& i) {
                        i.Put16(0x94, 0x90);
                        i.Append("XYZ");
                      }),
                      "",
                      false,
                      {AttributionLine(354,
                                       "ParsePeHeaders failed (not a PE or "
                                       "unsupported optional header)",
                                       "ERROR")}});
  variants.push_back({"PE32",
                      variant([](SyntheticImage& i) {
                        i.Put16(0x98, 0x10B);
                        i.Put16(0x94, 0x88);
                        i.Put32(0x104, 0);
                        i.Put32(0xF4, 16);
                        i.Put32(0x128, 0);
                        i.Put32(0x12C, 0);
                        i.Put32(0x118, 0x200);
                        i.Put32(0x11C, 0x28);
                        i.Append("XYZ");
                      }),
                      "source=promo",
                      false,
                      {}});
  return variants;
}

}  // namespace test_support

#endif  // TESTING_SYNTHETIC_PE_IMAGE_H_
