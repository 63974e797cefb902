// The catalogue: every file one deployment serves, each with its plan (as
// `mir_attribution plan BASE` prints it) and the one fixed URL of its base
// at the origin:
//
//   {"files": [{"file_name": "mirelo_browser_setup.exe",
//               "origin_url": "https://origin.example/releases/mirelo_browser_setup-1.2.3.exe",
//               "plan": {...}}, ...]}
//
// A file name appears once: a link's MAC binds its name, so the name alone
// must say which release it gets. A release or a rollback is a new catalogue
// at CATALOGUE_URL, read again at most CATALOGUE_TTL_SECONDS later; a wrong
// catalogue fails every request (500) rather than serve other bytes.
import { SLOT_SIZE } from "./value_rule.js";

const MAX_FILE_SIZE = 512 * 1024 * 1024; // the launcher reads no larger file
const MAX_CATALOGUE_LENGTH = 1024 * 1024;
const MAX_FILES = 1000;
const MAX_CHECK_RANGES = 8;
const MAX_CHECK_SPAN = 2 * 1024 * 1024; // headers and a certificate table, with room
export const CATALOGUE_TTL_SECONDS = 60;

// A setting that decides which bytes are served is wrong: every request fails.
export class SettingError extends Error {}

function fail(reason) {
  throw new SettingError(reason);
}

function readPlan(plan, name) {
  if (typeof plan !== "object" || plan === null) fail(`${name}: the plan is missing`);
  const { file_size: size, slot_offset: offset, slot_size: slotSize, etag, release_check: check } = plan;
  if (!Number.isSafeInteger(size) || size <= SLOT_SIZE || size > MAX_FILE_SIZE) {
    fail(`${name}: the plan's file_size is not the size of a base`);
  }
  if (slotSize !== SLOT_SIZE || offset !== size - SLOT_SIZE) {
    fail(`${name}: the plan's slot is not the last 4112 bytes of the file`);
  }
  if (plan.form !== undefined && plan.form !== "trailer") fail(`${name}: the plan's form is not trailer`);
  if (typeof etag !== "string" || !/^"[0-9a-f]{16}"$/.test(etag)) {
    fail(`${name}: the plan's etag is not a release's`);
  }
  // What identifies the release: the digest of these ranges, which the ETag begins.
  if (typeof check !== "object" || check === null || typeof check.sha256 !== "string" ||
      !/^[0-9a-f]{64}$/.test(check.sha256) || !check.sha256.startsWith(etag.slice(1, -1)) ||
      !Array.isArray(check.ranges) || check.ranges.length < 1 || check.ranges.length > MAX_CHECK_RANGES) {
    fail(`${name}: the plan has no release_check for its etag (a plan of an older tool?)`);
  }
  let end = 0;
  const ranges = check.ranges.map((range) => {
    const [at, length] = Array.isArray(range) && range.length === 2 ? range : [];
    if (!Number.isSafeInteger(at) || !Number.isSafeInteger(length) || at < end || length < 1 ||
        at + length > offset) {
      fail(`${name}: the plan's release_check ranges are not in order inside the file`);
    }
    end = at + length;
    return { start: at, end };
  });
  if (ranges.reduce((total, range) => total + range.end - range.start, 0) > MAX_CHECK_SPAN) {
    fail(`${name}: the plan's release_check covers more than a release's headers and signatures`);
  }
  return { size, slotOffset: offset, etag, checkSha256: check.sha256, checkRanges: ranges };
}

function readFileName(name) {
  if (typeof name !== "string" || !/^[A-Za-z0-9._~-]{1,255}$/.test(name) || /^\.+$/.test(name)) {
    fail("a file_name is not a plain file name");
  }
  return name;
}

function readOriginUrl(text, what) {
  let url;
  try {
    url = new URL(text);
  } catch {
    fail(`${what} is not a URL`);
  }
  if (url.protocol !== "https:" && url.protocol !== "http:") fail(`${what} is not http(s)`);
  if (url.search || url.hash) fail(`${what} has a query or fragment: it must be one fixed URL`);
  return url.href;
}

export function readCatalogueUrl(text) {
  return readOriginUrl(text, "CATALOGUE_URL");
}

// The catalogue's files by name, from JSON text or an object; throws
// SettingError with the reason when it is not one.
export function parseCatalogue(setting) {
  let catalogue = setting;
  if (typeof setting === "string") {
    if (setting.length > MAX_CATALOGUE_LENGTH) fail("the catalogue is longer than 1 MiB");
    try {
      catalogue = JSON.parse(setting);
    } catch {
      fail("the catalogue is not JSON");
    }
  }
  const entries = catalogue?.files;
  if (!Array.isArray(entries) || entries.length < 1 || entries.length > MAX_FILES) {
    fail(`the catalogue's files are not a list of 1 to ${MAX_FILES}`);
  }
  const files = new Map();
  for (const entry of entries) {
    const fileName = readFileName(entry?.file_name);
    if (files.has(fileName)) fail(`the catalogue names ${fileName} twice`);
    files.set(fileName, {
      fileName,
      originUrl: readOriginUrl(entry.origin_url, `${fileName}: origin_url`),
      plan: readPlan(entry.plan, fileName),
    });
  }
  return files;
}

let published = null; // { url, files, until } of the last catalogue read from its URL

async function fetchCatalogue(settings, url) {
  const request = new Request(url, { headers: { "Accept-Encoding": "identity" }, redirect: "manual" });
  let response;
  try {
    response = await (settings.origin ? settings.origin.fetch(request) : fetch(request,
      { cf: { cacheTtl: CATALOGUE_TTL_SECONDS, cacheEverything: true } }));
  } catch (error) {
    fail(`the catalogue cannot be fetched: ${error.message}`);
  }
  if (response.status !== 200) {
    response.body?.cancel();
    fail(`the catalogue's URL answered status ${response.status}`);
  }
  const length = Number(response.headers.get("content-length") ?? 0);
  if (length > MAX_CATALOGUE_LENGTH) {
    response.body?.cancel();
    fail("the catalogue is longer than 1 MiB");
  }
  return parseCatalogue(await boundedText(response.body));
}

// At most MAX_CATALOGUE_LENGTH bytes of text, whatever the origin claims.
async function boundedText(body) {
  const reader = body.getReader();
  const parts = [];
  let total = 0;
  for (;;) {
    const { done, value } = await reader.read();
    if (done) break;
    total += value.length;
    if (total > MAX_CATALOGUE_LENGTH) {
      reader.cancel();
      fail("the catalogue is longer than 1 MiB");
    }
    parts.push(value);
  }
  const bytes = new Uint8Array(total);
  let at = 0;
  for (const part of parts) {
    bytes.set(part, at);
    at += part.length;
  }
  return new TextDecoder().decode(bytes);
}

// The files being served now: the inline catalogue, or the published one
// read at most CATALOGUE_TTL_SECONDS ago (one read at a time per isolate).
export async function catalogueOf(settings) {
  const { catalogue } = settings;
  if (catalogue.files) return catalogue.files;
  const now = Date.now();
  if (!published || published.url !== catalogue.url || now >= published.until) {
    const files = fetchCatalogue(settings, catalogue.url);
    published = { url: catalogue.url, files, until: now + CATALOGUE_TTL_SECONDS * 1000 };
    files.catch(() => {
      if (published?.files === files) published = null; // read again at the next request
    });
  }
  return published.files;
}
