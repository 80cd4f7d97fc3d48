#!/usr/bin/env bash
# A test zip as a bare Windows gets it: unpacked into a fresh folder outside the build tree, in a
# new Wine prefix, with nothing on the PATH but Wine itself (no Python, no build tree), it runs
# `cmd /c run-tests.cmd PROGRAM...`, which must end with "N passed, 0 failed" and the logs' place.
#
#   run_zip.sh ZIP [PROGRAM...]           (every test program when none is named)
#   run_zip.sh --pack BUILD [PROGRAM...]  packs BUILD's 64-bit programs first (tools/package.py)
#
# Needs an X display (DISPLAY); scripts/test gives it one, and the rights of an ordinary user.
# The prefix gets one setting, the one every prefix here has: no waiting for a window manager
# that the virtual display does not have (a Wine setting; Windows has nothing to match it).
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/talvero-zip-XXXXXX)
export WINEPREFIX=$work/prefix
cleanup() {
  /usr/lib/wine/wineserver64 -k >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
if [ "${1:-}" = --pack ]; then
  python3 "$root/tools/package.py" --tests "win64=$2" --out "$work/zip" >/dev/null || exit 1
  zip=$(ls "$work"/zip/Talvero-*-tests-win64.zip)
  shift 2
else
  zip=$(realpath "$1")
  shift
fi
mkdir "$work/tests" "$work/bare" "$work/home"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
  "$zip" "$work/tests" || exit 1

# The PATH of the run: Wine's loaders and its server, each by its own name, and nothing else. The
# 64-bit loader starts a 32-bit program through WINELOADER without its "64".
printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$work/bare/wine64"
printf '#!/bin/sh\nexec /usr/lib/wine/wine "$@"\n' >"$work/bare/wine"
printf '#!/bin/sh\nexec /usr/lib/wine/wineserver64 "$@"\n' >"$work/bare/wineserver"
printf '#!/bin/sh\nexit 1\n' >"$work/no-32-bit"
chmod +x "$work/bare/wine64" "$work/bare/wine" "$work/bare/wineserver" "$work/no-32-bit"
bare() {
  env -i PATH="$work/bare" HOME="$work/home" DISPLAY="${DISPLAY:-}" \
    XAUTHORITY="${XAUTHORITY:-}" WINEPREFIX="$WINEPREFIX" WINEARCH=win64 WINEDEBUG=-all \
    WINELOADER="$work/bare/wine64" WINESERVER="$work/bare/wineserver" \
    WINEDLLOVERRIDES=mscoree,mshtml= LC_ALL=zh_CN.UTF-8 "$@"
}
makePrefix() {
  bare wine64 wineboot -i >/dev/null 2>&1
  bare wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  bare wineserver -w
}
if bare /bin/sh -c 'command -v python3 || command -v python'; then
  echo "run_zip: Python is on the run's PATH" >&2
  exit 1
fi
case "$work" in "$root"/*) echo "run_zip: unpacked inside the source tree" >&2; exit 1 ;; esac

start=$(date +%s)
# The prefix's 32-bit half is made by the 32-bit loader, which takes minutes where the machine
# runs 32-bit code only under CPU emulation. For the 64-bit zip it is hidden (in a mount
# namespace of this step alone) while the prefix is made. The 32-bit zip needs that half: a
# 32-bit program failed to load kernel32.dll (c0000135) in a prefix made without it.
export -f bare makePrefix
export work WINEPREFIX
case "$zip" in *-tests-win32.zip) hide=false ;; *) hide=true ;; esac
if ! $hide || ! unshare --mount --propagation private bash -c \
       'mount --bind "$work/no-32-bit" /usr/lib/wine/wine && makePrefix' 2>/dev/null; then
  rm -rf "$WINEPREFIX"
  makePrefix
fi
made=$(date +%s)
# Into a file, not a pipe: Wine's helper processes would keep a pipe's reader waiting.
(cd "$work/tests" && bare wine64 cmd /c run-tests.cmd "$@" >"$work/out.txt" 2>&1 </dev/null)
status=$?
end=$(date +%s)
tr -d '\r' <"$work/out.txt"
echo "run_zip: prefix made in $((made - start)) s, run-tests.cmd took $((end - made)) s"
closing=$(tr -d '\r' <"$work/out.txt" | tail -n 2)
if [ $status -ne 0 ] || ! grep -Eqx '[1-9][0-9]* passed, 0 failed' <<<"${closing%%$'\n'*}" ||
   ! grep -q '^logs: ' <<<"${closing#*$'\n'}"; then
  echo "run_zip: the run did not pass (exit $status); the logs:" >&2
  for log in "$work"/tests/*.log; do echo "== ${log##*/}"; tr -d '\r' <"$log" | tail -n 60; done
  exit 1
fi
