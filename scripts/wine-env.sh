# Sourced by the scripts that run Windows programs: one Wine prefix inside the build tree,
# GBK as the ANSI code page, and no waiting for a window manager that Xvfb does not have.
root=${root:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export WINEPREFIX=${WINEPREFIX:-$root/${TALVERO_BUILD_DIR:-build}/wineprefix}
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export LC_ALL=zh_CN.UTF-8

# Creates the prefix once; later calls return at once.
ensureWinePrefix() {
  if [ ! -f "$WINEPREFIX/.talvero-ready" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.talvero-ready"
  fi
}
