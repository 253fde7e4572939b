#!/usr/bin/env bash
# Checks what Tolvenmire.asi needs from the process it is loaded into: from
# ScriptHookRDR2.dll exactly its nine functions, under the decorated names that
# library exports, and besides only KERNEL32 and msvcrt. A MinGW runtime DLL such
# as libstdc++-6.dll or libwinpthread-1.dll would be missing on a player's machine
# and keep the plug-in from loading. Also checks that the plug-in exports gState
# and gSettings, which the host reads. With `program`, MODULE is the player's check
# program instead, which needs KERNEL32 and msvcrt alone.
#
#   check_imports.sh OBJDUMP MODULE [program]
set -euo pipefail

if [ $# -ne 2 ] && { [ $# -ne 3 ] || [ "$3" != program ]; }; then
    echo "usage: $0 OBJDUMP MODULE [program]" >&2
    exit 2
fi
objdump=$1
module=$2
program=${3:-}
[ -f "$module" ] || { echo "$module: no such file" >&2; exit 1; }
dump=$(LC_ALL=C "$objdump" -p "$module") || { echo "$module: $objdump -p failed" >&2; exit 1; }

# objdump -p prints each imported DLL as "DLL Name: NAME" followed by one line per
# function, "<tab><vma><tab> <hint>  <name>"; the exports as "[ <n>] <name>" after
# "[Ordinal/Name Pointer] Table".
imports=$(awk '
    /^The Import Tables/ { on = 1; next }
    /^The Export Tables|^The Function Table|^PE File Base Relocations/ { on = 0 }
    on && /DLL Name:/ { dll = $3; print dll "\t"; next }
    on && dll != "" && /^\t[0-9a-f]+\t +[0-9]+  / { sub(/^\t[0-9a-f]+\t +[0-9]+  /, ""); print dll "\t" $0 }
' <<<"$dump")
exports=$(awk '
    /^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
    on && /^\t\[ *[0-9]+\] / { sub(/^\t\[ *[0-9]+\] /, ""); print; next }
    on { on = 0 }
' <<<"$dump" | sort -u)

expected='?getGlobalPtr@@YAPEA_KH@Z
?keyboardHandlerRegister@@YAXP6AXKGEHHHH@Z@Z
?keyboardHandlerUnregister@@YAXP6AXKGEHHHH@Z@Z
?nativeCall@@YAPEA_KXZ
?nativeInit@@YAX_K@Z
?nativePush64@@YAX_K@Z
?scriptRegister@@YAXPEAUHINSTANCE__@@P6AXXZ@Z
?scriptUnregister@@YAXPEAUHINSTANCE__@@@Z
?scriptWait@@YAXK@Z'

faults=()
dlls=$(cut -f1 <<<"$imports" | sort -u)
if [ -n "$program" ]; then
    while read -r dll; do
        [ -n "$dll" ] || continue
        case "${dll,,}" in
        kernel32.dll | msvcrt.dll) ;;
        *) faults+=("imports $dll, which is neither KERNEL32 nor msvcrt") ;;
        esac
    done <<<"$dlls"
    if [ ${#faults[@]} -ne 0 ]; then
        echo "$module:" >&2
        printf '  %s\n' "${faults[@]}" >&2
        exit 1
    fi
    echo "$module: imports $(tr '\n' ' ' <<<"$dlls")only"
    exit 0
fi
grep -qx 'ScriptHookRDR2.dll' <<<"$dlls" ||
    faults+=("ScriptHookRDR2.dll is not imported (the DLL name must be exactly that)")
while read -r dll; do
    [ -n "$dll" ] || continue
    case "${dll,,}" in
    scripthookrdr2.dll | kernel32.dll | msvcrt.dll) ;;
    *) faults+=("imports $dll, which is neither the script hook nor KERNEL32/msvcrt") ;;
    esac
done <<<"$dlls"
hook=$(awk -F'\t' '$1 == "ScriptHookRDR2.dll" && $2 != "" { print $2 }' <<<"$imports" | sort)
if [ "$(uniq -d <<<"$hook")" != "" ]; then
    faults+=("imports a name twice from ScriptHookRDR2.dll: $(uniq -d <<<"$hook" | tr '\n' ' ')")
fi
while read -r name; do
    grep -qxF -- "$name" <<<"$hook" || faults+=("does not import $name from ScriptHookRDR2.dll")
done <<<"$expected"
while read -r name; do
    [ -n "$name" ] || continue
    grep -qxF -- "$name" <<<"$expected" ||
        faults+=("imports $name from ScriptHookRDR2.dll, which is none of the script hook's nine functions")
done <<<"$hook"
for name in gState gSettings; do
    grep -qx "$name" <<<"$exports" || faults+=("does not export $name")
done

if [ ${#faults[@]} -ne 0 ]; then
    echo "$module:" >&2
    printf '  %s\n' "${faults[@]}" >&2
    echo "imported DLLs: $(tr '\n' ' ' <<<"$dlls")" >&2
    exit 1
fi
echo "$module: imports $(tr '\n' ' ' <<<"$dlls")- the script hook's nine functions by their decorated names; exports $(tr '\n' ' ' <<<"$exports")"
