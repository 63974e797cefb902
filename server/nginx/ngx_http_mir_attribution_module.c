/* Serves a reserved launcher base under a prefix location, stamped per
 * download:
 *
 *   mir_attribution_key <key id> <key file>;       (http; repeatable)
 *   mir_attribution_resume_grace <time>;           (http, server, location;
 *                                                   7d by default)
 *   location /download/ { mir_attribution <base>; }
 *   location /download/ { mir_attribution <folder>/; }   (every base in it)
 *
 *   /download/<token>/<base's file name>  the stamped copy: the base up to its
 *                                         attribution slot, sent from the file,
 *                                         then the filled slot from memory
 *   /download/<base's file name>          the base unchanged
 *
 * A folder (its path ends with '/') serves each base in it by the name in
 * the URL, one path segment not starting with '.' (a copy in progress is
 * put under a hidden name, then renamed). Every file in it that is not
 * hidden must be a base when the configuration is read.
 *
 * The token is a whole path segment: after a prefix without a trailing slash
 * the URI must go on with '/'. Every location inside (nested, `if`,
 * `limit_except`) serves the same, unless it has a content handler of its
 * own. A regex, exact or named location has no prefix to take the token
 * after, and is refused.
 *
 * A token that fails (malformed, unknown key, forged, expired, a value the
 * launcher refuses) gets the base unchanged and an `info` line with the
 * reason: a download never fails for its attribution. An expired link still
 * gets its stamped copy for the resume grace after its expiry, but only for
 * a Range with If-Range: that copy's ETag (a paused download that a browser
 * resumes), never for a new download. nginx's own filters
 * serve HEAD, Range, If-Range and conditional requests from the headers set
 * here. There is no Last-Modified: copies of one release on two servers
 * would differ in it, and a resume by date could join two values' bytes. The
 * token and base code is the project's C++, behind the C shim. */

#include <ngx_config.h>
#include <ngx_core.h>
#include <ngx_http.h>

#include "mir_attribution_shim.h"

typedef struct {
  mir_link_keys* keys;
  ngx_uint_t key_count;
  ngx_uint_t used; /* by a location */
} ngx_http_mir_attribution_main_conf_t;

#define NGX_HTTP_MIR_ATTRIBUTION_NAME_MAX 255
#define NGX_HTTP_MIR_ATTRIBUTION_FOLDER_FILES 64

/* What this worker last found in one base, found again when the file
 * changes (a new release put in place under the same name). */
typedef struct {
  u_char name[NGX_HTTP_MIR_ATTRIBUTION_NAME_MAX]; /* in a folder */
  size_t name_len;                                /* 0: a free entry */

  ngx_uint_t known;  /* the file below was examined */
  ngx_uint_t usable; /* ... and is a base */
  ngx_file_uniq_t uniq;
  off_t size;
  time_t mtime;
  mir_release_base base;
} ngx_http_mir_attribution_file_t;

/* The base or folder one `mir_attribution` names, shared by the locations
 * inside its own. A folder remembers its files by name, up to
 * FOLDER_FILES of them at once (more are examined again when they come
 * back). */
typedef struct {
  ngx_str_t path;      /* NUL-terminated; a folder's ends with '/' */
  ngx_str_t file_name; /* the base's last component; empty for a folder */
  ngx_str_t prefix;    /* of the location that names it */

  ngx_uint_t folder;
  ngx_http_mir_attribution_file_t* files; /* one, or FOLDER_FILES */
  ngx_uint_t next_reused;                 /* when all of a folder's are taken */
} ngx_http_mir_attribution_served_t;

typedef struct {
  ngx_http_mir_attribution_served_t* served;
  time_t resume_grace;
} ngx_http_mir_attribution_loc_conf_t;

#define NGX_HTTP_MIR_ATTRIBUTION_RESUME_GRACE (7 * 24 * 60 * 60)

/* What one request got, for the variables $mir_attribution (the short code
 * of the C++ side: "stamped" or why the base was sent; "no-base" when no
 * base could be sent), $mir_attribution_value (the stamped value),
 * $mir_attribution_path (the request's path without its token),
 * $mir_attribution_range (the file's bytes the body carries, "FIRST-LAST/SIZE")
 * and $mir_attribution_last_byte ("1" when that reaches the file's last
 * byte), so that an access log can count downloads without keeping the
 * links: one download is the response that sends the last byte and
 * completes ($request_completion). */
typedef struct {
  ngx_str_t code;
  ngx_str_t value;
  ngx_str_t path;
  off_t size; /* of the file sent; 0 until it is known */
} ngx_http_mir_attribution_ctx_t;

static void* ngx_http_mir_attribution_create_main_conf(ngx_conf_t* cf);
static void* ngx_http_mir_attribution_create_loc_conf(ngx_conf_t* cf);
static char* ngx_http_mir_attribution_merge_loc_conf(ngx_conf_t* cf, void* parent, void* child);
static char* ngx_http_mir_attribution_key(ngx_conf_t* cf, ngx_command_t* cmd, void* conf);
static char* ngx_http_mir_attribution(ngx_conf_t* cf, ngx_command_t* cmd, void* conf);
static ngx_int_t ngx_http_mir_attribution_init(ngx_conf_t* cf);
static ngx_int_t ngx_http_mir_attribution_add_variables(ngx_conf_t* cf);
static ngx_int_t ngx_http_mir_attribution_variable(ngx_http_request_t* r,
                                                   ngx_http_variable_value_t* v, uintptr_t data);
static ngx_int_t ngx_http_mir_attribution_range_variable(ngx_http_request_t* r,
                                                         ngx_http_variable_value_t* v,
                                                         uintptr_t data);
static ngx_int_t ngx_http_mir_attribution_handler(ngx_http_request_t* r);

static ngx_command_t ngx_http_mir_attribution_commands[] = {

    {ngx_string("mir_attribution_key"), NGX_HTTP_MAIN_CONF | NGX_CONF_TAKE2,
     ngx_http_mir_attribution_key, NGX_HTTP_MAIN_CONF_OFFSET, 0, NULL},

    {ngx_string("mir_attribution"), NGX_HTTP_LOC_CONF | NGX_CONF_TAKE1, ngx_http_mir_attribution,
     NGX_HTTP_LOC_CONF_OFFSET, 0, NULL},

    {ngx_string("mir_attribution_resume_grace"),
     NGX_HTTP_MAIN_CONF | NGX_HTTP_SRV_CONF | NGX_HTTP_LOC_CONF | NGX_CONF_TAKE1,
     ngx_conf_set_sec_slot, NGX_HTTP_LOC_CONF_OFFSET,
     offsetof(ngx_http_mir_attribution_loc_conf_t, resume_grace), NULL},

    ngx_null_command};

static ngx_http_module_t ngx_http_mir_attribution_module_ctx = {
    ngx_http_mir_attribution_add_variables,    /* preconfiguration */
    ngx_http_mir_attribution_init,             /* postconfiguration */
    ngx_http_mir_attribution_create_main_conf, /* create main configuration */
    NULL,                                      /* init main configuration */
    NULL,                                      /* create server configuration */
    NULL,                                      /* merge server configuration */
    ngx_http_mir_attribution_create_loc_conf,  /* create location configuration */
    ngx_http_mir_attribution_merge_loc_conf    /* merge location configuration */
};

ngx_module_t ngx_http_mir_attribution_module = {
    NGX_MODULE_V1,
    &ngx_http_mir_attribution_module_ctx, /* module context */
    ngx_http_mir_attribution_commands,    /* module directives */
    NGX_HTTP_MODULE,                      /* module type */
    NULL,                                 /* init master */
    NULL,                                 /* init module */
    NULL,                                 /* init process */
    NULL,                                 /* init thread */
    NULL,                                 /* exit thread */
    NULL,                                 /* exit process */
    NULL,                                 /* exit master */
    NGX_MODULE_V1_PADDING};

static void* ngx_http_mir_attribution_alloc(void* pool, size_t size) {
  return ngx_pnalloc(pool, size);
}

static mir_allocator ngx_http_mir_attribution_allocator(ngx_pool_t* pool) {
  mir_allocator allocator = {ngx_http_mir_attribution_alloc, pool};
  return allocator;
}

static void ngx_http_mir_attribution_destroy_keys(void* data) { mir_link_keys_destroy(data); }

static void* ngx_http_mir_attribution_create_main_conf(ngx_conf_t* cf) {
  ngx_pool_cleanup_t* cleanup;
  ngx_http_mir_attribution_main_conf_t* mmcf;

  mmcf = ngx_pcalloc(cf->pool, sizeof(ngx_http_mir_attribution_main_conf_t));
  cleanup = ngx_pool_cleanup_add(cf->pool, 0);
  if (mmcf == NULL || cleanup == NULL) {
    return NULL;
  }

  /* Destroyed with the configuration's pool, also when it is refused. */
  mmcf->keys = mir_link_keys_create();
  if (mmcf->keys == NULL) {
    return NULL;
  }
  cleanup->handler = ngx_http_mir_attribution_destroy_keys;
  cleanup->data = mmcf->keys;

  return mmcf;
}

static void* ngx_http_mir_attribution_create_loc_conf(ngx_conf_t* cf) {
  ngx_http_mir_attribution_loc_conf_t* mlcf;

  mlcf = ngx_pcalloc(cf->pool, sizeof(ngx_http_mir_attribution_loc_conf_t));
  if (mlcf == NULL) {
    return NULL;
  }

  mlcf->served = NGX_CONF_UNSET_PTR;
  mlcf->resume_grace = NGX_CONF_UNSET;

  return mlcf;
}

/* An `if` block's, a nested location's and a `limit_except` block's settings
 * start empty: they serve what the enclosing location serves. */
static char* ngx_http_mir_attribution_merge_loc_conf(ngx_conf_t* cf, void* parent, void* child) {
  ngx_http_mir_attribution_loc_conf_t* prev = parent;
  ngx_http_mir_attribution_loc_conf_t* conf = child;

  ngx_http_core_loc_conf_t* clcf;

  ngx_conf_merge_ptr_value(conf->served, prev->served, NULL);
  ngx_conf_merge_sec_value(conf->resume_grace, prev->resume_grace,
                           NGX_HTTP_MIR_ATTRIBUTION_RESUME_GRACE);

  if (conf->served != NULL) {
    clcf = ngx_http_conf_get_module_loc_conf(cf, ngx_http_core_module);
    if (clcf->handler == NULL) {
      clcf->handler = ngx_http_mir_attribution_handler;
    }
  }

  return NGX_CONF_OK;
}

static char* ngx_http_mir_attribution_key(ngx_conf_t* cf, ngx_command_t* cmd, void* conf) {
  ngx_http_mir_attribution_main_conf_t* mmcf = conf;

  mir_text reason;
  ngx_str_t *value, path;

  value = cf->args->elts;
  path = value[2];

  /* The result is NUL-terminated, as the parser's words are. */
  if (ngx_conf_full_name(cf->cycle, &path, 1) != NGX_OK) {
    return NGX_CONF_ERROR;
  }

  switch (mir_link_keys_add_file(mmcf->keys, (const char*)value[1].data, value[1].len,
                                 (const char*)path.data,
                                 ngx_http_mir_attribution_allocator(cf->pool), &reason)) {
    case 0:
      break;

    case MIR_KEY_FILE_REFUSED:
      ngx_conf_log_error(NGX_LOG_EMERG, cf, 0, "mir_attribution_key \"%V\": key file \"%V\" %*s",
                         &value[1], &path, reason.len, reason.data);
      return NGX_CONF_ERROR;

    default:
      ngx_conf_log_error(NGX_LOG_EMERG, cf, 0, "mir_attribution_key \"%V\": %*s", &value[1],
                         reason.len, reason.data);
      return NGX_CONF_ERROR;
  }

  mmcf->key_count++;

  return NGX_CONF_OK;
}

/* Examines the base open as `fd` for `file`; NGX_OK, or NGX_DECLINED with
 * the reason. Remembers the file's identity either way. */
static ngx_int_t ngx_http_mir_attribution_examine(ngx_http_mir_attribution_file_t* file,
                                                  ngx_fd_t fd, ngx_file_info_t* info,
                                                  ngx_pool_t* pool, mir_text* reason) {
  file->known = 1;
  file->uniq = ngx_file_uniq(info);
  file->size = ngx_file_size(info);
  file->mtime = ngx_file_mtime(info);
  file->usable =
      mir_find_release_base(fd, &file->base, ngx_http_mir_attribution_allocator(pool), reason) == 0;

  return file->usable ? NGX_OK : NGX_DECLINED;
}

/* What is remembered of the base `name`: the single base's entry, or the
 * folder's entry with that name, else a free one (or, with `reuse`, the
 * next one in turn) made its; NULL when the folder's are all taken. */
static ngx_http_mir_attribution_file_t* ngx_http_mir_attribution_file(
    ngx_http_mir_attribution_served_t* served, ngx_str_t* name, ngx_uint_t reuse) {
  ngx_uint_t i;
  ngx_http_mir_attribution_file_t *file, *free;

  if (!served->folder) {
    return served->files;
  }

  free = NULL;
  for (i = 0; i < NGX_HTTP_MIR_ATTRIBUTION_FOLDER_FILES; i++) {
    file = &served->files[i];
    if (file->name_len == name->len && ngx_memcmp(file->name, name->data, name->len) == 0) {
      return file;
    }
    if (file->name_len == 0 && free == NULL) {
      free = file;
    }
  }

  if (free == NULL) {
    if (!reuse) {
      return NULL;
    }
    free = &served->files[served->next_reused++ % NGX_HTTP_MIR_ATTRIBUTION_FOLDER_FILES];
  }

  ngx_memzero(free, sizeof(ngx_http_mir_attribution_file_t));
  free->name_len = ngx_cpymem(free->name, name->data, name->len) - free->name;

  return free;
}

/* Examines the base `name` at `path` while the configuration is read: a
 * file that is not a base is a release mistake, said before serving. */
static char* ngx_http_mir_attribution_conf_examine(ngx_conf_t* cf,
                                                   ngx_http_mir_attribution_served_t* served,
                                                   ngx_str_t* path, ngx_str_t* name) {
  ngx_fd_t fd;
  ngx_int_t rc;
  mir_text reason;
  ngx_file_info_t info;
  ngx_http_mir_attribution_file_t* file;

  file = ngx_http_mir_attribution_file(served, name, 0);
  if (file == NULL) {
    ngx_conf_log_error(NGX_LOG_EMERG, cf, 0, "mir_attribution: \"%V\" holds more than %d files",
                       &served->path, NGX_HTTP_MIR_ATTRIBUTION_FOLDER_FILES);
    return NGX_CONF_ERROR;
  }

  fd = ngx_open_file(path->data, NGX_FILE_RDONLY, NGX_FILE_OPEN, 0);
  if (fd == NGX_INVALID_FILE) {
    ngx_conf_log_error(NGX_LOG_EMERG, cf, ngx_errno,
                       "mir_attribution: " ngx_open_file_n " \"%V\" failed", path);
    return NGX_CONF_ERROR;
  }

  if (ngx_fd_info(fd, &info) == NGX_FILE_ERROR) {
    ngx_conf_log_error(NGX_LOG_EMERG, cf, ngx_errno,
                       "mir_attribution: " ngx_fd_info_n " \"%V\" failed", path);
    ngx_close_file(fd);
    return NGX_CONF_ERROR;
  }

  rc = ngx_http_mir_attribution_examine(file, fd, &info, cf->pool, &reason);
  ngx_close_file(fd);

  if (rc != NGX_OK) {
    ngx_conf_log_error(NGX_LOG_EMERG, cf, 0, "mir_attribution: \"%V\" is not a reserved base: %*s",
                       path, reason.len, reason.data);
    return NGX_CONF_ERROR;
  }

  return NGX_CONF_OK;
}

/* Every regular file in the folder whose name does not start with '.'. */
static char* ngx_http_mir_attribution_conf_folder(ngx_conf_t* cf,
                                                  ngx_http_mir_attribution_served_t* served) {
  char* rv;
  ngx_err_t err;
  ngx_dir_t dir;
  ngx_str_t name, path;
  ngx_file_info_t info;

  if (ngx_open_dir(&served->path, &dir) == NGX_ERROR) {
    ngx_conf_log_error(NGX_LOG_EMERG, cf, ngx_errno,
                       "mir_attribution: " ngx_open_dir_n " \"%V\" failed", &served->path);
    return NGX_CONF_ERROR;
  }

  rv = NGX_CONF_OK;

  for (;;) {
    ngx_set_errno(0);
    if (ngx_read_dir(&dir) == NGX_ERROR) {
      err = ngx_errno;
      if (err != NGX_ENOMOREFILES) {
        ngx_conf_log_error(NGX_LOG_EMERG, cf, err,
                           "mir_attribution: " ngx_read_dir_n " \"%V\" failed", &served->path);
        rv = NGX_CONF_ERROR;
      }
      break;
    }

    name.len = ngx_de_namelen(&dir);
    name.data = ngx_de_name(&dir);
    if (name.data[0] == '.') {
      continue;
    }

    path.len = served->path.len + name.len;
    path.data = ngx_pnalloc(cf->temp_pool, path.len + 1);
    if (path.data == NULL) {
      rv = NGX_CONF_ERROR;
      break;
    }
    *ngx_cpymem(ngx_cpymem(path.data, served->path.data, served->path.len), name.data, name.len) =
        '\0';

    if (ngx_file_info(path.data, &info) == NGX_FILE_ERROR) {
      ngx_conf_log_error(NGX_LOG_EMERG, cf, ngx_errno,
                         "mir_attribution: " ngx_file_info_n " \"%V\" failed", &path);
      rv = NGX_CONF_ERROR;
      break;
    }

    if (!ngx_is_file(&info)) {
      continue;
    }

    if (name.len > NGX_HTTP_MIR_ATTRIBUTION_NAME_MAX) {
      ngx_conf_log_error(NGX_LOG_EMERG, cf, 0, "mir_attribution: \"%V\": the name is too long",
                         &path);
      rv = NGX_CONF_ERROR;
      break;
    }

    rv = ngx_http_mir_attribution_conf_examine(cf, served, &path, &name);
    if (rv != NGX_CONF_OK) {
      break;
    }
  }

  ngx_close_dir(&dir);

  return rv;
}

static char* ngx_http_mir_attribution(ngx_conf_t* cf, ngx_command_t* cmd, void* conf) {
  ngx_http_mir_attribution_loc_conf_t* mlcf = conf;

  char* rv;
  u_char* slash;
  ngx_str_t* value;
  ngx_http_core_loc_conf_t* clcf;
  ngx_http_mir_attribution_served_t* served;
  ngx_http_mir_attribution_main_conf_t* mmcf;

  if (mlcf->served != NGX_CONF_UNSET_PTR) {
    return "is duplicate";
  }

  clcf = ngx_http_conf_get_module_loc_conf(cf, ngx_http_core_module);

  if (clcf->named || clcf->exact_match
#if (NGX_PCRE)
      || clcf->regex
#endif
  ) {
    return "needs a prefix location (location /download/ { ... }): the token is the path segment "
           "after the prefix; put a regex location inside it instead";
  }

  served = ngx_pcalloc(cf->pool, sizeof(ngx_http_mir_attribution_served_t));
  if (served == NULL) {
    return NGX_CONF_ERROR;
  }

  value = cf->args->elts;
  served->path = value[1];
  served->prefix = clcf->name;

  /* The result is NUL-terminated, as the parser's words are. */
  if (ngx_conf_full_name(cf->cycle, &served->path, 0) != NGX_OK) {
    return NGX_CONF_ERROR;
  }

  served->file_name.data = served->path.data;
  slash = ngx_strlchr(served->path.data, served->path.data + served->path.len, '/');
  while (slash != NULL) {
    served->file_name.data = slash + 1;
    slash = ngx_strlchr(slash + 1, served->path.data + served->path.len, '/');
  }
  served->file_name.len = served->path.data + served->path.len - served->file_name.data;
  served->folder = served->file_name.len == 0;

  served->files =
      ngx_pcalloc(cf->pool, sizeof(ngx_http_mir_attribution_file_t) *
                                (served->folder ? NGX_HTTP_MIR_ATTRIBUTION_FOLDER_FILES : 1));
  if (served->files == NULL) {
    return NGX_CONF_ERROR;
  }

  rv = served->folder
           ? ngx_http_mir_attribution_conf_folder(cf, served)
           : ngx_http_mir_attribution_conf_examine(cf, served, &served->path, &served->file_name);
  if (rv != NGX_CONF_OK) {
    return rv;
  }

  mlcf->served = served;

  mmcf = ngx_http_conf_get_module_main_conf(cf, ngx_http_mir_attribution_module);
  mmcf->used = 1;

  clcf->handler = ngx_http_mir_attribution_handler;

  return NGX_CONF_OK;
}

/* Not cacheable: a `map` or `if` may read them before the content handler
 * has run. */
static ngx_http_variable_t ngx_http_mir_attribution_variables[] = {
    {ngx_string("mir_attribution"), NULL, ngx_http_mir_attribution_variable,
     offsetof(ngx_http_mir_attribution_ctx_t, code), NGX_HTTP_VAR_NOCACHEABLE, 0},
    {ngx_string("mir_attribution_value"), NULL, ngx_http_mir_attribution_variable,
     offsetof(ngx_http_mir_attribution_ctx_t, value), NGX_HTTP_VAR_NOCACHEABLE, 0},
    {ngx_string("mir_attribution_path"), NULL, ngx_http_mir_attribution_variable,
     offsetof(ngx_http_mir_attribution_ctx_t, path), NGX_HTTP_VAR_NOCACHEABLE, 0},
    {ngx_string("mir_attribution_range"), NULL, ngx_http_mir_attribution_range_variable, 0,
     NGX_HTTP_VAR_NOCACHEABLE, 0},
    {ngx_string("mir_attribution_last_byte"), NULL, ngx_http_mir_attribution_range_variable, 1,
     NGX_HTTP_VAR_NOCACHEABLE, 0},
    ngx_http_null_variable};

static ngx_int_t ngx_http_mir_attribution_add_variables(ngx_conf_t* cf) {
  ngx_http_variable_t *var, *v;

  for (v = ngx_http_mir_attribution_variables; v->name.len; v++) {
    var = ngx_http_add_variable(cf, &v->name, v->flags);
    if (var == NULL) {
      return NGX_ERROR;
    }
    var->get_handler = v->get_handler;
    var->data = v->data;
  }

  return NGX_OK;
}

/* Not found for a request the module did not answer. */
static ngx_int_t ngx_http_mir_attribution_variable(ngx_http_request_t* r,
                                                   ngx_http_variable_value_t* v, uintptr_t data) {
  ngx_str_t* field;
  ngx_http_mir_attribution_ctx_t* ctx;

  ctx = ngx_http_get_module_ctx(r, ngx_http_mir_attribution_module);
  if (ctx == NULL) {
    v->not_found = 1;
    return NGX_OK;
  }

  field = (ngx_str_t*)((char*)ctx + data);
  v->len = field->len;
  v->data = field->data;
  v->valid = 1;
  v->no_cacheable = 0;
  v->not_found = 0;

  return NGX_OK;
}

/* The file's bytes the response's body carries, from the headers nginx's
 * filters left (the range filter's offset and length for a 206): NGX_OK, or
 * NGX_DECLINED when the body carries none (HEAD, 304, 412, 416, an error,
 * a filter that changed the body). */
static ngx_int_t ngx_http_mir_attribution_body_range(ngx_http_request_t* r,
                                                     ngx_http_mir_attribution_ctx_t* ctx,
                                                     off_t* first, off_t* last) {
  off_t length;

  if (ctx == NULL || ctx->size == 0 || r->method != NGX_HTTP_GET || r->header_only) {
    return NGX_DECLINED;
  }

  length = r->headers_out.content_length_n;

  switch (r->headers_out.status) {
    case NGX_HTTP_OK:
      *first = 0;
      break;

    case NGX_HTTP_PARTIAL_CONTENT:
      *first = r->headers_out.content_offset;
      break;

    default:
      return NGX_DECLINED;
  }

  if (length <= 0 || *first < 0 || *first > ctx->size - length ||
      (r->headers_out.status == NGX_HTTP_OK && length != ctx->size)) {
    return NGX_DECLINED;
  }

  *last = *first + length - 1;

  return NGX_OK;
}

/* data 0: $mir_attribution_range, empty without file bytes; data 1:
 * $mir_attribution_last_byte, "1" or "0" (also for requests the module did
 * not answer, so that a log line stays valid JSON). */
static ngx_int_t ngx_http_mir_attribution_range_variable(ngx_http_request_t* r,
                                                         ngx_http_variable_value_t* v,
                                                         uintptr_t data) {
  off_t first, last;
  ngx_int_t rc;
  ngx_http_mir_attribution_ctx_t* ctx;

  ctx = ngx_http_get_module_ctx(r, ngx_http_mir_attribution_module);
  rc = ngx_http_mir_attribution_body_range(r, ctx, &first, &last);

  v->valid = 1;
  v->no_cacheable = 0;
  v->not_found = 0;

  if (data == 1) {
    v->len = 1;
    v->data = (u_char*)((rc == NGX_OK && last == ctx->size - 1) ? "1" : "0");
    return NGX_OK;
  }

  if (rc != NGX_OK) {
    v->len = 0;
    v->data = (u_char*)"";
    return NGX_OK;
  }

  v->data = ngx_pnalloc(r->pool, 3 * NGX_OFF_T_LEN + 2);
  if (v->data == NULL) {
    return NGX_ERROR;
  }
  v->len = ngx_sprintf(v->data, "%O-%O/%O", first, last, ctx->size) - v->data;

  return NGX_OK;
}

/* Without a key every link would fail: refuse such a configuration. */
static ngx_int_t ngx_http_mir_attribution_init(ngx_conf_t* cf) {
  ngx_http_mir_attribution_main_conf_t* mmcf;

  mmcf = ngx_http_conf_get_module_main_conf(cf, ngx_http_mir_attribution_module);

  if (mmcf->used && mmcf->key_count == 0) {
    ngx_log_error(NGX_LOG_EMERG, cf->log, 0,
                  "mir_attribution needs at least one mir_attribution_key");
    return NGX_ERROR;
  }

  return NGX_OK;
}

/* The base as nginx opened it (`of`), from this worker's memory while the
 * file is unchanged. It is read through a descriptor of the module's own:
 * nginx's may be O_DIRECT (directio), which takes no unaligned reads. A
 * file that is not a base is logged once per change of it. */
static const mir_release_base* ngx_http_mir_attribution_base(
    ngx_http_request_t* r, ngx_http_mir_attribution_served_t* served, ngx_str_t* name,
    ngx_str_t* path, ngx_open_file_info_t* of) {
  ngx_fd_t fd;
  ngx_int_t rc;
  mir_text reason;
  ngx_file_info_t info;
  ngx_http_mir_attribution_file_t* file;

  file = ngx_http_mir_attribution_file(served, name, 1);

  if (file->known && file->uniq == of->uniq && file->size == of->size && file->mtime == of->mtime) {
    return file->usable ? &file->base : NULL;
  }

  fd = ngx_open_file(path->data, NGX_FILE_RDONLY, NGX_FILE_OPEN, 0);
  if (fd == NGX_INVALID_FILE) {
    ngx_log_error(NGX_LOG_ERR, r->connection->log, ngx_errno,
                  "mir_attribution: " ngx_open_file_n " \"%V\" failed", path);
    return NULL;
  }

  if (ngx_fd_info(fd, &info) == NGX_FILE_ERROR) {
    ngx_log_error(NGX_LOG_ERR, r->connection->log, ngx_errno,
                  "mir_attribution: " ngx_fd_info_n " \"%V\" failed", path);
    rc = NGX_ERROR;

  } else if (ngx_file_uniq(&info) != of->uniq || ngx_file_size(&info) != of->size ||
             ngx_file_mtime(&info) != of->mtime) {
    /* Replaced between nginx's open and this one: the next request sees
     * one file. */
    ngx_log_error(NGX_LOG_WARN, r->connection->log, 0,
                  "mir_attribution: \"%V\" changed while it was opened", path);
    rc = NGX_ERROR;

  } else {
    rc = ngx_http_mir_attribution_examine(file, fd, &info, r->pool, &reason);
    if (rc != NGX_OK) {
      ngx_log_error(NGX_LOG_ERR, r->connection->log, 0,
                    "mir_attribution: \"%V\" is not a reserved base: %*s", path, reason.len,
                    reason.data);
    }
  }

  if (ngx_close_file(fd) == NGX_FILE_ERROR) {
    ngx_log_error(NGX_LOG_ALERT, r->connection->log, ngx_errno, ngx_close_file_n " \"%V\" failed",
                  path);
  }

  return rc == NGX_OK ? &file->base : NULL;
}

/* Opens the base as the static module opens a file, with its answers to
 * each failure. */
static ngx_int_t ngx_http_mir_attribution_open(ngx_http_request_t* r, ngx_str_t* path,
                                               ngx_open_file_info_t* of) {
  ngx_int_t rc;
  ngx_uint_t level;
  ngx_http_core_loc_conf_t* clcf;

  clcf = ngx_http_get_module_loc_conf(r, ngx_http_core_module);

  ngx_memzero(of, sizeof(ngx_open_file_info_t));
  of->read_ahead = clcf->read_ahead;
  of->directio = clcf->directio;
  of->valid = clcf->open_file_cache_valid;
  of->min_uses = clcf->open_file_cache_min_uses;
  of->errors = clcf->open_file_cache_errors;
  of->events = clcf->open_file_cache_events;

  if (ngx_open_cached_file(clcf->open_file_cache, path, of, r->pool) != NGX_OK) {
    switch (of->err) {
      case 0:
        return NGX_HTTP_INTERNAL_SERVER_ERROR;

      case NGX_ENOENT:
      case NGX_ENOTDIR:
      case NGX_ENAMETOOLONG:
        level = NGX_LOG_ERR;
        rc = NGX_HTTP_NOT_FOUND;
        break;

      case NGX_EACCES:
#if (NGX_HAVE_OPENAT)
      case NGX_EMLINK:
      case NGX_ELOOP:
#endif
        level = NGX_LOG_ERR;
        rc = NGX_HTTP_FORBIDDEN;
        break;

      default:
        level = NGX_LOG_CRIT;
        rc = NGX_HTTP_INTERNAL_SERVER_ERROR;
        break;
    }

    if (rc != NGX_HTTP_NOT_FOUND || clcf->log_not_found) {
      ngx_log_error(level, r->connection->log, of->err, "%s \"%V\" failed", of->failed, path);
    }

    return rc;
  }

  if (!of->is_file) {
    ngx_log_error(NGX_LOG_ERR, r->connection->log, 0, "\"%V\" is not a regular file", path);
    return NGX_HTTP_NOT_FOUND;
  }

  return NGX_OK;
}

static ngx_int_t ngx_http_mir_attribution_handler(ngx_http_request_t* r) {
  u_char *rest, *end, *slash, *slot_bytes;
  ngx_int_t rc;
  ngx_str_t token, name, path;
  ngx_buf_t *file_buf, *slot_buf;
  ngx_log_t* log;
  ngx_chain_t out[2];
  mir_resume resume;
  mir_download download;
  const mir_release_base* base;
  ngx_http_mir_attribution_ctx_t* ctx;
  ngx_open_file_info_t of;
  ngx_http_core_loc_conf_t* clcf;
  ngx_http_mir_attribution_served_t* served;
  ngx_http_mir_attribution_loc_conf_t* mlcf;
  ngx_http_mir_attribution_main_conf_t* mmcf;

  if (!(r->method & (NGX_HTTP_GET | NGX_HTTP_HEAD))) {
    return NGX_HTTP_NOT_ALLOWED;
  }

  log = r->connection->log;
  mlcf = ngx_http_get_module_loc_conf(r, ngx_http_mir_attribution_module);
  mmcf = ngx_http_get_module_main_conf(r, ngx_http_mir_attribution_module);
  clcf = ngx_http_get_module_loc_conf(r, ngx_http_core_module);

  served = mlcf->served;
  if (served == NULL) {
    return NGX_DECLINED;
  }

  /* After the prefix: "<file name>" or "<token>/<file name>", the prefix
   * ending with '/' or followed by one. */
  if (r->uri.len < served->prefix.len ||
      ngx_strncmp(r->uri.data, served->prefix.data, served->prefix.len) != 0) {
    return NGX_HTTP_NOT_FOUND;
  }

  rest = r->uri.data + served->prefix.len;
  end = r->uri.data + r->uri.len;

  if (served->prefix.len == 0 || served->prefix.data[served->prefix.len - 1] != '/') {
    if (rest == end || *rest != '/') {
      return NGX_HTTP_NOT_FOUND;
    }
    rest++;
  }

  slash = ngx_strlchr(rest, end, '/');

  token.data = rest;
  token.len = slash ? (size_t)(slash - rest) : 0;
  name.data = slash ? slash + 1 : rest;
  name.len = end - name.data;

  if (slash != NULL && token.len == 0) {
    return NGX_HTTP_NOT_FOUND;
  }

  if (!served->folder) {
    if (name.len != served->file_name.len ||
        ngx_strncmp(name.data, served->file_name.data, name.len) != 0) {
      return NGX_HTTP_NOT_FOUND;
    }
    path = served->path;

  } else {
    /* One segment, not hidden: never a folder's parent or a copy in
     * progress. */
    if (name.len == 0 || name.len > NGX_HTTP_MIR_ATTRIBUTION_NAME_MAX || name.data[0] == '.' ||
        ngx_strlchr(name.data, end, '/') != NULL || ngx_strlchr(name.data, end, '\0') != NULL) {
      return NGX_HTTP_NOT_FOUND;
    }
    path.len = served->path.len + name.len;
    path.data = ngx_pnalloc(r->pool, path.len + 1);
    if (path.data == NULL) {
      return NGX_HTTP_INTERNAL_SERVER_ERROR;
    }
    *ngx_cpymem(ngx_cpymem(path.data, served->path.data, served->path.len), name.data, name.len) =
        '\0';
  }

  rc = ngx_http_discard_request_body(r);
  if (rc != NGX_OK) {
    return rc;
  }

  /* The path is the URI with the token's segment taken out. */
  ctx = ngx_pcalloc(r->pool, sizeof(ngx_http_mir_attribution_ctx_t));
  if (ctx == NULL) {
    return NGX_HTTP_INTERNAL_SERVER_ERROR;
  }
  ctx->path.len = (token.data - r->uri.data) + name.len;
  ctx->path.data = ngx_pnalloc(r->pool, ctx->path.len);
  if (ctx->path.data == NULL) {
    return NGX_HTTP_INTERNAL_SERVER_ERROR;
  }
  ngx_memcpy(ngx_cpymem(ctx->path.data, r->uri.data, token.data - r->uri.data), name.data,
             name.len);
  ngx_str_set(&ctx->code, "no-base");
  ngx_http_set_ctx(r, ctx, ngx_http_mir_attribution_module);

  rc = ngx_http_mir_attribution_open(r, &path, &of);
  if (rc != NGX_OK) {
    return rc;
  }

  base = ngx_http_mir_attribution_base(r, served, &name, &path, &of);
  if (base == NULL) {
    return NGX_HTTP_INTERNAL_SERVER_ERROR;
  }

  slot_bytes = NULL;
  if (token.len > 0) {
    slot_bytes = ngx_palloc(r->pool, base->slot_size);
    if (slot_bytes == NULL) {
      return NGX_HTTP_INTERNAL_SERVER_ERROR;
    }
  }

  /* Without ETags (`etag off;`) nginx's range filter would answer the
   * If-Range with the whole copy: no grace then. */
  ngx_memzero(&resume, sizeof(mir_resume));
  if (clcf->etag && r->headers_in.if_range) {
    resume.grace_seconds = (uint64_t)mlcf->resume_grace;
    resume.has_range = r->headers_in.range != NULL;
    resume.if_range.len = r->headers_in.if_range->value.len;
    resume.if_range.data = r->headers_in.if_range->value.data;
  }

  if (mir_decide_download(mmcf->keys, (const char*)token.data, token.len, (const char*)name.data,
                          name.len, ngx_time(), &resume, base, slot_bytes,
                          ngx_http_mir_attribution_allocator(r->pool), &download) != 0) {
    return NGX_HTTP_INTERNAL_SERVER_ERROR;
  }

  ctx->code.len = download.code.len;
  ctx->code.data = (u_char*)download.code.data;
  ctx->value.len = download.value.len;
  ctx->value.data = (u_char*)download.value.data;

  if (!download.stamped) {
    ngx_log_error(NGX_LOG_INFO, log, 0, "mir_attribution: sending the base unattributed: %*s",
                  download.reason.len, download.reason.data);
  }

  log->action = "sending response to client";

  ctx->size = of.size;

  r->headers_out.status = NGX_HTTP_OK;
  r->headers_out.content_length_n = of.size;
  r->headers_out.last_modified_time = -1;

  /* Without a modification date, If-Modified-Since and If-Unmodified-Since
   * are ignored (RFC 9110, 13.1.3 and 13.1.4): nginx's filter would answer
   * every If-Unmodified-Since with 412, failing a download manager's resume,
   * and let If-Modified-Since outweigh a matching If-None-Match. */
  r->headers_in.if_modified_since = NULL;
  r->headers_in.if_unmodified_since = NULL;

  /* nginx's ETag header (with whatever fields it fills), holding ours. */
  if (ngx_http_set_etag(r) != NGX_OK) {
    return NGX_HTTP_INTERNAL_SERVER_ERROR;
  }
  if (r->headers_out.etag != NULL) {
    r->headers_out.etag->value.len = download.etag.len;
    r->headers_out.etag->value.data = (u_char*)download.etag.data;
  }

  if (ngx_http_set_content_type(r) != NGX_OK) {
    return NGX_HTTP_INTERNAL_SERVER_ERROR;
  }

  /* Several ranges get the whole body, for the base as for a stamped copy:
   * nginx's range filter answers them only from a single buffer, and an
   * edge that stamps could not give the same multipart boundary. */
  r->allow_ranges = 1;
  r->single_range = 1;

  file_buf = ngx_calloc_buf(r->pool);
  slot_buf = ngx_calloc_buf(r->pool);
  if (file_buf == NULL || slot_buf == NULL) {
    return NGX_HTTP_INTERNAL_SERVER_ERROR;
  }

  file_buf->file = ngx_pcalloc(r->pool, sizeof(ngx_file_t));
  if (file_buf->file == NULL) {
    return NGX_HTTP_INTERNAL_SERVER_ERROR;
  }

  rc = ngx_http_send_header(r);

  if (rc == NGX_ERROR || rc > NGX_OK || r->header_only) {
    return rc;
  }

  file_buf->file_pos = 0;
  file_buf->file_last = download.stamped ? (off_t)base->slot_offset : of.size;
  file_buf->in_file = file_buf->file_last ? 1 : 0;
  file_buf->file->fd = of.fd;
  file_buf->file->name = path;
  file_buf->file->log = log;
  file_buf->file->directio = of.is_directio;
  out[0].buf = file_buf;
  out[0].next = NULL;

  if (download.stamped) {
    slot_buf->pos = slot_bytes;
    slot_buf->last = slot_bytes + base->slot_size;
    slot_buf->memory = 1;
    out[0].next = &out[1];
    out[1].buf = slot_buf;
    out[1].next = NULL;
  } else {
    slot_buf = file_buf;
  }

  slot_buf->last_buf = (r == r->main) ? 1 : 0;
  slot_buf->last_in_chain = 1;

  return ngx_http_output_filter(r, &out[0]);
}
