// The Worker's settings, read once per set of bindings and checked as
// hostile input. A setting that decides which bytes are the release (the
// catalogue, PREFIX) makes every request fail when wrong (500, the reason
// logged) rather than serve bytes that might not be the release's; one that
// only decides attribution (a key, the grace) is skipped with the reason
// logged once, and its links get the base: a download never fails for it.
//
//   CATALOGUE      the files served (catalogue.js), inline: JSON text or an object
//   CATALOGUE_URL  or the one fixed URL it is published at, fetched through
//                  the cache and read again after a short time
//   PREFIX         the URL path the downloads live under, e.g. "/download/"
//   ORIGIN         (optional) the service the origin's URLs are fetched
//                  through; without it, the global fetch (and so the CDN's cache)
//   LINK_KEY_<id>  one secret per key id, for every file: base64 of the key's
//                  32 to 4096 bytes
//   RESUME_GRACE_SECONDS (optional) how long after a link's expiry a resume
//                  of its stamped copy (Range with If-Range: its ETag) still
//                  gets it; decimal seconds, default 604800 (7 days), 0 off
import { parseCatalogue, readCatalogueUrl, SettingError } from "./catalogue.js";
import { isValidKeyId } from "./token.js";

const KEY_PREFIX = "LINK_KEY_";
const DEFAULT_GRACE_SECONDS = 604800n;

function fail(reason) {
  throw new SettingError(reason);
}

// The key's bytes from base64 text, or null; wiped by the caller once imported.
function keyBytes(text) {
  if (typeof text !== "string" || text.length > 8192 || !/^[A-Za-z0-9+/]*={0,2}$/.test(text)) return null;
  let binary;
  try {
    binary = atob(text);
  } catch {
    return null;
  }
  if (binary.length < 32 || binary.length > 4096) return null;
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
  binary = "";
  return bytes;
}

// The usable keys; each secret that cannot be used is named (never shown) in `problems`.
async function readKeys(env, problems) {
  const keys = new Map();
  for (const name of Object.keys(env)) {
    if (!name.startsWith(KEY_PREFIX)) continue;
    const id = name.slice(KEY_PREFIX.length);
    const bytes = isValidKeyId(id) ? keyBytes(env[name]) : null;
    if (!bytes) {
      problems.push(`${name} is skipped: a key id is 1 to 32 of A-Z a-z 0-9 - _, a key the base64 ` +
        "of 32 to 4096 bytes (no newline); its links get the base");
      continue;
    }
    try {
      keys.set(id, await crypto.subtle.importKey("raw", bytes, { name: "HMAC", hash: "SHA-256" },
        false, ["verify"]));
    } finally {
      bytes.fill(0);
    }
  }
  if (keys.size === 0) problems.push(`no usable ${KEY_PREFIX}<id> secret: every link gets the base`);
  return keys;
}

function readGrace(text, problems) {
  if (text === undefined) return DEFAULT_GRACE_SECONDS;
  if (typeof text === "string" && /^[0-9]{1,12}$/.test(text)) return BigInt(text);
  problems.push("RESUME_GRACE_SECONDS is not a decimal number of seconds: 604800 is used");
  return DEFAULT_GRACE_SECONDS;
}

function readPrefix(prefix) {
  if (typeof prefix !== "string" || !/^\/([A-Za-z0-9._~-]+\/)*$/.test(prefix)) {
    fail("PREFIX is not a path that starts and ends with /");
  }
  return prefix;
}

function readCatalogueSource(env) {
  if ((env.CATALOGUE === undefined) === (env.CATALOGUE_URL === undefined)) {
    fail("set one of CATALOGUE and CATALOGUE_URL");
  }
  if (env.CATALOGUE !== undefined) return { files: parseCatalogue(env.CATALOGUE) };
  return { url: readCatalogueUrl(env.CATALOGUE_URL) };
}

const cache = new WeakMap();

// The settings of `env`, read once; throws with the reason when one that
// decides the bytes is wrong. The others' problems are logged here, once.
export function settingsOf(env) {
  let settings = cache.get(env);
  if (!settings) {
    settings = (async () => {
      const problems = [];
      const read = {
        prefix: readPrefix(env.PREFIX),
        catalogue: readCatalogueSource(env),
        origin: env.ORIGIN ?? null,
        keys: await readKeys(env, problems),
        graceSeconds: readGrace(env.RESUME_GRACE_SECONDS, problems),
      };
      for (const problem of problems) console.log(`mir_attribution: ${problem}`);
      return read;
    })();
    cache.set(env, settings);
  }
  return settings;
}
