// The Worker's settings, read once per set of bindings and checked as
// hostile input: a setting that is wrong makes every request fail (500, the
// reason logged) rather than serve bytes that might not be the release's.
//
//   PLAN        the release's plan, as `mir_attribution plan BASE` prints it
//               (JSON text or an object): file_size, slot_offset, slot_size,
//               etag; other fields are ignored
//   FILE_NAME   the release's file name, as in the links
//   PREFIX      the URL path the downloads live under, e.g. "/download/"
//   ORIGIN_URL  the one fixed URL of the base at the origin
//   ORIGIN      (optional) the service that ORIGIN_URL is fetched through;
//               without it, the global fetch (and so the CDN's cache)
//   LINK_KEY_<id>  one secret per key id: base64 of the key's 32 to 4096 bytes
import { isValidKeyId } from "./token.js";
import { SLOT_SIZE } from "./value_rule.js";

const MAX_FILE_SIZE = 512 * 1024 * 1024; // the launcher reads no larger file
const KEY_PREFIX = "LINK_KEY_";

function fail(reason) {
  throw new Error(reason);
}

function readPlan(setting) {
  let plan = setting;
  if (typeof setting === "string") {
    if (setting.length > 65536) fail("PLAN is longer than any plan");
    try {
      plan = JSON.parse(setting);
    } catch {
      fail("PLAN is not JSON");
    }
  }
  if (typeof plan !== "object" || plan === null) fail("PLAN is missing");
  const { file_size: size, slot_offset: offset, slot_size: slotSize, etag } = plan;
  if (!Number.isSafeInteger(size) || size <= SLOT_SIZE || size > MAX_FILE_SIZE) {
    fail("PLAN's file_size is not the size of a base");
  }
  if (slotSize !== SLOT_SIZE || offset !== size - SLOT_SIZE) {
    fail("PLAN's slot is not the last 4112 bytes of the file");
  }
  if (plan.form !== undefined && plan.form !== "trailer") fail("PLAN's form is not trailer");
  if (typeof etag !== "string" || !/^"[0-9a-f]{1,32}(-[0-9a-f]{1,32}){0,2}"$/.test(etag)) {
    fail("PLAN's etag is not a strong ETag of hex digits");
  }
  return { size, slotOffset: offset, etag };
}

// The key's bytes from base64 text; wiped by the caller once imported.
function keyBytes(id, text) {
  if (typeof text !== "string" || text.length > 8192 || !/^[A-Za-z0-9+/]*={0,2}$/.test(text)) {
    fail(`${KEY_PREFIX}${id} is not base64`);
  }
  let binary;
  try {
    binary = atob(text);
  } catch {
    fail(`${KEY_PREFIX}${id} is not base64`);
  }
  if (binary.length < 32 || binary.length > 4096) {
    fail(`${KEY_PREFIX}${id} holds ${binary.length} bytes; a key is 32 to 4096 bytes`);
  }
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

async function readKeys(env) {
  const keys = new Map();
  for (const name of Object.keys(env)) {
    if (!name.startsWith(KEY_PREFIX)) continue;
    const id = name.slice(KEY_PREFIX.length);
    if (!isValidKeyId(id)) fail(`${name}: a key id is 1 to 32 of A-Z a-z 0-9 - _`);
    const bytes = keyBytes(id, env[name]);
    try {
      keys.set(id, await crypto.subtle.importKey("raw", bytes, { name: "HMAC", hash: "SHA-256" },
        false, ["verify"]));
    } finally {
      bytes.fill(0);
    }
  }
  if (keys.size === 0) fail(`no ${KEY_PREFIX}<id> secret: every link would fail`);
  return keys;
}

function readPrefix(prefix) {
  if (typeof prefix !== "string" || !/^\/([A-Za-z0-9._~-]+\/)*$/.test(prefix)) {
    fail("PREFIX is not a path that starts and ends with /");
  }
  return prefix;
}

function readFileName(name) {
  if (typeof name !== "string" || !/^[A-Za-z0-9._~-]{1,255}$/.test(name) || /^\.+$/.test(name)) {
    fail("FILE_NAME is not a plain file name");
  }
  return name;
}

function readOriginUrl(text) {
  let url;
  try {
    url = new URL(text);
  } catch {
    fail("ORIGIN_URL is not a URL");
  }
  if (url.protocol !== "https:" && url.protocol !== "http:") fail("ORIGIN_URL is not http(s)");
  if (url.search || url.hash) fail("ORIGIN_URL has a query or fragment: it must be one fixed URL");
  return url.href;
}

const cache = new WeakMap();

// The settings of `env`, read once; throws with the reason when one is wrong.
export function settingsOf(env) {
  let settings = cache.get(env);
  if (!settings) {
    settings = (async () => ({
      plan: readPlan(env.PLAN),
      fileName: readFileName(env.FILE_NAME),
      prefix: readPrefix(env.PREFIX),
      originUrl: readOriginUrl(env.ORIGIN_URL),
      origin: env.ORIGIN ?? null,
      keys: await readKeys(env),
    }))();
    cache.set(env, settings);
  }
  return settings;
}
