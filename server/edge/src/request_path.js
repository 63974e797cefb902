// The path of a request as nginx sees it before matching a location: %XX
// escapes decoded (a malformed one, or a NUL, is a bad request), runs of
// slashes merged, "." segments dropped and ".." segments resolved (past the
// root: a bad request). The edge must cut the token out of the same path as
// the origin, or the two could take one URL for two different links.
// Returns a string of byte values (each char < 256), or null for a bad request.
// `pathname` is the request target's own text: "\\" is no separator and
// nothing was resolved before (new URL() would do both, unlike nginx).
export function normalizedPath(pathname) {
  let decoded = "";
  for (let i = 0; i < pathname.length; i++) {
    const c = pathname[i];
    if (c !== "%") {
      decoded += c;
      continue;
    }
    const hex = pathname.slice(i + 1, i + 3);
    if (!/^[0-9A-Fa-f]{2}$/.test(hex)) return null;
    const byte = parseInt(hex, 16);
    if (byte === 0) return null;
    decoded += String.fromCharCode(byte);
    i += 2;
  }
  if (!decoded.startsWith("/")) return null;
  const segments = [];
  const parts = decoded.split("/");
  for (let i = 1; i < parts.length; i++) {
    const part = parts[i];
    const last = i === parts.length - 1;
    if (part === "..") {
      if (segments.length === 0) return null;
      segments.pop();
      if (last) segments.push("");
    } else if (part === "." || (part === "" && !last)) {
      if (last) segments.push("");
    } else {
      segments.push(part);
    }
  }
  return "/" + segments.join("/");
}

// The path of the request target as the client sent it: the runtime passes
// it in request.url unchanged after the scheme and authority.
export function rawPath(url) {
  const authority = url.indexOf("//");
  const start = url.indexOf("/", authority < 0 ? 0 : authority + 2);
  if (start < 0) return "";
  const end = url.slice(start).search(/[?#]/);
  return end < 0 ? url.slice(start) : url.slice(start, start + end);
}
