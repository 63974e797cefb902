#include "server/nginx/mir_attribution_shim.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "mir_installer_win/installer/byte_source.h"
#include "server/attributed_download.h"
#include "server/link_key_file.h"
#include "server/link_token.h"
#include "server/release_base.h"

struct mir_link_keys {
  server::LinkKeys keys;
};

namespace {

static_assert(MIR_DIGEST_SIZE == base::kSha256Size);

// `out` = `text` in memory from `allocator`; false, with a static text
// saying so, when there is none.
bool CopyText(std::string_view text, const mir_allocator& allocator, mir_text& out) {
  static constexpr std::string_view kNoMemory = "no memory left for the message";
  auto* copy = static_cast<unsigned char*>(allocator.alloc(allocator.pool, text.size()));
  if (copy == nullptr && !text.empty()) {
    out = {kNoMemory.size(), reinterpret_cast<const unsigned char*>(kNoMemory.data())};
    return false;
  }
  std::copy(text.begin(), text.end(), copy);
  out = {text.size(), copy};
  return true;
}

}  // namespace

extern "C" {

mir_link_keys* mir_link_keys_create(void) noexcept { return new (std::nothrow) mir_link_keys; }

void mir_link_keys_destroy(mir_link_keys* keys) noexcept { delete keys; }

int mir_link_keys_add_file(mir_link_keys* keys, const char* id, size_t id_length, const char* path,
                           mir_allocator allocator, mir_text* reason) noexcept {
  base::SecretBytes key;
  std::string error;
  if (!server::ReadLinkKeyFile(path, key, error)) {
    CopyText(error, allocator, *reason);
    return MIR_KEY_FILE_REFUSED;
  }
  if (!keys->keys.Add(std::string_view(id, id_length), std::move(key), error)) {
    CopyText(error, allocator, *reason);
    return MIR_KEY_ID_REFUSED;
  }
  return 0;
}

int mir_find_release_base(int fd, mir_release_base* release_base, mir_allocator allocator,
                          mir_text* reason) noexcept {
  const std::unique_ptr<installer::ByteSource> source = installer::BorrowedDescriptorSource(fd);
  server::ReleaseBase release;
  std::string error;
  if (!server::FindReleaseBase(*source, release, error)) {
    CopyText(error, allocator, *reason);
    return -1;
  }
  release_base->file_size = release.slot.file_size;
  release_base->slot_offset = release.slot.offset;
  release_base->slot_size = release.slot.size;
  std::copy(release.digest.begin(), release.digest.end(), release_base->digest);
  return 0;
}

int mir_decide_download(const mir_link_keys* keys, const char* token, size_t token_length,
                        const char* file_name, size_t file_name_length, int64_t now,
                        const mir_resume* resume, const mir_release_base* release_base,
                        unsigned char* slot_bytes, mir_allocator allocator,
                        mir_download* download) noexcept {
  server::ReleaseBase release;
  release.slot = {release_base->file_size, release_base->slot_offset, release_base->slot_size};
  std::copy(release_base->digest, release_base->digest + MIR_DIGEST_SIZE, release.digest.begin());
  const server::ResumeRequest resume_request{
      resume->grace_seconds, resume->has_range != 0,
      std::string_view(reinterpret_cast<const char*>(resume->if_range.data), resume->if_range.len)};
  const server::DownloadDecision decision = server::DecideDownload(
      keys->keys, std::string_view(token, token_length),
      std::string_view(file_name, file_name_length), now, resume_request, release,
      installer::MutableByteSpan(slot_bytes, slot_bytes ? release_base->slot_size : 0));
  download->stamped = decision.stamped ? 1 : 0;
  download->code = {decision.code.size(),
                    reinterpret_cast<const unsigned char*>(decision.code.data())};
  CopyText(decision.reason, allocator, download->reason);
  return CopyText(decision.value, allocator, download->value) &&
                 CopyText(decision.etag, allocator, download->etag)
             ? 0
             : -1;
}

}  // extern "C"
