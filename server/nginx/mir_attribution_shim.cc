#include "server/nginx/mir_attribution_shim.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "mir_installer_win/installer/attribution_slot.h"
#include "server/attributed_download.h"
#include "server/link_key_file.h"
#include "server/link_token.h"

struct mir_link_keys {
  server::LinkKeys keys;
};

namespace {

void CopyMessage(std::string_view text, char* out, size_t size) {
  const size_t length = std::min(text.size(), size - 1);
  std::memcpy(out, text.data(), length);
  out[length] = '\0';
}

}  // namespace

extern "C" {

mir_link_keys* mir_link_keys_create(void) noexcept { return new (std::nothrow) mir_link_keys; }

void mir_link_keys_destroy(mir_link_keys* keys) noexcept { delete keys; }

int mir_link_keys_add_file(mir_link_keys* keys, const char* id, size_t id_length, const char* path,
                           char message[MIR_MESSAGE_SIZE]) noexcept {
  std::vector<uint8_t> key;
  std::string error;
  if (!server::ReadLinkKeyFile(path, key, error)) {
    CopyMessage(std::string("key file \"") + path + "\" " + error, message, MIR_MESSAGE_SIZE);
    return -1;
  }
  if (!keys->keys.Add(std::string_view(id, id_length), std::move(key), error)) {
    CopyMessage(error, message, MIR_MESSAGE_SIZE);
    return -1;
  }
  return 0;
}

int mir_find_slot(int fd, uint64_t file_size, mir_slot* slot,
                  char message[MIR_MESSAGE_SIZE]) noexcept {
  const auto read_at = [fd](uint64_t offset, installer::MutableByteSpan into) {
    for (size_t done = 0; done < into.size();) {
      const ssize_t got =
          pread(fd, into.data() + done, into.size() - done, static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      done += static_cast<size_t>(got);
    }
    return true;
  };
  installer::AttributionSlot found;
  std::string error;
  if (!installer::FindAttributionSlot(file_size, read_at, found, error)) {
    CopyMessage(error, message, MIR_MESSAGE_SIZE);
    return -1;
  }
  *slot = {found.file_size, found.offset, found.size};
  return 0;
}

void mir_plan_download(const mir_link_keys* keys, const char* token, size_t token_length,
                       const char* file_name, size_t file_name_length, int64_t now, int64_t mtime,
                       const mir_slot* slot, unsigned char* slot_bytes,
                       mir_download* download) noexcept {
  const installer::AttributionSlot found{slot->file_size, slot->offset, slot->size};
  const server::DownloadPlan plan =
      server::PlanDownload(keys->keys, std::string_view(token, token_length),
                           std::string_view(file_name, file_name_length), now, mtime, found,
                           installer::MutableByteSpan(slot_bytes, slot->size));
  download->stamped = plan.stamped ? 1 : 0;
  CopyMessage(plan.etag, download->etag, MIR_ETAG_SIZE);
  CopyMessage(plan.reason, download->reason, MIR_MESSAGE_SIZE);
}

}  // extern "C"
