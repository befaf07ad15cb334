#!/bin/sh
# Checks the built module from its file alone, so it runs where the module cannot be loaded:
# its format, its name, exactly the four exports by their plain names (no decorated doubles), and
# imports from the system DLLs only (the runtime is linked in statically).
# Usage: module_file_test.sh OBJDUMP MODULE FORMAT
set -eu
export LC_ALL=C  # objdump's headings in English, whatever the locale
objdump=$1 module=$2 format=$3
headers=$("$objdump" -p "$module")
status=0
expect() {
    if [ "$2" != "$3" ]; then
        printf '%s: %s\n  expected: %s\n  found:    %s\n' "$module" "$1" "$2" "$3"
        status=1
    fi
}

expect "file format" "$format" \
    "$("$objdump" -f "$module" | sed -n 's/.*file format //p')"
expect "module name" "MOXEL.dll" \
    "$(printf '%s\n' "$headers" | sed -n 's/^Name[[:space:]]*[0-9a-f]* //p')"
expect "exports" "DllMain FilterGetTitle FilterOption FilterProc" \
    "$(printf '%s\n' "$headers" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]\[.*\] //p' | xargs)"
expect "imports" "GDI32.dll KERNEL32.dll USER32.dll msvcrt.dll" \
    "$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort | xargs)"
exit $status
