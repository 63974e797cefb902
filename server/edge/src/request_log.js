// What the Worker logs: one JSON line per request, with the fields and codes
// of the nginx module's log variables, written once the body has been sent
// or has failed (at once when there is no body), so that a download counts
// once, from the line with last_byte 1 and completed 1:
//
//   {"outcome":"stamped","value":"src=x","path":"/download/x.exe",
//    "range":"0-4899/4900","status":200,"last_byte":1,"completed":1}
//
// plus "reason" when a link with a token got the base. Faults of the
// deployment (a setting, the origin) are lines of text of their own. No key,
// and no token (a live link), ever reaches a log.

const MAX_LOGGED_PATH = 1024; // bytes of a hostile path, no more
const MAX_ONCE = 256;
const logged = new Set();

export function newRequestLog() {
  return { outcome: "", value: "", path: "", range: "", status: 0, last_byte: 0, completed: 0 };
}

// `path` is a string of byte values (request_path.js).
export function loggedPath(path) {
  const bytes = Uint8Array.from(path.slice(0, MAX_LOGGED_PATH), (c) => c.charCodeAt(0));
  return new TextDecoder().decode(bytes);
}

// The response's body covers bytes [start, end) of `size`.
export function setRange(log, method, start, end, size) {
  log.range = `${start}-${end - 1}/${size}`;
  log.last_byte = method === "GET" && end === size ? 1 : 0;
}

export function writeRequestLog(log) {
  if (!log.reason) delete log.reason;
  console.log(JSON.stringify(log));
}

// A deployment's fault, logged once per isolate rather than per request.
export function logOnce(message) {
  if (logged.has(message)) return;
  if (logged.size < MAX_ONCE) logged.add(message);
  console.log(`mir_attribution: ${message}`);
}
