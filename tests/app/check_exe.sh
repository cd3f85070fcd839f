#!/bin/sh
# Checks the newest Windows build of the patcher under the source tree, when
# there is one: 32-bit PE for i386, GUI subsystem, importing only DLLs that
# come with Windows, and small.
src=$1
exe=$(ls -t "$src"/build/*/src/app/zandor-patcher.exe 2>/dev/null | head -n 1)
if [ -z "$exe" ] || ! command -v i686-w64-mingw32-objdump >/dev/null; then
    echo "no Windows build to check"
    exit 77
fi
echo "checking $exe"
fail() { echo "FAIL: $*"; exit 1; }
dump=$(i686-w64-mingw32-objdump -p "$exe") || fail "objdump cannot read it"
echo "$dump" | grep -q 'file format pei-i386' || fail "not a 32-bit i386 PE file"
echo "$dump" | grep -Eq '^Subsystem[[:space:]]+00000002' || fail "not a GUI program"
dlls=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for dll in $dlls; do
    case $dll in
        kernel32.dll|user32.dll|comdlg32.dll|comctl32.dll|msvcrt.dll|gdi32.dll|advapi32.dll) ;;
        *) fail "needs $dll" ;;
    esac
done
for dll in kernel32.dll user32.dll comdlg32.dll comctl32.dll; do
    echo "$dlls" | grep -qx "$dll" || fail "does not import $dll"
done
echo "$dump" | grep -q 'InitCommonControlsEx' || fail "does not register the up-down class"
size=$(wc -c < "$exe")
[ "$size" -le 262144 ] || fail "$size bytes is not small"
echo "ok: $size bytes, imports $(echo $dlls)"
