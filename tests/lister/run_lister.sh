#!/bin/sh
# run_lister.sh [--dpi N] LOADER COMMAND...: runs the lister tests (COMMAND) under Wine in a copy of the
# present Wine prefix (its own wineserver and desktop, so the shipped pipe name and the display are its
# own), on a virtual X display with 24-bit colour; with --dpi the copy's screen has that many dots per
# inch; LOADER is Wine's loader that readies the copy. Everything Wine runs here runs on that display, or
# its desktop would start without one.
set -eu
if [ "${1:-}" = "--inner" ]; then
  shift
  loader=$1
  shift
  # The copy draws on the X display (a prefix made without one may name Wine's null driver).
  "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f >/dev/null 2>&1 </dev/null || true
  if [ -n "${TALV_EXPECT_DPI:-}" ]; then
    "$loader" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$TALV_EXPECT_DPI" /f \
      >/dev/null 2>&1 </dev/null
  fi
  wineserver -w
  exec "$@"
fi
if [ "$1" = "--dpi" ]; then
  export TALV_EXPECT_DPI="$2"
  shift 2
fi
base=${WINEPREFIX:-$HOME/.wine}
tmp=$(mktemp -d /tmp/talv-lister.XXXXXX)
cleanup() {
  WINEPREFIX="$tmp/prefix" wineserver -k >/dev/null 2>&1 || true
  rm -rf "$tmp"
}
trap cleanup EXIT
cp -a "$base" "$tmp/prefix"
export WINEPREFIX="$tmp/prefix"
if command -v xvfb-run >/dev/null 2>&1; then
  xvfb-run -a -s "-screen 0 1280x1024x24" sh "$0" --inner "$@"
else
  sh "$0" --inner "$@"
fi
