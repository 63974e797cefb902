// The values the launcher stores, and the slot that carries one. The rule is
// the launcher's own: 1 to 4096 bytes of well-formed UTF-8 (shortest forms,
// no surrogates, nothing above U+10FFFF), no noncharacter (U+FDD0..U+FDEF,
// U+xFFFE, U+xFFFF), no NUL byte (the registry string would end there), and
// not the trailer's marker, which the launcher finds only once.

export const SLOT_SIZE = 4112;
export const MAX_VALUE_LENGTH = 4096;
const MARKER = new TextEncoder().encode("MIRBCH01");

// The code point of the UTF-8 sequence at bytes[at] and its length; the
// code point is -1 for an ill-formed sequence.
function decodeSequence(bytes, at) {
  const lead = bytes[at];
  if (lead < 0x80) return [lead, 1];
  let trailCount;
  let codePoint;
  let low = 0x80;
  let high = 0xbf;
  if (lead >= 0xc2 && lead <= 0xdf) {
    trailCount = 1;
    codePoint = lead & 0x1f;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    trailCount = 2;
    codePoint = lead & 0x0f;
    if (lead === 0xe0) low = 0xa0; // no overlong forms
    if (lead === 0xed) high = 0x9f; // no surrogates
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    trailCount = 3;
    codePoint = lead & 0x07;
    if (lead === 0xf0) low = 0x90; // no overlong forms
    if (lead === 0xf4) high = 0x8f; // nothing above U+10FFFF
  } else {
    return [-1, 1];
  }
  let i = 1;
  for (; i <= trailCount && at + i < bytes.length; i++) {
    const trail = bytes[at + i];
    if (trail < low || trail > high) break;
    codePoint = (codePoint << 6) | (trail & 0x3f);
    low = 0x80;
    high = 0xbf;
  }
  return [i > trailCount ? codePoint : -1, i];
}

function isNoncharacter(codePoint) {
  return (codePoint >= 0xfdd0 && codePoint <= 0xfdef) || (codePoint & 0xfffe) === 0xfffe;
}

function indexOfMarker(bytes) {
  outer: for (let i = 0; i + MARKER.length <= bytes.length; i++) {
    for (let j = 0; j < MARKER.length; j++) if (bytes[i + j] !== MARKER[j]) continue outer;
    return i;
  }
  return -1;
}

// Why the launcher would refuse `value` (a Uint8Array), or "" when it stores it.
export function valueProblem(value) {
  if (value.length === 0) return "the value is empty";
  if (value.length > MAX_VALUE_LENGTH) {
    return `the value is ${value.length} bytes long; at most ${MAX_VALUE_LENGTH} are stored`;
  }
  for (let at = 0; at < value.length; ) {
    if (value[at] === 0) return `the value holds a NUL byte (byte ${at}), where the stored string would end`;
    const [codePoint, length] = decodeSequence(value, at);
    if (codePoint < 0) return `the value is not well-formed UTF-8 (byte ${at})`;
    if (isNoncharacter(codePoint)) {
      const hex = codePoint.toString(16).toUpperCase().padStart(4, "0");
      return `the value holds the noncharacter U+${hex} (byte ${at})`;
    }
    at += length;
  }
  if (indexOfMarker(value) >= 0) return 'a trailer record cannot carry a value that holds "MIRBCH01"';
  return "";
}

// The slot's bytes for a value the launcher stores: "MIRBCH01", the value's
// length (32-bit little-endian), the value, zeros.
export function slotBytes(value) {
  const slot = new Uint8Array(SLOT_SIZE);
  slot.set(MARKER, 0);
  new DataView(slot.buffer).setUint32(8, value.length, true);
  slot.set(value, 12);
  return slot;
}
