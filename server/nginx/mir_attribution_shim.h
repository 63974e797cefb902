/* The C interface through which the nginx module uses the project's C++:
 * link keys, the release base, and the decision for one download. Every
 * function is noexcept on the C++ side: no exception crosses into nginx (memory
 * running out inside one ends that worker, and nginx's master starts
 * another). Texts are returned whole, in memory from the caller's
 * allocator (an nginx pool) or static; a reason never names the file (nginx
 * formats paths itself) and never holds key bytes. */
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

#define MIR_DIGEST_SIZE 32

typedef struct {
  size_t len;
  const unsigned char* data;
} mir_text;

/* Memory for returned texts: `alloc(pool, size)`, or null when none is left
 * (the text is then a static one saying so). */
typedef struct {
  void* (*alloc)(void* pool, size_t size);
  void* pool;
} mir_allocator;

typedef struct mir_link_keys mir_link_keys;

mir_link_keys* mir_link_keys_create(void) MIR_NOEXCEPT;
/* Wipes every key. */
void mir_link_keys_destroy(mir_link_keys* keys) MIR_NOEXCEPT;
/* Reads the key file `path` (NUL-terminated) under `id`: 0 on success, or
 * the reason in `reason` and MIR_KEY_FILE_REFUSED (the file cannot hold a
 * key) or MIR_KEY_ID_REFUSED (malformed, or given twice). */
#define MIR_KEY_FILE_REFUSED -1
#define MIR_KEY_ID_REFUSED -2
int mir_link_keys_add_file(mir_link_keys* keys, const char* id, size_t id_length, const char* path,
                           mir_allocator allocator, mir_text* reason) MIR_NOEXCEPT;

typedef struct {
  uint64_t file_size;
  uint64_t slot_offset;
  uint64_t slot_size;
  unsigned char digest[MIR_DIGEST_SIZE]; /* of the release, for its ETags */
} mir_release_base;

/* The release base open as `fd` (read with pread; not O_DIRECT): 0, or -1
 * with the reason it cannot be served as a base. */
int mir_find_release_base(int fd, mir_release_base* release_base, mir_allocator allocator,
                          mir_text* reason) MIR_NOEXCEPT;

typedef struct {
  int stamped;     /* 1: send base[0, slot_offset) and the slot's bytes */
  mir_text code;   /* static: "stamped", or why the base is sent, in short */
  mir_text value;  /* the stamped value; empty otherwise */
  mir_text etag;   /* with its quotes */
  mir_text reason; /* why the base is sent unchanged */
} mir_download;

/* What lets an expired link's paused download finish: a request with a
 * Range and an If-Range equal to the link's own stamped copy's ETag, at
 * most `grace_seconds` past the expiry. */
typedef struct {
  uint64_t grace_seconds;
  int has_range;
  mir_text if_range; /* length 0: none */
} mir_resume;

/* Decides what the download of `file_name` with `token` (length 0: none)
 * at `now` gets; fills `slot_bytes` (release_base->slot_size bytes) when
 * stamped. 0, or -1 when the allocator has no memory for the ETag. */
int mir_decide_download(const mir_link_keys* keys, const char* token, size_t token_length,
                        const char* file_name, size_t file_name_length, int64_t now,
                        const mir_resume* resume, const mir_release_base* release_base,
                        unsigned char* slot_bytes, mir_allocator allocator,
                        mir_download* download) MIR_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* SERVER_NGINX_MIR_ATTRIBUTION_SHIM_H_ */
