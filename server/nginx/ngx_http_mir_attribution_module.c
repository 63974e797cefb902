/* Serves a reserved launcher base under a location, stamped per download:
 *
 *   mir_attribution_key <key id> <key file>;       (http; repeatable)
 *   location /download/ { mir_attribution <base>; }
 *
 *   /download/<token>/<base's file name>  the stamped copy: the base up to its
 *                                         attribution slot, sent from the file,
 *                                         then the filled slot from memory
 *   /download/<base's file name>          the base unchanged
 *
 * A token that fails (malformed, unknown key, forged, expired, a value the
 * launcher refuses) gets the base unchanged and an `info` line with the
 * reason: a download never fails for its attribution. nginx's own filters
 * serve HEAD, Range, If-Range and conditional requests from the headers set
 * here. The token and slot code is the project's C++, behind the C shim. */

#include <ngx_config.h>
#include <ngx_core.h>
#include <ngx_http.h>

#include "mir_attribution_shim.h"

typedef struct {
  mir_link_keys* keys;
  ngx_uint_t key_count;
  ngx_uint_t used; /* by a location */
} ngx_http_mir_attribution_main_conf_t;

/* The slot of the base as this worker last saw it, found again when the file
 * changes (a new release put in place under the same name). */
typedef struct {
  ngx_file_uniq_t uniq;
  off_t size;
  time_t mtime;
  mir_slot slot;
  ngx_uint_t known;
} ngx_http_mir_attribution_slot_cache_t;

typedef struct {
  ngx_str_t base;      /* NUL-terminated */
  ngx_str_t file_name; /* its last component */
  ngx_http_mir_attribution_slot_cache_t* cache;
} ngx_http_mir_attribution_loc_conf_t;

static void* ngx_http_mir_attribution_create_main_conf(ngx_conf_t* cf);
static void* ngx_http_mir_attribution_create_loc_conf(ngx_conf_t* cf);
static char* ngx_http_mir_attribution_key(ngx_conf_t* cf, ngx_command_t* cmd, void* conf);
static char* ngx_http_mir_attribution(ngx_conf_t* cf, ngx_command_t* cmd, void* conf);
static ngx_int_t ngx_http_mir_attribution_init(ngx_conf_t* cf);
static ngx_int_t ngx_http_mir_attribution_handler(ngx_http_request_t* r);

static ngx_command_t ngx_http_mir_attribution_commands[] = {

    {ngx_string("mir_attribution_key"), NGX_HTTP_MAIN_CONF | NGX_CONF_TAKE2,
     ngx_http_mir_attribution_key, NGX_HTTP_MAIN_CONF_OFFSET, 0, NULL},

    {ngx_string("mir_attribution"), NGX_HTTP_LOC_CONF | NGX_CONF_TAKE1, ngx_http_mir_attribution,
     NGX_HTTP_LOC_CONF_OFFSET, 0, NULL},

    ngx_null_command};

static ngx_http_module_t ngx_http_mir_attribution_module_ctx = {
    NULL,                                      /* preconfiguration */
    ngx_http_mir_attribution_init,             /* postconfiguration */
    ngx_http_mir_attribution_create_main_conf, /* create main configuration */
    NULL,                                      /* init main configuration */
    NULL,                                      /* create server configuration */
    NULL,                                      /* merge server configuration */
    ngx_http_mir_attribution_create_loc_conf,  /* create location configuration */
    NULL                                       /* merge location configuration */
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

static void ngx_http_mir_attribution_destroy_keys(void* data) { mir_link_keys_destroy(data); }

static void* ngx_http_mir_attribution_create_main_conf(ngx_conf_t* cf) {
  ngx_pool_cleanup_t* cleanup;
  ngx_http_mir_attribution_main_conf_t* mmcf;

  mmcf = ngx_pcalloc(cf->pool, sizeof(ngx_http_mir_attribution_main_conf_t));
  cleanup = ngx_pool_cleanup_add(cf->pool, 0);
  if (mmcf == NULL || cleanup == NULL) {
    return NULL;
  }

  mmcf->keys = mir_link_keys_create();
  if (mmcf->keys == NULL) {
    return NULL;
  }
  cleanup->handler = ngx_http_mir_attribution_destroy_keys;
  cleanup->data = mmcf->keys;

  return mmcf;
}

static void* ngx_http_mir_attribution_create_loc_conf(ngx_conf_t* cf) {
  return ngx_pcalloc(cf->pool, sizeof(ngx_http_mir_attribution_loc_conf_t));
}

/* A copy of `name` completed with nginx's prefix (prefix 0) or configuration
 * prefix (1), NUL-terminated. */
static ngx_int_t ngx_http_mir_attribution_full_name(ngx_conf_t* cf, ngx_str_t* name,
                                                    ngx_uint_t conf_prefix) {
  u_char* copy;

  if (ngx_conf_full_name(cf->cycle, name, conf_prefix) != NGX_OK) {
    return NGX_ERROR;
  }

  copy = ngx_pnalloc(cf->pool, name->len + 1);
  if (copy == NULL) {
    return NGX_ERROR;
  }

  ngx_memcpy(copy, name->data, name->len);
  copy[name->len] = '\0';
  name->data = copy;

  return NGX_OK;
}

static char* ngx_http_mir_attribution_key(ngx_conf_t* cf, ngx_command_t* cmd, void* conf) {
  ngx_http_mir_attribution_main_conf_t* mmcf = conf;

  char message[MIR_MESSAGE_SIZE];
  ngx_str_t *value, path;

  value = cf->args->elts;
  path = value[2];

  if (ngx_http_mir_attribution_full_name(cf, &path, 1) != NGX_OK) {
    return NGX_CONF_ERROR;
  }

  if (mir_link_keys_add_file(mmcf->keys, (const char*)value[1].data, value[1].len,
                             (const char*)path.data, message) != 0) {
    ngx_conf_log_error(NGX_LOG_EMERG, cf, 0, "mir_attribution_key \"%V\": %s", &value[1], message);
    return NGX_CONF_ERROR;
  }

  mmcf->key_count++;

  return NGX_CONF_OK;
}

static char* ngx_http_mir_attribution(ngx_conf_t* cf, ngx_command_t* cmd, void* conf) {
  ngx_http_mir_attribution_loc_conf_t* mlcf = conf;

  char message[MIR_MESSAGE_SIZE];
  u_char* slash;
  ngx_fd_t fd;
  ngx_int_t found;
  ngx_str_t* value;
  ngx_file_info_t info;
  ngx_http_core_loc_conf_t* clcf;
  ngx_http_mir_attribution_main_conf_t* mmcf;
  ngx_http_mir_attribution_slot_cache_t* cache;

  if (mlcf->base.data != NULL) {
    return "is duplicate";
  }

  value = cf->args->elts;
  mlcf->base = value[1];

  if (ngx_http_mir_attribution_full_name(cf, &mlcf->base, 0) != NGX_OK) {
    return NGX_CONF_ERROR;
  }

  mlcf->file_name.data = mlcf->base.data;
  slash = ngx_strlchr(mlcf->base.data, mlcf->base.data + mlcf->base.len, '/');
  while (slash != NULL) {
    mlcf->file_name.data = slash + 1;
    slash = ngx_strlchr(slash + 1, mlcf->base.data + mlcf->base.len, '/');
  }
  mlcf->file_name.len = mlcf->base.data + mlcf->base.len - mlcf->file_name.data;

  if (mlcf->file_name.len == 0) {
    return "needs the base's file, not a directory";
  }

  /* A base without a slot is a release mistake: say so before serving. */
  cache = ngx_pcalloc(cf->pool, sizeof(ngx_http_mir_attribution_slot_cache_t));
  if (cache == NULL) {
    return NGX_CONF_ERROR;
  }
  mlcf->cache = cache;

  fd = ngx_open_file(mlcf->base.data, NGX_FILE_RDONLY, NGX_FILE_OPEN, 0);
  if (fd == NGX_INVALID_FILE) {
    ngx_conf_log_error(NGX_LOG_EMERG, cf, ngx_errno, "mir_attribution: cannot open \"%V\"",
                       &mlcf->base);
    return NGX_CONF_ERROR;
  }

  if (ngx_fd_info(fd, &info) == NGX_FILE_ERROR) {
    ngx_cpystrn((u_char*)message, (u_char*)"cannot be examined", sizeof(message));
    found = 0;

  } else {
    found = mir_find_slot(fd, ngx_file_size(&info), &cache->slot, message) == 0;
  }

  ngx_close_file(fd);

  if (!found) {
    ngx_conf_log_error(NGX_LOG_EMERG, cf, 0, "mir_attribution: \"%V\" is not a reserved base: %s",
                       &mlcf->base, message);
    return NGX_CONF_ERROR;
  }

  mmcf = ngx_http_conf_get_module_main_conf(cf, ngx_http_mir_attribution_module);
  mmcf->used = 1;

  clcf = ngx_http_conf_get_module_loc_conf(cf, ngx_http_core_module);
  clcf->handler = ngx_http_mir_attribution_handler;

  return NGX_CONF_OK;
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

/* The base's slot, from this worker's cache while the file is unchanged. */
static const mir_slot* ngx_http_mir_attribution_slot(ngx_http_request_t* r,
                                                     ngx_http_mir_attribution_loc_conf_t* mlcf,
                                                     ngx_open_file_info_t* of) {
  char message[MIR_MESSAGE_SIZE];
  ngx_http_mir_attribution_slot_cache_t* cache;

  cache = mlcf->cache;

  if (cache->known && cache->uniq == of->uniq && cache->size == of->size &&
      cache->mtime == of->mtime) {
    return &cache->slot;
  }

  cache->known = 0;

  if (mir_find_slot(of->fd, of->size, &cache->slot, message) != 0) {
    ngx_log_error(NGX_LOG_ERR, r->connection->log, 0,
                  "mir_attribution: \"%V\" is not a reserved base: %s", &mlcf->base, message);
    return NULL;
  }

  cache->uniq = of->uniq;
  cache->size = of->size;
  cache->mtime = of->mtime;
  cache->known = 1;

  return &cache->slot;
}

static ngx_int_t ngx_http_mir_attribution_handler(ngx_http_request_t* r) {
  u_char *rest, *end, *slash, *slot_bytes;
  ngx_int_t rc;
  ngx_str_t token, name;
  ngx_buf_t *file_buf, *slot_buf;
  ngx_log_t* log;
  ngx_chain_t out[2];
  mir_download download;
  const mir_slot* slot;
  ngx_table_elt_t* etag;
  ngx_open_file_info_t of;
  ngx_http_core_loc_conf_t* clcf;
  ngx_http_mir_attribution_loc_conf_t* mlcf;
  ngx_http_mir_attribution_main_conf_t* mmcf;

  if (!(r->method & (NGX_HTTP_GET | NGX_HTTP_HEAD))) {
    return NGX_HTTP_NOT_ALLOWED;
  }

  log = r->connection->log;
  clcf = ngx_http_get_module_loc_conf(r, ngx_http_core_module);
  mlcf = ngx_http_get_module_loc_conf(r, ngx_http_mir_attribution_module);
  mmcf = ngx_http_get_module_main_conf(r, ngx_http_mir_attribution_module);

  /* After the location's prefix: "<file name>" or "<token>/<file name>". */
  if (r->uri.len < clcf->name.len ||
      ngx_strncmp(r->uri.data, clcf->name.data, clcf->name.len) != 0) {
    return NGX_HTTP_NOT_FOUND;
  }

  rest = r->uri.data + clcf->name.len;
  end = r->uri.data + r->uri.len;
  slash = ngx_strlchr(rest, end, '/');

  token.data = rest;
  token.len = slash ? (size_t)(slash - rest) : 0;
  name.data = slash ? slash + 1 : rest;
  name.len = end - name.data;

  if (name.len != mlcf->file_name.len ||
      ngx_strncmp(name.data, mlcf->file_name.data, name.len) != 0 ||
      (slash != NULL && token.len == 0)) {
    return NGX_HTTP_NOT_FOUND;
  }

  rc = ngx_http_discard_request_body(r);
  if (rc != NGX_OK) {
    return rc;
  }

  ngx_memzero(&of, sizeof(ngx_open_file_info_t));
  of.read_ahead = clcf->read_ahead;
  of.directio = clcf->directio;
  of.valid = clcf->open_file_cache_valid;
  of.min_uses = clcf->open_file_cache_min_uses;
  of.errors = clcf->open_file_cache_errors;
  of.events = clcf->open_file_cache_events;

  if (ngx_open_cached_file(clcf->open_file_cache, &mlcf->base, &of, r->pool) != NGX_OK ||
      !of.is_file) {
    ngx_log_error(NGX_LOG_CRIT, log, of.err, "mir_attribution: cannot open \"%V\"", &mlcf->base);
    return NGX_HTTP_INTERNAL_SERVER_ERROR;
  }

  slot = ngx_http_mir_attribution_slot(r, mlcf, &of);
  slot_bytes = NULL;

  if (slot != NULL && token.len > 0) {
    slot_bytes = ngx_palloc(r->pool, slot->size);
    if (slot_bytes == NULL) {
      return NGX_HTTP_INTERNAL_SERVER_ERROR;
    }
  }

  if (slot != NULL) {
    mir_plan_download(mmcf->keys, (const char*)token.data, slot_bytes ? token.len : 0,
                      (const char*)name.data, name.len, ngx_time(), of.mtime, slot, slot_bytes,
                      &download);
  } else {
    download.stamped = 0;
    download.etag[0] = '\0';
    ngx_cpystrn((u_char*)download.reason, (u_char*)"the base has no slot", sizeof(download.reason));
  }

  if (!download.stamped) {
    ngx_log_error(NGX_LOG_INFO, log, 0, "mir_attribution: sending the base unattributed: %s",
                  download.reason);
  }

  log->action = "sending response to client";

  r->headers_out.status = NGX_HTTP_OK;
  r->headers_out.content_length_n = of.size;
  r->headers_out.last_modified_time = of.mtime;

  if (ngx_http_set_content_type(r) != NGX_OK) {
    return NGX_HTTP_INTERNAL_SERVER_ERROR;
  }

  if (clcf->etag && download.etag[0] != '\0') {
    etag = ngx_list_push(&r->headers_out.headers);
    if (etag == NULL) {
      return NGX_HTTP_INTERNAL_SERVER_ERROR;
    }
    etag->hash = 1;
    ngx_str_set(&etag->key, "ETag");
    etag->value.len = ngx_strlen(download.etag);
    etag->value.data = ngx_pnalloc(r->pool, etag->value.len);
    if (etag->value.data == NULL) {
      return NGX_HTTP_INTERNAL_SERVER_ERROR;
    }
    ngx_memcpy(etag->value.data, download.etag, etag->value.len);
    r->headers_out.etag = etag;
  }

  /* nginx's range filter answers several ranges only from a single buffer;
   * a stamped body is two, so it gets one range or the whole body. */
  r->allow_ranges = 1;
  r->single_range = download.stamped ? 1 : 0;

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
  file_buf->file_last = download.stamped ? (off_t)slot->offset : of.size;
  file_buf->in_file = file_buf->file_last ? 1 : 0;
  file_buf->file->fd = of.fd;
  file_buf->file->name = mlcf->base;
  file_buf->file->log = log;
  file_buf->file->directio = of.is_directio;
  out[0].buf = file_buf;
  out[0].next = NULL;

  if (download.stamped) {
    slot_buf->pos = slot_bytes;
    slot_buf->last = slot_bytes + slot->size;
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
