// Whether the origin's object is the plan's release, checked before any of
// its bytes are sent. The release digest (the ETag's first part) is the
// SHA-256 of the bytes the signature does not cover: the checksum field, the
// certificate directory entry and the certificate table up to the slot; the
// signature covers all the rest. So the few KiB in the plan's release_check
// ranges, hashed here exactly as `mir_attribution plan` hashes them,
// identify the whole object: another release, another signer, another size
// or a stale copy all differ there. (A stamped copy does not: its slot is
// never taken from the origin, see worker.js.)
//
// An object is checked once per isolate, keyed by the validator the origin
// sends with it (its ETag, else its Last-Modified), and again whenever that
// changes; every body subrequest's validator must be one checked. An origin
// that sends no validator is checked on every request.
import { OriginError, readBase } from "./origin.js";

const verdicts = new Map(); // key(file, validator) -> Promise of "" or the problem
const MAX_VERDICTS = 1024;
const MAX_GAP = 65536; // ranges closer than this are fetched as one

function keyOf(file, validator) {
  return `${file.plan.checkSha256} ${file.originUrl} ${validator}`;
}

// The check ranges in groups of nearby ones, one subrequest each.
function groups(ranges) {
  const out = [];
  for (const range of ranges) {
    const last = out.at(-1);
    if (last && range.start - last.end < MAX_GAP) last.end = range.end;
    else out.push({ start: range.start, end: range.end });
  }
  return out;
}

// "" when the object named `validator` is the release, else why not.
// `first` (optional): the first group's bytes, already read.
async function check(settings, file, validator, first) {
  const { checkRanges, checkSha256 } = file.plan;
  const parts = [];
  for (const group of groups(checkRanges)) {
    const part = parts.length === 0 && first ? first : await readBase(settings, file, group.start, group.end);
    if (part.validator !== validator) {
      throw new OriginError("the origin's object changed while it was checked");
    }
    parts.push({ ...group, bytes: part.bytes });
  }
  const hashed = [];
  for (const range of checkRanges) {
    const part = parts.find((p) => p.start <= range.start && range.end <= p.end);
    hashed.push(part.bytes.subarray(range.start - part.start, range.end - part.start));
  }
  const digest = new Uint8Array(await crypto.subtle.digest("SHA-256", await new Blob(hashed).arrayBuffer()));
  if (digest.toHex() === checkSha256) return "";
  return `an object that is not the plan's release (${validator || "no validator"}): ` +
    "another release, another signer or a stale copy";
}

// Throws OriginError unless the object the origin named `validator` is the release.
export async function ensureRelease(settings, file, validator, first = null) {
  if (!validator) {
    const problem = await check(settings, file, validator, first);
    if (problem) throw new OriginError(`the origin answered ${problem}`);
    return;
  }
  const key = keyOf(file, validator);
  let verdict = verdicts.get(key);
  if (!verdict) {
    if (verdicts.size >= MAX_VERDICTS) verdicts.clear();
    verdict = check(settings, file, validator, first);
    verdicts.set(key, verdict);
    // Only a verdict on the object itself is kept: a failed fetch is tried again.
    verdict.catch(() => verdicts.delete(key));
  }
  const problem = await verdict;
  if (problem) throw new OriginError(`the origin answered ${problem}`);
}

// For answers that send none of the origin's bytes (HEAD, 304, a range of
// the slot): the origin's current object is the release, asked through the
// cache with the first check range, a few hundred bytes.
export async function ensureCurrentRelease(settings, file) {
  const [group] = groups(file.plan.checkRanges);
  const first = await readBase(settings, file, group.start, group.end);
  await ensureRelease(settings, file, first.validator, first);
}
