#!/bin/sh
# The launcher's import table names only DLLs that Windows always takes from
# System32 (its known DLLs), never one that a copy in the launcher's own
# folder could stand in for.
#   imports_test.sh OBJDUMP LAUNCHER.exe
set -eu
objdump=$1 launcher=$2
# shellcheck disable=SC2116  # echo joins the list with single blanks
known=" $(echo advapi32.dll clbcatq.dll combase.dll comdlg32.dll coml2.dll difxapi.dll gdi32.dll \
        gdiplus.dll imagehlp.dll imm32.dll kernel32.dll msctf.dll msvcrt.dll normaliz.dll \
        nsi.dll ole32.dll oleaut32.dll psapi.dll rpcrt4.dll sechost.dll setupapi.dll \
        shcore.dll shell32.dll shlwapi.dll user32.dll wldap32.dll ws2_32.dll) "
imports=$("$objdump" -p "$launcher" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$imports" ] || { echo "FAILED: no import table read from $launcher"; exit 1; }
status=0
for dll in $imports; do
  case "$known" in
  *" $dll "*) echo "imports $dll (known DLL)" ;;
  *) echo "FAILED: imports $dll, which Windows may load from the launcher's folder"; status=1 ;;
  esac
done
exit $status
