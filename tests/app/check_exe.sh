#!/bin/sh
# Checks the newest 32-bit Windows build (build/win32*; the win64 build only
# serves Wine) of the patcher and its command-line tool, when there is one:
# 32-bit PE for i386, the right subsystem, importing only Known DLLs (a DLL of
# another name is looked for beside the program first), hardened (ASLR,
# no-execute data, no SEH handlers), small, and carrying a manifest (execution
# level, one namespace on trustInfo, every Windows from Vista on, UTF-8 code
# page, GDI scaling) and a version record; the patcher's icon has every size.
src=$1
dir=$(ls -td "$src"/build/win32*/src/app/zandor-patcher.exe 2>/dev/null | head -n 1)
if [ -z "$dir" ] || ! command -v i686-w64-mingw32-objdump >/dev/null; then
    echo "no Windows build to check"
    exit 77
fi
build=${dir%/src/app/zandor-patcher.exe}
version=$(sed -n 's/^project(zandor_patcher VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
fail() { echo "FAIL: $exe: $*"; exit 1; }
# A string as the UTF-16 a version record holds, as a grep -P pattern.
utf16() { printf '%s' "$1" | sed 's/./&\\x00/g'; }

check() {
    exe=$1 subsystem=$2 level=$3 allowed=$4
    echo "checking $exe"
    dump=$(i686-w64-mingw32-objdump -p "$exe") || fail "objdump cannot read it"
    echo "$dump" | grep -q 'file format pei-i386' || fail "not a 32-bit i386 PE file"
    echo "$dump" | grep -Eq "^Subsystem[[:space:]]+0000000$subsystem" || fail "wrong subsystem"
    dlls=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
    for dll in $dlls; do
        echo " $allowed " | grep -q " $dll " || fail "imports $dll"
    done
    # DYNAMICBASE 0x40, NX_COMPAT 0x100, NO_SEH 0x400, TERMINAL_SERVER_AWARE 0x8000.
    flags=$(echo "$dump" | sed -n 's/^DllCharacteristics[[:space:]]*//p')
    [ $((0x$flags & 0x8540)) -eq $((0x8540)) ] || fail "DllCharacteristics $flags lacks some of 0x8540"
    # Resource types at the top of the resource tree: 0x10 version, 0x18 manifest.
    types=$(echo "$dump" | sed -n 's/^0[0-9a-f]*   Entry: ID: 0x0000\(..\),.*/\1/p')
    for t in 10 18; do echo "$types" | grep -qx $t || fail "no resource of type 0x$t"; done
    trust=$(grep -ao '<trustInfo[^>]*>' "$exe")
    [ "$trust" = '<trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">' ] || fail "trustInfo is \"$trust\""
    [ "$(sed -n '/<trustInfo/,/<\/trustInfo>/p' "$exe" | grep -ao 'xmlns' | wc -l)" -eq 1 ] \
        || fail "more than one namespace declaration in trustInfo"
    grep -aq "<requestedExecutionLevel level=\"$level\" uiAccess=\"false\"/>" "$exe" || fail "not $level"
    [ "$(grep -ao '<supportedOS Id="{[0-9a-f-]*}"/>' "$exe" | sort -u | wc -l)" -eq 5 ] \
        || fail "not the five supported Windows versions"
    grep -aq '>UTF-8</activeCodePage>' "$exe" || fail "no UTF-8 code page"
    grep -aq '>true</gdiScaling>' "$exe" || fail "no GDI scaling"
    for s in ProductName FileDescription FileVersion ProductVersion LegalCopyright \
             "OriginalFilename" "${exe##*/}" "$version"; do
        grep -aqP "$(utf16 "$s")" "$exe" || fail "version record lacks \"$s\""
    done
    size=$(wc -c < "$exe")
    [ "$size" -le 262144 ] || fail "$size bytes is not small"
    echo "ok: $size bytes, imports $(echo $dlls), resource types $(echo $types)"
}

check "$build/src/app/zandor-patcher.exe" 2 requireAdministrator "kernel32.dll user32.dll gdi32.dll msvcrt.dll advapi32.dll"
# Named for loading at run time, not imported.
for s in comctl32.dll comdlg32.dll; do grep -aq "$s" "$exe" || fail "never loads $s"; done
echo "$types" | grep -qx 0e || fail "no icon"
# The icon's directory: after a 6-byte header, a 16-byte entry per image,
# its width first (0: 256 px) and its data's offset at byte 12.
ico=$src/res/zandor.ico
sizes=
for i in $(seq 0 $(($(od -An -tu2 -j4 -N2 "$ico") - 1))); do
    e=$((6 + 16 * i))
    w=$(($(od -An -tu1 -j$e -N1 "$ico")))
    if [ $w -eq 0 ]; then
        w=256 at=$(($(od -An -tu4 -j$((e + 12)) -N4 "$ico")))
        [ "$(od -An -tx1 -j$at -N4 "$ico" | xargs)" = "89 50 4e 47" ] || fail "$ico: 256 px not stored as PNG"
    fi
    sizes="$sizes $w"
done
sizes=$(echo $sizes | tr ' ' '\n' | sort -n | xargs)
[ "$sizes" = "16 20 24 32 40 48 64 256" ] || fail "$ico has the sizes $sizes"
check "$build/src/cli/zandor-patcher-cli.exe" 3 asInvoker "kernel32.dll msvcrt.dll"
