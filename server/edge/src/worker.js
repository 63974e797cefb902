// The download Worker: serves the files of a catalogue, each stamped per
// download, under the URLs of the nginx module, with the same bytes and
// headers:
//
//   PREFIX<token>/<file name>  the file's base up to its attribution slot, from
//                              the origin, then the slot filled with the token's value
//   PREFIX<file name>          the base unchanged
//
// A token that fails (malformed, unknown key id, forged, expired, a value
// the launcher refuses) gets the base unchanged, its reason in the request's
// log line: a download never fails for its attribution. Only bytes of the
// checked release (release_check.js) are sent, in bodies of exactly their
// Content-Length, and the slot always comes from memory: an unattributed
// download ends in the zeros of a base whatever the origin holds.
// Settings: settings.js; the catalogue: catalogue.js.
import { catalogueOf, SettingError } from "./catalogue.js";
import { fetchBase, OriginError, sliceStream } from "./origin.js";
import { decideRange } from "./ranges.js";
import { ensureCurrentRelease, ensureRelease } from "./release_check.js";
import { logOnce, loggedPath, newRequestLog, setRange, writeRequestLog } from "./request_log.js";
import { normalizedPath, rawPath } from "./request_path.js";
import { settingsOf } from "./settings.js";
import { verifyLinkToken } from "./token.js";
import { SLOT_SIZE, slotBytes, valueProblem } from "./value_rule.js";

const CONTENT_TYPE = "application/octet-stream"; // .exe in Debian's mime.types
const EMPTY_SLOT = new Uint8Array(SLOT_SIZE);

function status(code) {
  return new Response(null, { status: code });
}

async function stampedEtag(plan, value) {
  const digest = new Uint8Array(await crypto.subtle.digest("SHA-256", value));
  return `${plan.etag.slice(0, -1)}-${digest.subarray(0, 8).toHex()}"`;
}

// { slot, etag, value } of the stamped copy for `token`, or { code, reason }
// to send the base. An expired link's copy is still resumed within the
// grace: a Range whose If-Range is that copy's very ETag.
async function stampFor(settings, file, token, headers) {
  if (token === "") return { code: "no-token", reason: "the link has no token" };
  const now = BigInt(Math.floor(Date.now() / 1000));
  const verified = await verifyLinkToken(settings.keys, token, file.fileName, now);
  const resumable = verified.code === "expired" && verified.value && now >= verified.expires &&
    now - verified.expires < settings.graceSeconds && headers.has("range");
  if (verified.code && !resumable) return verified;
  const problem = valueProblem(verified.value);
  if (problem) {
    return resumable ? verified : { code: "refused-value", reason: `the launcher would refuse the link's value: ${problem}` };
  }
  const etag = await stampedEtag(file.plan, verified.value);
  if (resumable && headers.get("if-range") !== etag) return verified;
  return { slot: slotBytes(verified.value), etag, value: verified.value };
}

// Feeds `writable` (a FixedLengthStream's) with `head` (the origin's body,
// by the runtime's own pipe) then `tail` (from memory); resolves when all
// was written, rejects when the transfer failed (the client then sees it fail).
async function feed(writable, head, tail) {
  try {
    if (head) await head.pipeTo(writable, { preventClose: true });
  } catch (error) {
    await writable.abort(error).catch(() => {});
    throw error;
  }
  const writer = writable.getWriter();
  try {
    if (tail.length) await writer.write(tail);
    await writer.close();
  } catch (error) {
    await writer.abort(error).catch(() => {});
    throw error;
  }
}

// A GET's body of bytes [start, end) of the copy whose slot is `slot`:
// { body, start, end, whole, sent }; `whole` when the origin could only give
// the whole object, which is then sent instead of the range; `sent` settles
// when the body has been sent (true) or has failed (false).
async function download(settings, file, slot, start, end) {
  const { size, slotOffset } = file.plan;
  let head = null;
  let whole = false;
  if (start < slotOffset) {
    const part = await fetchBase(settings, file, start, Math.min(end, slotOffset));
    try {
      await ensureRelease(settings, file, part.validator);
    } catch (error) {
      part.body?.cancel();
      throw error;
    }
    head = part.body;
    if (part.whole) {
      logOnce(`the origin of ${file.fileName} answers a range with the whole object: whole downloads are ` +
        "sent instead (let the origin and its cache honour Range)");
      [whole, start, end] = [true, 0, size];
      head = sliceStream(head, 0, slotOffset);
    }
  } else {
    await ensureCurrentRelease(settings, file);
  }
  const tail = (slot ?? EMPTY_SLOT).subarray(Math.max(start, slotOffset) - slotOffset, Math.max(end - slotOffset, 0));
  const { readable, writable } = new FixedLengthStream(end - start);
  const sent = feed(writable, head, tail).then(
    () => true,
    (error) => {
      logOnce(`a download stopped: ${error}`);
      return false;
    },
  );
  return { body: readable, start, end, whole, sent };
}

async function serve(request, settings, log) {
  if (request.method !== "GET" && request.method !== "HEAD") return status(405);
  const path = normalizedPath(rawPath(request.url));
  if (path === null) return status(400);
  if (!path.startsWith(settings.prefix)) {
    log.path = loggedPath(path);
    return status(404);
  }
  log.path = settings.prefix; // what follows may hold a token: a live link
  const rest = path.slice(settings.prefix.length);
  const slash = rest.indexOf("/");
  const token = slash < 0 ? "" : rest.slice(0, slash);
  const file = (await catalogueOf(settings)).get(rest.slice(slash + 1));
  if (!file || (slash >= 0 && token === "")) return status(404);
  log.path = settings.prefix + file.fileName;

  const { size, etag: baseEtag } = file.plan;
  const stamp = await stampFor(settings, file, token, request.headers);
  log.outcome = stamp.code ?? "stamped";
  if (stamp.slot) log.value = new TextDecoder().decode(stamp.value);
  if (token !== "" && stamp.reason) log.reason = stamp.reason;
  const etag = stamp.etag ?? baseEtag;
  const decision = decideRange(request.headers, size, etag);
  switch (decision.status) {
    case 304:
      await ensureCurrentRelease(settings, file);
      return new Response(null, { status: 304, headers: { ETag: etag } });
    case 412:
      return status(412);
    case 416:
      return new Response(null, { status: 416, headers: { "Content-Range": `bytes */${size}` } });
  }
  let { status: code, start, end } = decision;
  let body = null;
  if (request.method === "HEAD") {
    await ensureCurrentRelease(settings, file);
  } else {
    const part = await download(settings, file, stamp.slot, start, end);
    ({ body, start, end } = part);
    if (part.whole) code = 200;
    log.sent = part.sent;
  }
  const headers = { "Content-Type": CONTENT_TYPE, "Content-Length": String(end - start), ETag: etag };
  if (code === 206) headers["Content-Range"] = `bytes ${start}-${end - 1}/${size}`;
  else headers["Accept-Ranges"] = "bytes";
  if (body) setRange(log, request.method, start, end, size);
  return new Response(body, { status: code, headers });
}

export default {
  async fetch(request, env, ctx) {
    const log = newRequestLog();
    let response;
    try {
      response = await serve(request, await settingsOf(env), log);
    } catch (error) {
      if (!(error instanceof OriginError || error instanceof SettingError)) throw error;
      const fault = error instanceof OriginError ? "" : "misconfigured: ";
      console.log(`mir_attribution: ${fault}${error.message}`);
      response = status(error instanceof OriginError ? 502 : 500);
    }
    log.status = response.status;
    const { sent } = log;
    delete log.sent;
    if (!sent) {
      writeRequestLog(log);
    } else {
      ctx.waitUntil(sent.then((completed) => {
        log.completed = completed ? 1 : 0;
        writeRequestLog(log);
      }));
    }
    return response;
  },
};
