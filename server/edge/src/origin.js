// The base's bytes from the origin, always by its one fixed URL (a CDN's
// cache in front of the origin then holds one object per release, whatever
// the links), asking only for the range needed. The origin's answer is
// checked against the plan: a base of another size means the plan is not
// this release's, and the request fails rather than send wrong bytes.

export class OriginError extends Error {}

// The body of base[start, end) (start < end) as the origin sends it.
export async function fetchBase(settings, start, end) {
  const { size } = settings.plan;
  const whole = start === 0 && end === size;
  const headers = { "Accept-Encoding": "identity" };
  if (!whole) headers.Range = `bytes=${start}-${end - 1}`;
  const request = new Request(settings.originUrl, { method: "GET", headers });
  let response;
  try {
    response = await (settings.origin ? settings.origin.fetch(request) : fetch(request));
  } catch (error) {
    throw new OriginError(`the origin cannot be reached: ${error.message}`);
  }
  const length = response.headers.get("content-length");
  let problem = "";
  if (response.status === 206) {
    const range = /^bytes (\d+)-(\d+)\/(\d+)$/.exec(response.headers.get("content-range") ?? "");
    if (!range) {
      problem = "a 206 without a byte range";
    } else if (Number(range[3]) !== size) {
      problem = `a base of ${range[3]} bytes where the plan has ${size}: a stale plan?`;
    } else if (Number(range[1]) !== start || Number(range[2]) !== end - 1) {
      problem = `bytes ${range[1]}-${range[2]} for ${start}-${end - 1}`;
    }
  } else if (response.status === 200) {
    if (Number(length) !== size) {
      problem = `a base of ${length} bytes where the plan has ${size}: a stale plan?`;
    } else if (!whole) {
      problem = "the whole base for a range";
    }
  } else {
    problem = `status ${response.status}`;
  }
  if (!problem && response.headers.has("content-encoding")) problem = "an encoded body";
  if (problem) {
    response.body?.cancel();
    throw new OriginError(`the origin answered ${problem}`);
  }
  return response.body;
}
