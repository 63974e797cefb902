#!/bin/sh
# mir_attribution's manual page from its own help: help2man takes the
# synopsis from --help and the version from --version, and each command that
# --help lists gets a section from COMMAND --help.
#   debian/manpage.sh TOOL OUTPUT
set -eu
tool=$1 output=$2
include=$(mktemp)
trap 'rm -f "$include"' EXIT
commands=$("$tool" --help | sed -n 's/^\(usage:\)\{0,1\} *mir_attribution \([a-z][a-z]*\) .*/\2/p')
[ -n "$commands" ] || { echo "manpage.sh: $tool --help lists no commands" >&2; exit 1; }
{
  echo '[COMMANDS]'
  for command in $commands; do
    echo ".SS $command"
    echo '.nf'
    # Backslashes and lines starting with a dot or quote are roff's own.
    "$tool" "$command" --help | sed -e 's/\\/\\e/g' -e "s/^[.']/\\\\\&&/"
    echo '.fi'
  done
} >"$include"
help2man --no-info --section=1 --include="$include" --output="$output" \
  --name="stamps the attribution value into Mirelo Browser's signed setup launcher" "$tool"
