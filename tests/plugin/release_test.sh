#!/usr/bin/env bash
# Packaging twice gives the same bytes; the player's DLL is the symbols
# archive's. A crash below the camera hook, from a working folder without a
# data folder, leaves log and dump under the game folder, and frame-line.sh
# turns the plug-in's frame into the hook and the line of its call.
# usage: release_test.sh BUILD_DIR TEST_PROGRAM
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
work=$build/scratch/release_test
fail() { echo "release_test: $*" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work/symbols"

for run in first second; do "$root/tools/package" "$build" "$work/$run" >/dev/null; done
for zip in "$work"/first/*.zip; do cmp "$zip" "$work/second/${zip##*/}" || fail "${zip##*/} differs"; done
(cd "$work/symbols" && unzip -q "$work"/first/*-symbols.zip)
unzip -p "$(ls "$work"/first/Quelbrand-*.zip | grep -v -- '-\(tools\|symbols\)\.zip$')" SKSE/Plugins/Quelbrand.dll |
  cmp - "$work/symbols/Quelbrand.dll" || fail "the player's DLL is not the symbols archive's"

game=$work/game
"$root/tools/wine-run" --game-folder "$game" --with "$build/Quelbrand.dll" --with "$build/Quelbrand.ini" "$2" \
  --gtest_also_run_disabled_tests --gtest_catch_exceptions=0 \
  --gtest_filter=StartUpReport.DISABLED_CrashBelowTheCameraHook >"$work/run.txt" 2>&1 || true
plugins=$game/data/skse/plugins
[ -s "$plugins/Quelbrand.dmp" ] || fail "no dump in $plugins"
[ ! -e "$game/elsewhere/data" ] || fail "files in the working folder"
frames=$(tr -d '\r' <"$plugins/Quelbrand.log" | sed -n '/Call Stack/,$p' | sed -n 's/^.*ERROR: \t//p')
index=$(grep -n -m1 '^Quelbrand\.dll+0x' <<<"$frames" | cut -d: -f1) || fail "no frame in the plug-in: $frames"
[ "$index" -gt 1 ] || fail "the plug-in's frame is the faulting one: $frames"

found=$(sh "$work/symbols/frame-line.sh" "$(sed -n "${index}p" <<<"$frames")" caller)
call=$(grep -n 'GameRoutine<GameCall1>(ThirdPersonCameraSite)' "$root/src/camera/camera_fix.cpp" | cut -d: -f1)
[ "$(head -1 <<<"$found")" = "ThirdPersonCameraHook(void*, unsigned int)" ] || fail "function: $found"
[[ "$(sed -n 2p <<<"$found")" == */camera_fix.cpp:$call ]] || fail "line: $found (the call is on line $call)"
