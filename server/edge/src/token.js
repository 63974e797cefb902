// Signed download links, checked the way the C++ server checks them:
//
//   token = base64url(value) "." expires "." key_id "." base64url(mac)
//   mac   = HMAC-SHA256(key, "MIRLINK1" || be32(len(file_name)) || file_name
//                            || be32(len(value)) || value || be64(expires))
//
// base64url is strict (RFC 4648's URL alphabet, no padding, unused bits
// zero), so one set of fields has one token; expires is 1 to 19 decimal
// digits without a leading zero (a BigInt: 19 digits can pass 2^63); the
// MAC is compared by crypto.subtle.verify, in constant time.

const MAX_VALUE_LENGTH = 4096;
const MAX_KEY_ID_LENGTH = 32;
const MAX_EXPIRES_DIGITS = 19;
const MAC_SIZE = 32;
export const MAX_TOKEN_LENGTH =
  base64UrlLength(MAX_VALUE_LENGTH) + MAX_EXPIRES_DIGITS + MAX_KEY_ID_LENGTH +
  base64UrlLength(MAC_SIZE) + 3;

const ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
const SEXTETS = new Int8Array(128).fill(-1);
for (let i = 0; i < ALPHABET.length; i++) SEXTETS[ALPHABET.charCodeAt(i)] = i;

function base64UrlLength(bytes) {
  return Math.floor(bytes / 3) * 4 + [0, 2, 3][bytes % 3];
}

// The bytes of `text`, or null unless it is strict base64url.
export function base64UrlDecode(text) {
  if (text.length % 4 === 1) return null;
  const bytes = new Uint8Array(Math.floor((text.length * 6) / 8));
  let bits = 0;
  let count = 0;
  let out = 0;
  for (let i = 0; i < text.length; i++) {
    const code = text.charCodeAt(i);
    const sextet = code < 128 ? SEXTETS[code] : -1;
    if (sextet < 0) return null;
    bits = ((bits << 6) | sextet) & 0xfff;
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes[out++] = (bits >> count) & 0xff;
    }
  }
  // Left-over bits must be zero: otherwise two texts would give the same bytes.
  if ((bits & ((1 << count) - 1)) !== 0) return null;
  return bytes;
}

export function isValidKeyId(id) {
  return /^[A-Za-z0-9_-]{1,32}$/.test(id);
}

// The token's fields, or { error } when `text` is not a token in the form above.
export function parseLinkToken(text) {
  if (text.length > MAX_TOKEN_LENGTH) return { error: "the token is longer than any valid one" };
  const fields = text.split(".", 5);
  if (fields.length > 4) return { error: "the token has more than four fields" };
  if (fields.length < 4) return { error: "the token has fewer than four fields" };
  const value = base64UrlDecode(fields[0]);
  if (!value) return { error: "the token's value is not base64url" };
  if (!/^(0|[1-9][0-9]{0,18})$/.test(fields[1])) {
    return { error: "the token's expiry is not a decimal number" };
  }
  if (!isValidKeyId(fields[2])) return { error: "the token's key id is malformed" };
  const mac = base64UrlDecode(fields[3]);
  if (!mac || mac.length !== MAC_SIZE) return { error: "the token's MAC is not 32 bytes of base64url" };
  return { value, expires: BigInt(fields[1]), keyId: fields[2], mac };
}

// The message the MAC covers.
export function linkMessage(fileName, value, expires) {
  const name = new TextEncoder().encode(fileName);
  const message = new Uint8Array(8 + 4 + name.length + 4 + value.length + 8);
  const view = new DataView(message.buffer);
  message.set(new TextEncoder().encode("MIRLINK1"), 0);
  view.setUint32(8, name.length);
  message.set(name, 12);
  view.setUint32(12 + name.length, value.length);
  message.set(value, 16 + name.length);
  view.setBigUint64(16 + name.length + value.length, expires);
  return message;
}

// { value } (its bytes) when `text` is a token for `fileName` that a key in
// `keys` (a Map of id to CryptoKey) signed and that has not expired at `now`
// (Unix seconds, a BigInt); { code, reason } otherwise, with the codes of the
// C++ server; an expired token that is genuine also has { value, expires }.
// The value is not judged here.
export async function verifyLinkToken(keys, text, fileName, now) {
  const token = parseLinkToken(text);
  if (token.error) return { code: "malformed", reason: token.error };
  const key = keys.get(token.keyId);
  if (!key) return { code: "unknown-key", reason: `no key has the token's id ${token.keyId}` };
  const message = linkMessage(fileName, token.value, token.expires);
  if (!(await crypto.subtle.verify("HMAC", key, token.mac, message))) {
    return { code: "forged", reason: "the token's MAC does not match (forged, altered or for another file)" };
  }
  if (now < 0n || now >= token.expires) {
    return { code: "expired", reason: `the link expired at ${token.expires}`, value: token.value,
      expires: token.expires };
  }
  return { value: token.value };
}
