#!/usr/bin/env bash
# The resources as other tools see them: the Windows version resource
# compiles, the desktop entry is valid, the pictures have their sizes.
set -uo pipefail
# VERSION is the project's (1.1.0.8), TEXT its form in the resource (1.01.0008).
rc=$1 desktop=$2 icon=$3 picture=$4 work=$5 version=$6 text=$7
passed=0 failed=0
check() {
    local name=$1; shift
    if "$@"; then
        echo "PASS $name"; passed=$((passed + 1))
    else
        echo "FAIL $name"; failed=$((failed + 1))
    fi
}
for tool in x86_64-w64-mingw32-windres desktop-file-validate identify; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
mkdir -p "$work"

windres() {
    x86_64-w64-mingw32-windres --preprocessor=cpp "$rc" -O coff -o "$work/lintara.o" &&
        x86_64-w64-mingw32-windres --preprocessor=cpp "$rc" -O res -o "$work/lintara.res" &&
        x86_64-w64-mingw32-windres -J res -i "$work/lintara.res" -O rc -o "$work/decompiled.rc" &&
        grep -qF "FILEVERSION ${version//./, }" "$work/decompiled.rc" &&
        grep -qF "\"FileVersion\", \"$text\"" "$work/decompiled.rc" &&
        grep -q '"OriginalFilename", "Lintara.exe"' "$work/decompiled.rc" &&
        grep -q 'BLOCK "040904B0"' "$work/decompiled.rc"
}
check "version resource compiles" windres
check "desktop entry is valid" bash -c "[ -z \"\$(desktop-file-validate '$desktop')\" ]"
check "icon is 32x32 with a palette" bash -c \
    "identify -format '%w %h %[type]' '$icon' | grep -Eq '^32 32 Palette'"
check "settings picture is 23x30" bash -c "[ \"\$(identify -format '%w %h' '$picture')\" = '23 30' ]"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
