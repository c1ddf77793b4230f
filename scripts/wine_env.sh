# Sourced by the test scripts: fresh Wine prefixes (64-bit and 32-bit) in a temporary folder, a HOME
# whose default ALSA device is a null sink (so Wine's waveOut opens and plays without a sound card),
# and WINEDEBUG=-all. Sets WINE_OK=1 when Wine is there; call wine_prefix 64|32 to select a prefix.
WINE_OK=0
if command -v wine >/dev/null 2>&1; then
  WINE_OK=1
  wine_root=$(mktemp -d /tmp/talv-wine.XXXXXX)
  mkdir -p "$wine_root/home"
  printf 'pcm.!default { type null }\nctl.!default { type hw card 0 }\n' > "$wine_root/home/.asoundrc"
  export HOME="$wine_root/home" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  WINEPREFIX="$wine_root/w64" WINEARCH=win64 wineboot -i >/dev/null 2>&1 &
  wine_boot64=$!
  WINEPREFIX="$wine_root/w32" WINEARCH=win32 wineboot -i >/dev/null 2>&1 &
  wine_boot32=$!
  wine_cleanup() {
    WINEPREFIX="$wine_root/w64" wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX="$wine_root/w32" wineserver -k >/dev/null 2>&1 || true
    rm -rf "$wine_root"
  }
  trap wine_cleanup EXIT
fi

wine_prefix() {
  if [ "$1" = 64 ]; then wait "$wine_boot64" 2>/dev/null || true; export WINEPREFIX="$wine_root/w64" WINEARCH=win64
  else wait "$wine_boot32" 2>/dev/null || true; export WINEPREFIX="$wine_root/w32" WINEARCH=win32; fi
  # Keep the server and Wine's own service processes up between the many short test runs, started
  # here with no pipe of ours open: started by a test, they would hold the test runner's output pipe
  # and stall it.
  wineserver -w >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver64 -p >/dev/null 2>&1 </dev/null || wineserver -p >/dev/null 2>&1 </dev/null || true
  wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}

# A fresh prefix registers its sound device on first use; two test programs doing that at the same
# moment can register two and one of them then fails to open it. Open it once before the parallel run.
wine_warm_audio() {
  [ -f "$1" ] && wine "$1" --gtest_filter='WaveOut.SixBuffers*' >/dev/null 2>&1 </dev/null || true
}
