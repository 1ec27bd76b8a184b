#!/usr/bin/env bash
# Checks one built module against the natives that the Java classes declare:
#   check_exports.sh linux|windows-x86|windows-x64 MODULE JNI_HEADER_DIR
# The module must export exactly the twenty JNI names (on 32-bit Windows as _NAME@N, N being
# 4 bytes per parameter of the generated prototype), import no runtime DLL of the toolchain,
# and carry the version marker.
set -euo pipefail
kind=$1 module=$2 headers=$3
fail() { echo "FAIL ($kind): $*" >&2; exit 1; }

[ -f "$module" ] || fail "no module at $module"
ls "$headers"/*.h >/dev/null 2>&1 || fail "no generated JNI headers in $headers"

# Each prototype in the javac -h headers reads "JNIEXPORT type JNICALL NAME" then "(args);".
expected=$(awk -v kind="$kind" '
    /JNICALL Java_/ { name = $NF; next }
    name != "" && /^ *\(/ {
        n = gsub(/,/, ",") + 1
        if (kind == "windows-x86") { print "_" name "@" (4 * n) } else { print name }
        name = ""
    }' "$headers"/*.h | sort)
[ "$(printf '%s\n' "$expected" | wc -l)" -eq 20 ] || fail "the Java classes declare $(printf '%s\n' "$expected" | wc -l) natives, not 20"

case $kind in
    linux)
        actual=$(nm -D --defined-only "$module" | awk '{print $NF}' | sort) ;;
    windows-x86|windows-x64)
        dump=$(objdump -p "$module")
        actual=$(printf '%s\n' "$dump" | awk '
            /^\[Ordinal\/Name Pointer\] Table/ { inTable = 1; next }
            inTable && /^[[:space:]]*\[/ { print $NF; next }
            inTable { inTable = 0 }' | sort)
        # A here-string, not a pipe: grep -q stops reading early, which pipefail would count.
        grep -Eq '^Name[[:space:]]+[0-9a-f]+ Brisvander\.dll$' <<<"$dump" ||
            fail "the export directory does not name the module Brisvander.dll"
        imports=$(printf '%s\n' "$dump" | awk '/DLL Name:/ {print tolower($3)}' | sort -u)
        for dll in $imports; do
            case $dll in
                kernel32.dll|msvcrt.dll|advapi32.dll|crypt32.dll|user32.dll|ntdll.dll) ;;
                *) fail "imports $dll, which is no Windows system DLL" ;;
            esac
        done ;;
    *) fail "unknown kind" ;;
esac

if [ "$actual" != "$expected" ]; then
    diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") | sed 's/^/  /' >&2 || true
    fail "exports differ from the declared natives (< missing, > extra)"
fi
grep -aq 'BRISVANDER_VERSION: 1.2.1' "$module" || fail "no version marker in the module"
echo "ok ($kind): $(printf '%s\n' "$actual" | wc -l) exports, marker present"
