// An origin for the Worker's tests that misbehaves on demand: it serves
// DIR/<name> under /releases/ with a strong ETag (of the content) and one
// byte range per request, as a CDN or nginx would, unless the mode (set by
// "PUT /mode/<mode>", one of MODES) makes it:
//   short / long     send a chunked body half the range / 1000 bytes too long
//   lying-length     send half the range with a Content-Length to match
//                    (these three only for bodies from the first 64 bytes on,
//                    which no release check asks for: the downloads meet them)
//   stamped          serve DIR/stamped.exe (a stamped copy) in every file's place
//   other-release    serve DIR/other.exe (another release of the same size)
//   redirect         answer 302 to /releases/other.exe
//   whole            answer every range with the whole object (200)
//   no-validator     send neither ETag nor Last-Modified
// Prints its port, then stops after MAX_REQUESTS requests or when killed.
//   node misbehaving_origin.mjs DIR MAX_REQUESTS
import { createHash } from "node:crypto";
import { readFileSync } from "node:fs";
import { createServer } from "node:http";

const [dir, maxRequests] = process.argv.slice(2);
const MODES = ["honest", "short", "long", "lying-length", "stamped", "other-release", "redirect", "whole",
  "no-validator"];
let mode = "honest";
let left = Number(maxRequests);

function objectFor(name) {
  const file = { stamped: "stamped.exe", "other-release": "other.exe" }[mode] ?? name;
  if (!/^[A-Za-z0-9._-]+$/.test(file)) return null;
  try {
    return readFileSync(`${dir}/${file}`);
  } catch {
    return null;
  }
}

const server = createServer((request, response) => {
  if (--left <= 0) server.close();
  const modeChange = /^\/mode\/([a-z-]+)$/.exec(request.url);
  if (request.method === "PUT" && modeChange && MODES.includes(modeChange[1])) {
    mode = modeChange[1];
    return response.end();
  }
  const name = /^\/releases\/([^/]+)$/.exec(request.url)?.[1];
  const object = name && objectFor(name);
  if (!object) {
    response.statusCode = 404;
    return response.end();
  }
  if (mode === "redirect") {
    response.writeHead(302, { Location: "/releases/other.exe" });
    return response.end();
  }
  if (mode !== "no-validator") {
    response.setHeader("ETag", `"${createHash("sha256").update(object).digest("hex").slice(0, 20)}"`);
  }
  const range = /^bytes=(\d+)-(\d+)$/.exec(request.headers.range ?? "");
  let [start, end] = [0, object.length];
  if (range && mode !== "whole") {
    [start, end] = [Number(range[1]), Math.min(Number(range[2]) + 1, object.length)];
    response.statusCode = 206;
    response.setHeader("Content-Range", `bytes ${start}-${end - 1}/${object.length}`);
  }
  let body = object.subarray(start, end);
  const odd = start < 64 ? mode : "honest";
  if (odd === "short" || odd === "lying-length") body = body.subarray(0, Math.ceil(body.length / 2));
  if (odd === "long") body = Buffer.concat([body, Buffer.alloc(1000, 0x41)]);
  if (odd !== "short" && odd !== "long") response.setHeader("Content-Length", body.length);
  response.write(body); // before end(): no Content-Length of node's own, so a chunked body
  response.end();
});
server.listen(0, "127.0.0.1", () => console.log(server.address().port));
