/* The C interface through which the nginx module uses the project's C++:
 * link keys, the attribution slot of a reserved base, and the plan of one
 * download. Every function is noexcept on the C++ side: no exception
 * crosses into nginx (memory running out inside one ends that worker, and
 * nginx's master starts another). Messages are NUL-terminated, cut to the
 * buffer given, and never hold key bytes. */
#ifndef SERVER_NGINX_MIR_ATTRIBUTION_SHIM_H_
#define SERVER_NGINX_MIR_ATTRIBUTION_SHIM_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define MIR_NOEXCEPT noexcept
extern "C" {
#else
#define MIR_NOEXCEPT
#endif

#define MIR_MESSAGE_SIZE 160
#define MIR_ETAG_SIZE 80

typedef struct mir_link_keys mir_link_keys;

mir_link_keys* mir_link_keys_create(void) MIR_NOEXCEPT;
void mir_link_keys_destroy(mir_link_keys* keys) MIR_NOEXCEPT;
/* Reads the key file `path` (NUL-terminated) under `id`: 0 on success, -1
 * with the reason in `message`. */
int mir_link_keys_add_file(mir_link_keys* keys, const char* id, size_t id_length, const char* path,
                           char message[MIR_MESSAGE_SIZE]) MIR_NOEXCEPT;

typedef struct {
  uint64_t file_size;
  uint64_t offset;
  uint64_t size;
} mir_slot;

/* The attribution slot of the reserved base open as `fd` (read with pread):
 * 0, or -1 with the reason. */
int mir_find_slot(int fd, uint64_t file_size, mir_slot* slot,
                  char message[MIR_MESSAGE_SIZE]) MIR_NOEXCEPT;

typedef struct {
  int stamped;                   /* 1: send base[0, slot.offset) and the slot's bytes */
  char etag[MIR_ETAG_SIZE];      /* with its quotes */
  char reason[MIR_MESSAGE_SIZE]; /* why the base is sent unchanged */
} mir_download;

/* Plans the download of `file_name` with `token` (length 0: none) at `now`;
 * fills `slot_bytes` (slot->size bytes) when stamped. */
void mir_plan_download(const mir_link_keys* keys, const char* token, size_t token_length,
                       const char* file_name, size_t file_name_length, int64_t now, int64_t mtime,
                       const mir_slot* slot, unsigned char* slot_bytes,
                       mir_download* download) MIR_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* SERVER_NGINX_MIR_ATTRIBUTION_SHIM_H_ */
