# shellcheck shell=bash
# Downloads as people make them, for a server's log to count: sourced by a
# server's test, which gives a function printing the link of a campaign
# value (`MAKE_URL VALUE`) and, afterwards, the log of one JSON line per
# request. A download counts once: the response that sends the file's last
# byte and completes.
#
#   drive_downloads MAKE_URL        makes the downloads below, in the current
#                                   folder; sets download_requests (how many
#                                   requests they make) and leaves the true
#                                   counts, "COUNT VALUE" per line, in
#                                   true-counts.txt
#   check_download_counts LOG       waits (bounded) until LOG has a line per
#                                   request, then requires the documented
#                                   count command's result to be the true one
#
# The file must be much larger than the sockets' buffers (32 MB on
# loopback), so that a client that stops early stops the server's send too.
# curl gets ${download_curl[@]} first (for example --http2 -k). Needs curl,
# jq, and the caller's `fail`.

download_curl=(${download_curl[@]+"${download_curl[@]}"})
# Per campaign: whole downloads (at least one, the others' reference), ones resumed after an interrupt, interrupted
# ones, segmented ones (several ranges in parallel), HEADs. A space, an `&`
# and non-ASCII bytes in the values reach the count as they were signed.
download_campaigns='src=alpha|1|1|1|1|1
src=news letter&id=2|2|0|2|0|1
src=café|1|1|1|2|0'

download_request() { curl -s "${download_curl[@]}" "$@"; }

# An interrupted download: the client reads the headers and the first
# 100,000 bytes, then closes. Leaves the headers in interrupted.headers.
download_interrupted() {
  download_request -D interrupted.headers "$1" 2>/dev/null | head -c 100000 >"$2" || true
  [ "$(stat -c %s "$2")" = 100000 ] || fail "$1: the interrupted download got no bytes"
}

# A download resumed after an interrupt, with a browser's If-Range.
download_resumed() {
  local etag
  download_interrupted "$1" resumed.bin
  etag=$(tr -d '\r' <interrupted.headers | sed -n 's/^etag: //Ip')
  download_request -f -r 100000- -H "If-Range: $etag" "$1" >>resumed.bin || fail "$1: resume failed"
  cmp -s resumed.bin whole.bin || fail "$1: the resumed download is not the whole file"
}

# Four ranges in parallel, joined.
download_segmented() {
  local size=$2 part=$(($2 / 4 + 1)) i pids=()
  for i in 0 1 2 3; do
    download_request -f -r $((i * part))-$(((i + 1) * part - 1 < size - 1 ? (i + 1) * part - 1 : size - 1)) \
      -o segment-$i.bin "$1" &
    pids+=($!)
  done
  for i in 0 1 2 3; do wait "${pids[$i]}" || fail "$1: segment $i failed"; done
  cat segment-{0,1,2,3}.bin | cmp -s - whole.bin || fail "$1: the segments are not the whole file"
}

drive_downloads() {
  local value whole resumed interrupted segmented heads url size i
  download_requests=0
  : >true-counts.txt
  while IFS='|' read -r value whole resumed interrupted segmented heads; do
    url=$("$1" "$value")
    # The first whole download is the reference for the others' bytes.
    download_request -f -o whole.bin "$url" || fail "$value: the download failed"
    size=$(stat -c %s whole.bin)
    for ((i = 1; i < whole; i++)); do
      download_request -f "$url" | cmp -s - whole.bin || fail "$value: a whole download differs"
    done
    for ((i = 0; i < resumed; i++)); do download_resumed "$url"; done
    for ((i = 0; i < interrupted; i++)); do download_interrupted "$url" interrupted.bin; done
    for ((i = 0; i < segmented; i++)); do download_segmented "$url" "$size"; done
    for ((i = 0; i < heads; i++)); do download_request -fI -o /dev/null "$url" || fail "$value: HEAD"; done
    echo "$((whole + resumed + segmented)) $value" >>true-counts.txt
    download_requests=$((download_requests + whole + 2 * resumed + interrupted + 4 * segmented + heads))
  done <<<"$download_campaigns"
  sort -o true-counts.txt true-counts.txt
}

check_download_counts() {
  local _
  for _ in $(seq 100); do
    [ "$(wc -l <"$1")" -lt "$download_requests" ] || break
    sleep 0.1
  done
  [ "$(wc -l <"$1")" = "$download_requests" ] || fail "$1: not one line per request"
  jq -r 'select(.last_byte == 1 and .completed == 1 and .outcome == "stamped") | .value' "$1" |
    sort | uniq -c | sed 's/^ *//' | sort | cmp -s - true-counts.txt ||
    fail "$1: the counts are not the true ones: $(jq -c . "$1")"
}
