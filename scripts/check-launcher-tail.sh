#!/usr/bin/env bash
# Refuses a launcher in which the launcher's own attribution search already
# finds a record: a payload whose last bytes hold "CHANNEL_INFO:" ...
# ":CHANNEL_INFO" lands in the tail that the launcher searches first, and
# every copy nobody stamped would store that text as its attribution.
# TOOL... runs mir_attribution (natively, or a wine-run line for the .exe).
#   scripts/check-launcher-tail.sh LAUNCHER TOOL...
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 LAUNCHER TOOL..." >&2; exit 2; }
launcher=$1
shift
[ -f "$launcher" ] && [ -r "$launcher" ] || { echo "check-launcher-tail.sh: cannot read $launcher" >&2; exit 2; }
if found=$("$@" read "$launcher" 2>/dev/null); then
  found=${found%$'\r'}  # the Windows tool under Wine ends its line with CR LF
  echo "check-launcher-tail.sh: the launcher's own search finds a record in $launcher" \
    "(the value \"$found\"): a payload ends with CHANNEL_INFO tags in the launcher's last 1 MiB;" \
    "unstamped copies would store that value. Put other bytes at the payload's end." >&2
  exit 1
fi
