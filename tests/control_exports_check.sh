#!/bin/sh
# Checks that each DLL exports exactly the eight names, undecorated.
# Arguments: pairs of DLL path and objdump program; a DLL that has not been
# built (the x86 one lives in another build tree) is reported and skipped.
expected="checkConnection getIO getValue sendUpdateFile sendUpdateFileResp setIO setValue startDLL"
status=0
checked=0
while [ $# -ge 2 ]; do
  dll=$1 objdump=$2
  shift 2
  if [ ! -f "$dll" ]; then
    echo "not built, not checked: $dll"
    continue
  fi
  names=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
          sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort | tr '\n' ' ' | sed 's/ $//')
  if [ "$names" = "$expected" ]; then
    echo "ok: $dll: $names"
    checked=$((checked + 1))
  else
    echo "FAILED: $dll exports: $names"
    status=1
  fi
done
[ $checked -gt 0 ] || { echo "FAILED: no DLL checked"; status=1; }
exit $status
