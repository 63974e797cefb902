// What a request gets of a representation of `size` bytes with the strong
// ETag `etag` and no Last-Modified, decided as nginx's not-modified and
// range filters decide it for the download module, so that the edge and the
// origin answer every request alike:
//
//   a failing If-Match:                                               412
//   If-None-Match matching:                                           304
//   (If-Modified-Since and If-Unmodified-Since are ignored: no date)
//   Range "bytes=..." (unless If-Range is not this very ETag):
//     one satisfiable range: 206; none, or a malformed header: 416;
//     several: the whole representation (200), as for one buffer
//   otherwise:                                                        200
//
// Returns { status, start, end } with the bytes [start, end) to send.

const MAX_OFF_T = 9223372036854775807n;

// nginx's ETag list match: "*", or the ETag as one member of the list;
// `weak` lets a W/ prefix on either side match.
function etagListMatches(list, etag, weak) {
  if (list === "*") return true;
  if (weak && etag.length > 2 && etag.startsWith("W/")) etag = etag.slice(2);
  let at = 0;
  while (at < list.length) {
    if (weak && list.length - at > 2 && list.startsWith("W/", at)) at += 2;
    if (etag.length > list.length - at) return false;
    if (list.startsWith(etag, at)) {
      let after = at + etag.length;
      while (after < list.length && (list[after] === " " || list[after] === "\t")) after++;
      if (after === list.length || list[after] === ",") return true;
    }
    while (at < list.length && list[at] !== ",") at++;
    while (at < list.length && (list[at] === " " || list[at] === "\t" || list[at] === ",")) at++;
  }
  return false;
}

// The one range of a "bytes=" header (text after the unit), or "whole" (several
// ranges, or one that starts at 0 and is empty), or "unsatisfiable".
function parseRange(text, size) {
  let p = 0;
  const at = () => (p < text.length ? text[p] : "\0");
  const isDigit = () => at() >= "0" && at() <= "9";
  const skipSpaces = () => {
    while (at() === " ") p++;
  };
  const number = () => {
    let value = 0n;
    while (isDigit()) {
      value = value * 10n + BigInt(text.charCodeAt(p++) - 48);
      if (value > MAX_OFF_T) return null;
    }
    return value;
  };
  let found = null;
  let total = 0n;
  for (;;) {
    let start = 0n;
    let end = 0n;
    let suffix = false;
    let open = false;
    skipSpaces();
    if (at() !== "-") {
      if (!isDigit()) return "unsatisfiable";
      start = number();
      if (start === null) return "unsatisfiable";
      skipSpaces();
      if (text[p++] !== "-") return "unsatisfiable";
      skipSpaces();
      if (at() === "," || at() === "\0") {
        end = size;
        open = true;
      }
    } else {
      suffix = true;
      p++;
    }
    if (!open) {
      if (!isDigit()) return "unsatisfiable";
      end = number();
      if (end === null) return "unsatisfiable";
      skipSpaces();
      if (at() !== "," && at() !== "\0") return "unsatisfiable";
      if (suffix) {
        start = end < size ? size - end : 0n;
        end = size - 1n;
      }
      end = end >= size ? size : end + 1n;
    }
    if (start < end) {
      if (found) return "whole"; // a second range
      found = { start, end };
      total += end - start;
    } else if (start === 0n) {
      return "whole";
    }
    if (text[p++] !== ",") break;
  }
  if (!found) return "unsatisfiable";
  if (total > size) return "whole";
  return found;
}

// `headers` is the request's Headers.
export function decideRange(headers, size, etag) {
  const whole = { status: 200, start: 0, end: size };
  if (headers.has("if-match") && !etagListMatches(headers.get("if-match"), etag, false)) {
    return { status: 412 };
  }
  if (headers.has("if-none-match") &&
      etagListMatches(headers.get("if-none-match"), etag, true)) {
    return { status: 304 };
  }
  const range = headers.get("range");
  if (range === null || range.length < 7 || range.slice(0, 6).toLowerCase() !== "bytes=") return whole;
  const ifRange = headers.get("if-range");
  if (ifRange !== null && !(ifRange.length >= 2 && ifRange.endsWith('"') && ifRange === etag)) return whole;
  const parsed = parseRange(range.slice(6), BigInt(size));
  if (parsed === "whole") return whole;
  if (parsed === "unsatisfiable") return { status: 416 };
  return { status: 206, start: Number(parsed.start), end: Number(parsed.end) };
}
