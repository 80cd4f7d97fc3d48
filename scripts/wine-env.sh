# Sourced by the scripts that run Windows programs: one 64-bit Wine prefix inside the build tree,
# GBK as the ANSI code page, and no waiting for a window manager that Xvfb does not have.
root=${root:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export WINEPREFIX=${WINEPREFIX:-$root/${TALVERO_BUILD_DIR:-build}/wineprefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export LC_ALL=zh_CN.UTF-8

# /usr/bin/wine takes the 32-bit loader whenever wine32 is installed, whatever the program. The
# 64-bit loader runs 64-bit programs and hands a 32-bit one to the 32-bit loader itself, so `wine`
# here (for these scripts, CTest and the tests) is always that one. It must be started by its own
# name: started as "wine" (a link), it takes itself for the 32-bit loader and goes through it.
export WINELOADER=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver64
wineBin=$root/${TALVERO_BUILD_DIR:-build}/wine-bin
if [ ! -x "$wineBin/wineserver" ]; then
  mkdir -p "$wineBin"
  printf '#!/bin/sh\nexec %s "$@"\n' "$WINELOADER" >"$wineBin/wine"
  printf '#!/bin/sh\nexec %s "$@"\n' "$WINESERVER" >"$wineBin/wineserver"
  chmod +x "$wineBin/wine" "$wineBin/wineserver"
fi
case ":$PATH:" in *":$wineBin:"*) ;; *) export PATH=$wineBin:$PATH ;; esac

# Creates the prefix once; later calls return at once. Where 32-bit code runs under CPU
# emulation, the prefix's 32-bit half (syswow64) is made under it too: about 105 s here on
# 10 December, against 15 s for the 64-bit half alone. Made with the emulation held off, that half
# stays empty and every 32-bit program then fails to load kernel32.dll (c0000135, exit code 53).
ensureWinePrefix() {
  # A 32-bit prefix of an older tree cannot serve 64-bit programs, and one made with the emulation
  # held off lacks its 32-bit half where 32-bit programs can run: each is made anew, once.
  if [ -f "$WINEPREFIX/.talvero-ready" ]; then rm -rf "$WINEPREFIX"; fi
  if [ -f "$WINEPREFIX/.talvero-win64-ready" ] && [ ! -f "$WINEPREFIX/.talvero-wow64-ready" ] &&
     grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null; then
    rm -rf "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/.talvero-win64-ready" ]; then
    mkdir -p "$WINEPREFIX"
    wine wineboot -i >/dev/null 2>&1 || true
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    wineserver -w
    # Marked whatever wineboot made of the 32-bit half: a failure there shows in the 32-bit
    # tests, and remaking the prefix on every call would not mend it.
    touch "$WINEPREFIX/.talvero-win64-ready" "$WINEPREFIX/.talvero-wow64-ready"
  fi
}
