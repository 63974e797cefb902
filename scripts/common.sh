# Sourced by the scripts here: stop at the first failed step and say which.
set -Eeuo pipefail
trap 'echo "${0##*/}: failed at line $LINENO (exit status $?): $BASH_COMMAND" >&2' ERR
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
