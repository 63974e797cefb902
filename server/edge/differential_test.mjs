// The same links through the Worker and through the nginx module: every token
// of the link-token fuzz corpus, the published vectors, generated links of
// every kind (valid, expired, forged, unknown key, each refused value class,
// malformed), for both files of the catalogue, and request targets in raw
// forms (backslashes, leading and escaped "..", overlong dots, merged
// slashes), sent as they are. Both must answer alike (status and bytes), and
// a generated link must get what its kind calls for: the base stamped with
// its value (built here from the base) or the base unchanged. The links are
// made here with node's own HMAC, apart from the Worker's code, and by the tool.
//   node differential_test.mjs TOOL WORK EDGE_URL MODULE_URL CORPUS_DIR
//                              VECTORS_EDGE_PREFIX VECTORS_MODULE_PREFIX VECTORS_TXT
// WORK holds k1.key, k2.key (known to both servers), k3.key (to neither),
// origin/mirelo_browser_setup.exe and origin/base.exe, which both servers
// also serve as second.exe beside the first.
import { createHash, createHmac, randomBytes, randomInt } from "node:crypto";
import { execFileSync } from "node:child_process";
import { readdirSync, readFileSync, writeFileSync } from "node:fs";
import { request } from "node:http";

const [tool, work, edgeUrl, moduleUrl, corpusDir, vectorsEdge, vectorsModule, vectorsTxt] =
  process.argv.slice(2);
const name = "mirelo_browser_setup.exe";
const key = (id) => readFileSync(`${work}/${id}.key`);
const base = readFileSync(`${work}/origin/${name}`);
const now = Math.floor(Date.now() / 1000);
const sha256 = (bytes) => createHash("sha256").update(bytes).digest("hex");

const be = (value, size) => Buffer.from(BigInt(value).toString(16).padStart(size * 2, "0"), "hex");
function mac(keyBytes, fileName, value, expires) {
  return createHmac("sha256", keyBytes)
    .update(Buffer.concat([Buffer.from("MIRLINK1"), be(fileName.length, 4), Buffer.from(fileName),
      be(value.length, 4), value, be(expires, 8)]))
    .digest();
}
function token(value, expires, { id = "k1", keyId = id, fileName = name, macOf = null } = {}) {
  const tag = macOf ?? mac(key(id), fileName, value, expires);
  return `${value.toString("base64url")}.${expires}.${keyId}.${tag.toString("base64url")}`;
}
function stamped(source, value) {
  const slot = Buffer.alloc(4112);
  slot.write("MIRBCH01");
  slot.writeUInt32LE(value.length, 8);
  return Buffer.concat([source.subarray(0, source.length - 4112), slot.fill(value, 12, 12 + value.length)]);
}
const utf8 = (codePoint) => Buffer.from(String.fromCodePoint(codePoint));

// Valid values: ASCII, random well-formed UTF-8 of every sequence length, the edges.
function randomCodePoint() {
  for (;;) {
    const ranges = [[0x01, 0x7f], [0x80, 0x7ff], [0x800, 0xffff], [0x10000, 0x10ffff]];
    const [low, high] = ranges[randomInt(4)];
    const c = randomInt(low, high + 1);
    if ((c >= 0xd800 && c <= 0xdfff) || (c >= 0xfdd0 && c <= 0xfdef) || (c & 0xfffe) === 0xfffe) continue;
    return c;
  }
}
function randomValue(maxBytes) {
  const parts = [];
  let length = 0;
  const target = randomInt(1, maxBytes + 1);
  while (length < target) {
    const part = utf8(randomCodePoint());
    if (length + part.length > maxBytes) break;
    parts.push(part);
    length += part.length;
  }
  const value = Buffer.concat(parts);
  return value.length && !value.includes("MIRBCH01") ? value : Buffer.from("a");
}
const cases = []; // { label, path, expect: value (stamped) | null (the base) }
const add = (label, tokenText, expect) => cases.push({ label, path: `${tokenText}/${name}`, expect });
// The catalogue's second file: its own base, its own name under the MAC.
const second = readFileSync(`${work}/origin/base.exe`);
for (let i = 0; i < 20; i++) {
  const value = randomValue(100);
  const fileName = i % 4 ? "second.exe" : name; // a link for the first file, on the second's URL
  cases.push({ label: `second file ${i}`, path: `${token(value, now + 3600, { fileName })}/second.exe`,
    expect: fileName === "second.exe" ? value : null, base: second });
}
const future = now + 3600;
for (let i = 0; i < 300; i++) {
  const value = i % 3 ? randomValue(i % 2 ? 64 : 4096) : Buffer.from(randomBytes(randomInt(1, 90)).toString("base64"));
  add(`valid ${i}`, token(value, future + i, { id: i % 5 ? "k1" : "k2" }), value);
}
for (const value of [Buffer.alloc(4096, "z"), Buffer.from("a"), utf8(0x10fffd), utf8(0xfffd), utf8(0xfdcf),
  utf8(0xfdf0), utf8(0xfffc), Buffer.from("MIRBCH0"), Buffer.from("src=caf\u00e9")]) {
  add("valid edge", token(value, future), value);
}
add("valid, expiry past 2^63", token(Buffer.from("late"), "9999999999999999999"), Buffer.from("late"));
for (let i = 0; i < 20; i++) {
  const value = randomValue(200);
  writeFileSync(`${work}/link.value`, value);
  const link = execFileSync(tool, ["link", `--key-file=${work}/k1.key`, "--key-id=k1",
    `--expires=${future}`, `--value-file=${work}/link.value`, "x"]).toString().trim();
  add(`the tool's link ${i}`, link.split("\n").pop().split("/")[1], value);
}
// Expired, forged, unknown key.
for (let i = 0; i < 100; i++) {
  add(`expired ${i}`, token(randomValue(100), i % 10 ? now - 2 - randomInt(1e6) : i), null);
}
for (let i = 0; i < 150; i++) {
  const value = randomValue(100);
  const forged = [
    () => token(value, future, { macOf: randomBytes(32) }),
    () => token(value, future, { id: "k3", keyId: "k1" }),
    () => token(value, future, { fileName: "other.exe" }),
    () => token(value, future).replace(/^[^.]*/, Buffer.concat([value, Buffer.from("x")]).toString("base64url")),
    () => token(value, future).replace(`.${future}.`, `.${future + 1}.`),
    () => token(value, future, { id: "k2", keyId: "k1" }),
  ][i % 6]();
  add(`forged ${i}`, forged, null);
}
for (let i = 0; i < 50; i++) add(`unknown key ${i}`, token(randomValue(50), future, { id: "k3" }), null);
// Each refused value class, signed with a good key.
const refused = [
  ["empty", () => Buffer.alloc(0)],
  ["4097 bytes", () => Buffer.alloc(4097, "a")],
  ["NUL", () => Buffer.concat([randomValue(20), Buffer.from([0]), randomValue(20)])],
  ["lone continuation", () => Buffer.from([0x61, randomInt(0x80, 0xc0)])],
  ["overlong 2-byte", () => Buffer.from([randomInt(0xc0, 0xc2), randomInt(0x80, 0xc0)])],
  ["overlong 3-byte", () => Buffer.from([0xe0, randomInt(0x80, 0xa0), 0x80])],
  ["surrogate", () => Buffer.from([0xed, randomInt(0xa0, 0xc0), randomInt(0x80, 0xc0)])],
  ["overlong 4-byte", () => Buffer.from([0xf0, randomInt(0x80, 0x90), 0x80, 0x80])],
  ["above U+10FFFF", () => Buffer.from([0xf4, randomInt(0x90, 0xc0), 0x80, 0x80])],
  ["no such lead byte", () => Buffer.from([0x61, randomInt(0xf5, 0x100), 0x80, 0x80])],
  ["cut short at the end", () => utf8(randomCodePoint() | 0x800).subarray(0, 2)],
  ["cut short before ASCII", () => Buffer.concat([utf8(0x20ac).subarray(0, 2), Buffer.from("a")])],
  ["noncharacter U+FDD0..U+FDEF", () => Buffer.concat([Buffer.from("a"), utf8(randomInt(0xfdd0, 0xfdf0))])],
  ["noncharacter U+xFFFE/F", () => utf8(randomInt(0, 17) * 0x10000 + 0xfffe + randomInt(2))],
  ["the marker", () => Buffer.concat([randomValue(20), Buffer.from("MIRBCH01"), randomValue(20)])],
];
for (let i = 0; i < 420; i++) {
  const [label, make] = refused[i % refused.length];
  add(`refused: ${label}`, token(make(), future), null);
}
// Malformed tokens.
const good = token(Buffer.from("src=web"), future);
const [v64, , , m64] = good.split(".");
// The last character with its lowest bit flipped: only unused bits change.
const alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
const unusedBit = (text) => text.slice(0, -1) + alphabet[alphabet.indexOf(text.at(-1)) ^ 1];
for (const bad of [`${v64}.0${future}.k1.${m64}`, `${v64}.12345678901234567890.k1.${m64}`,
  `${v64}.${future}.${"k".repeat(33)}.${m64}`, `${v64}.${future}.k1.${m64.slice(0, 42)}`,
  `${v64}=.${future}.k1.${m64}`, `${v64.slice(0, -1)}${"x"}.${future}.k1.${m64}`, `${v64}.${future}.k1`,
  `${good}.x`, `${v64}.-1.k1.${m64}`, `${v64}.${future}.k!.${m64}`, `${unusedBit(v64)}.${future}.k1.${m64}`,
  `${v64}.${future}.k1.${unusedBit(m64)}`]) {
  add("malformed", bad, null);
}
// The corpus: any bytes, each escaped as a path segment.
const escape = (bytes) => Array.from(bytes, (b) =>
  /[A-Za-z0-9._~-]/.test(String.fromCharCode(b)) ? String.fromCharCode(b) : `%${b.toString(16).padStart(2, "0")}`).join("");
for (const file of readdirSync(corpusDir)) {
  cases.push({ label: `corpus ${file}`, path: `${escape(readFileSync(`${corpusDir}/${file}`))}/${name}`, corpus: true });
}

// GET with the URL's path sent exactly as written (fetch would normalise it).
function get(url) {
  const [, host, port, path] = /^http:\/\/([^/:]+):(\d+)(\/.*)$/.exec(url);
  return new Promise((resolve, reject) => {
    request({ host, port, path }, (response) => {
      const parts = [];
      response.on("data", (part) => parts.push(part));
      response.on("end", () => resolve({ status: response.statusCode, body: Buffer.concat(parts) }));
      response.on("error", reject);
    }).on("error", reject).end();
  });
}
const edgePrefix = edgeUrl.slice(0, -name.length);
const modulePrefix = moduleUrl.slice(0, -name.length);
// Raw request targets, from the server's root: only the agreement is judged.
const prefixPath = /^http:\/\/[^/]+(\/.*)$/.exec(edgePrefix)[1]; // "/download/"
const root = (prefix) => prefix.slice(0, -prefixPath.length);
const live = token(Buffer.from("src=raw"), future);
const p = prefixPath.slice(1, -1); // "download"
for (const target of [`/${p}\\${live}/${name}`, `/${p}/${live}\\${name}`, `/../${p}/${live}/${name}`,
  `/%2e%2e/${p}/${live}/${name}`, `/%2E./${p}/${live}/${name}`, `/${p}/../../${p}/${live}/${name}`,
  `/${p}/./${live}/${name}`, `//${p}//${live}//${name}`, `/${p}/${live}/./${name}`, `/${p}/x/../${live}/${name}`,
  `/${p}/${live}/x/../${name}`, `/${p}/${live}%2f${name}`, `/${p}%2f${live}/${name}`, `/${p}/%c0%ae%c0%ae/${name}`,
  `/${p}/${live}/%c0%ae%c0%ae/${name}`, `/${p}/%c0%ae/${live}/${name}`, `/${p}/%e0%80%ae%e0%80%ae/${name}`,
  `/${p}/${live}/${name}?x=/../`, `/${p}/${live}/${name}#x`, `/${p}/${live}/${name}.`, `/${p}/${live}/${name}%00`,
  `/${p}/${encodeURIComponent(live).replace(/./g, (c) => `%${c.charCodeAt(0).toString(16)}`)}/${name}`]) {
  cases.push({ label: `raw ${target.slice(0, 40)}`, raw: target, corpus: true });
}
let failures = 0;
const counts = {};
const failed = (label, why) => {
  if (++failures <= 20) console.log(`FAILED: ${label}: ${why}`);
};
for (const c of cases) {
  const [edge, module] = await Promise.all(c.raw ? [get(root(edgePrefix) + c.raw), get(root(modulePrefix) + c.raw)]
    : [get(edgePrefix + c.path), get(modulePrefix + c.path)]);
  const source = c.base ?? base;
  const kind = edge.status !== 200 ? `status ${edge.status}` : edge.body.equals(source) ? "base" : "stamped";
  counts[kind] = (counts[kind] ?? 0) + 1;
  // Error pages are nginx's own HTML: for those the status is compared.
  if (edge.status !== module.status || (edge.status === 200 && !edge.body.equals(module.body))) {
    failed(c.label, `the Worker answers ${kind} (${edge.status}), the module ${module.status} with other bytes`);
  } else if (!c.corpus && !edge.body.equals(c.expect ? stamped(source, c.expect) : source)) {
    failed(c.label, `${kind}, not ${c.expect ? "stamped" : "the base"}`);
  }
}
// The published vectors: each value's download has the SHA-256 given.
const vectorsBase = readFileSync(`${work}/origin/base.exe`);
let vectors = 0;
for (const line of readFileSync(vectorsTxt, "utf8").split("\n").filter(Boolean)) {
  const [digest, ...words] = line.split(" ");
  const value = Buffer.from(words.join(" "));
  const path = `/${token(value, future, { fileName: "base.exe" })}/base.exe`;
  for (const prefix of [vectorsEdge, vectorsModule]) {
    const { body } = await get(prefix + path);
    if (sha256(body) !== digest || sha256(stamped(vectorsBase, value)) !== digest) {
      failed(`vector ${words.join(" ").slice(0, 20)}`, `${prefix}: SHA-256 ${sha256(body)}`);
    }
  }
  vectors++;
}
console.log(`${cases.length} links and ${vectors} vectors through both servers: ` +
  `${JSON.stringify(counts)}; ${failures} failed`);
process.exit(failures ? 1 : 0);
