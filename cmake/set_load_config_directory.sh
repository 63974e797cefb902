#!/bin/sh
# Points the load-configuration entry (DataDirectory[10]) of a PE32+ image at
# the structure `_load_config_used` that the program defines, whose first
# four bytes are its size: GNU ld 2.40 leaves that entry empty. Run after the
# link, with the link map.
#   set_load_config_directory.sh IMAGE MAP
set -eu
image=$1 map=$2
fail() {
  echo "set_load_config_directory.sh: $*" >&2
  exit 1
}
address=$(awk '$2 == "_load_config_used" { print $1; exit }' "$map")
[ -n "$address" ] || fail "no _load_config_used in $map"
number() { od -An -t "u$2" -j "$1" -N "$2" "$image" | tr -d ' '; }
e=$(number 60 4)
[ "$(number $((e + 24)) 2)" = 523 ] || fail "$image is not a PE32+ image"
rva=$((address - $(number $((e + 48)) 8)))
# The structure's file offset, from the section that holds its address.
sections=$(number $((e + 6)) 2)
table=$((e + 24 + $(number $((e + 20)) 2)))
offset=
i=0
while [ $i -lt "$sections" ]; do
  header=$((table + 40 * i))
  start=$(number $((header + 12)) 4)
  if [ $rva -ge "$start" ] && [ $rva -lt $((start + $(number $((header + 16)) 4))) ]; then
    offset=$((rva - start + $(number $((header + 20)) 4)))
  fi
  i=$((i + 1))
done
[ -n "$offset" ] || fail "no section of $image holds _load_config_used"
size=$(number "$offset" 4)
le32() {
  printf "\\$(printf %03o $(($1 & 255)))\\$(printf %03o $((($1 >> 8) & 255)))"
  printf "\\$(printf %03o $((($1 >> 16) & 255)))\\$(printf %03o $((($1 >> 24) & 255)))"
}
{ le32 $rva; le32 "$size"; } | dd of="$image" bs=1 seek=$((e + 24 + 112 + 10 * 8)) conv=notrunc status=none
