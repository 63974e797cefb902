// A file's base from the origin, always by its one fixed URL (a CDN's cache
// in front of the origin then holds one object per release, whatever the
// links), asking only for the range needed. Every answer is checked before
// any of its bytes go on: the status, the range and the object's size
// against the plan, no encoding, no redirect (the origin is one URL); the
// body's length is enforced where the bytes are sent (worker.js). Which
// object answered is told by its validator (release_check.js).

export class OriginError extends Error {}

const MAX_VALIDATOR_LENGTH = 256;

// The origin's name for the object it answered with, as it sends it: its
// ETag, or else its Last-Modified; "" when it sends neither (or one too long
// to be a validator).
function validatorOf(response) {
  const etag = response.headers.get("etag");
  const modified = response.headers.get("last-modified");
  const validator = etag ? `etag ${etag}` : modified ? `last-modified ${modified}` : "";
  return validator.length > MAX_VALIDATOR_LENGTH ? "" : validator;
}

function rangeProblem(response, size, start, end, whole) {
  const length = response.headers.get("content-length");
  if (response.status === 206) {
    const range = /^bytes (\d+)-(\d+)\/(\d+)$/.exec(response.headers.get("content-range") ?? "");
    if (!range) return "a 206 without a byte range";
    if (Number(range[3]) !== size) return `a base of ${range[3]} bytes where the plan has ${size}: a stale plan?`;
    if (Number(range[1]) !== start || Number(range[2]) !== end - 1) {
      return `bytes ${range[1]}-${range[2]} for ${start}-${end - 1}`;
    }
    if (length !== null && Number(length) !== end - start) {
      return `a 206 of ${end - start} bytes with Content-Length ${length.slice(0, 20)}`;
    }
  } else if (response.status === 200) {
    if (length !== null && Number(length) !== size) {
      return `a base of ${length.slice(0, 20)} bytes where the plan has ${size}: a stale plan?`;
    }
  } else if (response.status >= 300 && response.status < 400) {
    return `a redirect (status ${response.status}): the origin must serve the base at its one URL`;
  } else {
    return `status ${response.status}`;
  }
  if (response.headers.has("content-encoding")) return "an encoded body";
  return "";
}

// The origin's answer for base[start, end) of `file` (start < end):
// { body, validator, whole }, `whole` when the origin sent the whole object
// (200) for a range; its body is then the object's from byte 0.
export async function fetchBase(settings, file, start, end) {
  const { size } = file.plan;
  const whole = start === 0 && end === size;
  const headers = { "Accept-Encoding": "identity" };
  if (!whole) headers.Range = `bytes=${start}-${end - 1}`;
  const request = new Request(file.originUrl, { method: "GET", headers, redirect: "manual" });
  let response;
  try {
    response = await (settings.origin ? settings.origin.fetch(request) : fetch(request));
  } catch (error) {
    throw new OriginError(`the origin cannot be reached: ${error.message}`);
  }
  const problem = rangeProblem(response, size, start, end, whole);
  if (problem) {
    response.body?.cancel();
    throw new OriginError(`the origin answered ${problem}`);
  }
  // A body of unknown length is held to the range's: a short one must fail
  // before the bytes after it are sent.
  const sized = response.headers.has("content-length") || (response.status === 200 && !whole);
  const body = sized ? response.body : response.body.pipeThrough(exactly(end - start));
  return { body, validator: validatorOf(response), whole: response.status === 200 && !whole };
}

// A stream that passes `length` bytes and fails on one more or one fewer.
function exactly(length) {
  let left = length;
  return new TransformStream({
    transform(chunk, controller) {
      left -= chunk.length;
      if (left < 0) throw new OriginError("the origin's body is longer than its range");
      controller.enqueue(chunk);
    },
    flush() {
      if (left > 0) throw new OriginError("the origin's body ended early");
    },
  });
}

// The `take` bytes of `body` after its first `skip`, as a stream that fails
// if `body` ends before them; the rest of `body` is not read.
export function sliceStream(body, skip, take) {
  const reader = body.getReader();
  return new ReadableStream({
    type: "bytes",
    async pull(controller) {
      for (;;) {
        const { done, value } = await reader.read();
        if (done) {
          controller.error(new OriginError("the origin's body ended early"));
          return;
        }
        const from = Math.min(skip, value.length);
        skip -= from;
        const part = value.subarray(from, from + take);
        take -= part.length;
        if (part.length) controller.enqueue(part.slice());
        if (take === 0) {
          controller.close();
          reader.cancel();
          return;
        }
        if (part.length) return;
      }
    },
    cancel(reason) {
      return reader.cancel(reason);
    },
  });
}

// base[start, end) of `file` as bytes, with the answering object's validator;
// no more than those bytes are read, whatever the origin sends.
export async function readBase(settings, file, start, end) {
  const part = await fetchBase(settings, file, start, end);
  const body = sliceStream(part.body, part.whole ? start : 0, end - start);
  let bytes;
  try {
    bytes = new Uint8Array(await new Response(body).arrayBuffer());
  } catch (error) {
    throw new OriginError(`the origin's body failed: ${error.message}`);
  }
  if (bytes.length !== end - start) throw new OriginError(`the origin sent ${bytes.length} bytes for ${end - start}`);
  return { bytes, validator: part.validator };
}
