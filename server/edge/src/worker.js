// The download Worker: serves a release's base, stamped per download, under
// the URLs of the nginx module, with the same bytes and headers:
//
//   PREFIX<token>/<file name>  the base up to its attribution slot, from the
//                              origin, then the slot filled with the token's value
//   PREFIX<file name>          the base unchanged
//
// A token that fails (malformed, unknown key id, forged, expired, a value
// the launcher refuses) gets the base unchanged and one log line with the
// reason: a download never fails for its attribution. Settings: settings.js.
import { fetchBase, OriginError } from "./origin.js";
import { decideRange } from "./ranges.js";
import { normalizedPath } from "./request_path.js";
import { settingsOf } from "./settings.js";
import { verifyLinkToken } from "./token.js";
import { slotBytes, valueProblem } from "./value_rule.js";

const CONTENT_TYPE = "application/octet-stream"; // .exe in Debian's mime.types

function status(code) {
  return new Response(null, { status: code });
}

async function sha256Hex16(bytes) {
  const digest = new Uint8Array(await crypto.subtle.digest("SHA-256", bytes));
  return Array.from(digest.subarray(0, 8), (b) => b.toString(16).padStart(2, "0")).join("");
}

// { slot, etag } of the stamped copy for `token`, or { reason } to send the base.
async function stampFor(settings, token) {
  if (token === "") return { reason: "the link has no token" };
  const now = BigInt(Math.floor(Date.now() / 1000));
  const verified = await verifyLinkToken(settings.keys, token, settings.fileName, now);
  if (verified.reason) return verified;
  const problem = valueProblem(verified.value);
  if (problem) return { reason: `the launcher would refuse the link's value: ${problem}` };
  const etag = `${settings.plan.etag.slice(0, -1)}-${await sha256Hex16(verified.value)}"`;
  return { slot: slotBytes(verified.value), etag };
}

// base[start, end) followed by slot[0, end - slotOffset) as one stream of
// known length: the origin's body goes to the response by the runtime's own
// pipe, and only the slot's bytes are written here.
function joined(ctx, head, headLength, tail) {
  const { readable, writable } = new FixedLengthStream(headLength + tail.length);
  ctx.waitUntil(
    head
      .pipeTo(writable, { preventClose: true })
      .then(async () => {
        const writer = writable.getWriter();
        await writer.write(tail);
        await writer.close();
      })
      .catch((error) => console.log(`mir_attribution: the download stopped: ${error}`)),
  );
  return readable;
}

// The body of the copy's bytes [start, end): the base's from the origin, the
// slot's (when stamped) from memory.
async function body(ctx, settings, slot, start, end) {
  const { slotOffset } = settings.plan;
  if (!slot || end <= slotOffset) return fetchBase(settings, start, end);
  if (start >= slotOffset) return slot.subarray(start - slotOffset, end - slotOffset);
  const head = await fetchBase(settings, start, slotOffset);
  return joined(ctx, head, slotOffset - start, slot.subarray(0, end - slotOffset));
}

async function serve(request, settings, ctx) {
  if (request.method !== "GET" && request.method !== "HEAD") return status(405);
  const path = normalizedPath(new URL(request.url).pathname);
  if (path === null) return status(400);
  if (!path.startsWith(settings.prefix)) return status(404);
  const rest = path.slice(settings.prefix.length);
  const slash = rest.indexOf("/");
  const token = slash < 0 ? "" : rest.slice(0, slash);
  if (rest.slice(slash + 1) !== settings.fileName || (slash >= 0 && token === "")) return status(404);

  const { size, etag: baseEtag } = settings.plan;
  const stamp = await stampFor(settings, token);
  if (stamp.reason) console.log(`mir_attribution: sending the base unattributed: ${stamp.reason}`);
  const etag = stamp.etag ?? baseEtag;
  const decision = decideRange(request.headers, size, etag);
  switch (decision.status) {
    case 304:
      return new Response(null, { status: 304, headers: { ETag: etag } });
    case 412:
      return status(412);
    case 416:
      return new Response(null, { status: 416, headers: { "Content-Range": `bytes */${size}` } });
  }
  const { start, end } = decision;
  const headers = { "Content-Type": CONTENT_TYPE, "Content-Length": String(end - start), ETag: etag };
  if (decision.status === 206) {
    headers["Content-Range"] = `bytes ${start}-${end - 1}/${size}`;
  } else {
    headers["Accept-Ranges"] = "bytes";
  }
  const content = request.method === "HEAD" ? null : await body(ctx, settings, stamp.slot, start, end);
  return new Response(content, { status: decision.status, headers });
}

export default {
  async fetch(request, env, ctx) {
    let settings;
    try {
      settings = await settingsOf(env);
    } catch (error) {
      console.log(`mir_attribution: misconfigured: ${error.message}`);
      return status(500);
    }
    try {
      return await serve(request, settings, ctx);
    } catch (error) {
      if (!(error instanceof OriginError)) throw error;
      console.log(`mir_attribution: ${error.message}`);
      return status(502);
    }
  },
};
