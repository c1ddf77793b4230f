# Sourced by the test scripts: fresh Wine prefixes (64-bit and 32-bit) in a temporary folder, a HOME
# whose default ALSA device is a null sink (so Wine's waveOut opens and plays without a sound card),
# and WINEDEBUG=-all. Sets WINE_OK=1 when Wine's 64-bit loader is there, and WINE32_OK=1 when this
# machine can also run 32-bit programs; call wine_prefix 64|32 to select a prefix and wine_run 64|32
# PROGRAM... to start a Windows program with the loader of its bitness.
#
# 64-bit programs always start through the 64-bit loader: the `wine` wrapper starts the 32-bit loader
# first, and some kernels refuse 32-bit programs (ia32 emulation off). TALV_NO_32BIT=1 takes the path
# of such a machine on one that could run them.
WINE_OK=0
WINE32_OK=0
WINE32_WHY=""
WINE64_LOADER=$(command -v wine64 2>/dev/null || true)
[ -n "$WINE64_LOADER" ] || { [ -x /usr/lib/wine/wine64 ] && WINE64_LOADER=/usr/lib/wine/wine64; }
WINE32_LOADER=""
[ -x /usr/lib/wine/wine ] && WINE32_LOADER=/usr/lib/wine/wine

if [ -n "$WINE64_LOADER" ]; then
  WINE_OK=1
  if [ "${TALV_NO_32BIT:-}" = 1 ]; then
    WINE32_WHY="TALV_NO_32BIT=1 asks to take the path of a machine without 32-bit programs"
  elif [ -z "$WINE32_LOADER" ]; then
    WINE32_WHY="Wine's 32-bit loader (wine32:i386) is not installed"
  elif ! "$WINE32_LOADER" --version >/dev/null 2>&1; then
    WINE32_WHY="this kernel refuses 32-bit programs (ia32 emulation is off)"
  else
    WINE32_OK=1
  fi
  wine_root=$(mktemp -d /tmp/talv-wine.XXXXXX)
  mkdir -p "$wine_root/home"
  printf 'pcm.!default { type null }\nctl.!default { type hw card 0 }\n' > "$wine_root/home/.asoundrc"
  export HOME="$wine_root/home" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # Where scripts/wine_start.sh notes the test programs Wine failed to start (wine_notes prints them).
  export TALV_WINE_NOTES="$wine_root/notes"
  WINEPREFIX="$wine_root/w64" WINEARCH=win64 "$WINE64_LOADER" wineboot.exe -i >/dev/null 2>&1 </dev/null &
  wine_boot64=$!
  if [ "$WINE32_OK" = 1 ]; then
    WINEPREFIX="$wine_root/w32" WINEARCH=win32 "$WINE32_LOADER" wineboot.exe -i >/dev/null 2>&1 </dev/null &
    wine_boot32=$!
  fi
  wine_cleanup() {
    WINEPREFIX="$wine_root/w64" wineserver -k >/dev/null 2>&1 || true
    [ "$WINE32_OK" = 1 ] && { WINEPREFIX="$wine_root/w32" wineserver -k >/dev/null 2>&1 || true; }
    rm -rf "$wine_root"
  }
  trap wine_cleanup EXIT
fi

# wine_loader 64|32: the loader that starts programs of that bitness.
wine_loader() {
  if [ "$1" = 64 ]; then echo "$WINE64_LOADER"; else echo "$WINE32_LOADER"; fi
}

# wine_run 64|32 PROGRAM [ARGS...]: starts a Windows program with the loader of its bitness, without
# address-space randomisation as scripts/wine_start.sh does (the reason is told there).
wine_run() {
  local bits=$1; shift
  if setarch -R true 2>/dev/null; then setarch -R "$(wine_loader "$bits")" "$@"; else "$(wine_loader "$bits")" "$@"; fi
}

wine_ready=""  # the bitnesses whose prefix wine_prefix has readied
# wine_prefix 64|32: selects that prefix and, the first time, readies it for many programs at once.
wine_prefix() {
  if [ "$1" = 64 ]; then wait "$wine_boot64" 2>/dev/null || true; export WINEPREFIX="$wine_root/w64" WINEARCH=win64
  else wait "$wine_boot32" 2>/dev/null || true; export WINEPREFIX="$wine_root/w32" WINEARCH=win32; fi
  case " $wine_ready " in *" $1 "*) return 0 ;; esac
  # The first boot's server and Wine's own service processes end before anything else runs here:
  # then the prefix's set-up is complete and its registry is on disk.
  wineserver -w >/dev/null 2>&1 || true
  # Without an X display, Wine's null graphics driver still lets programs create (hidden) windows,
  # post to them and run thread timers; with a display, Wine's own driver is used. The server that
  # made the change ends before the next one starts: Wine's desktop keeps the driver it started with.
  if [ -z "${DISPLAY:-}" ]; then
    wine_run "$1" reg.exe add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 </dev/null || true
  else
    wine_run "$1" reg.exe delete 'HKCU\Software\Wine\Drivers' /v Graphics /f >/dev/null 2>&1 </dev/null || true
  fi
  wineserver -w >/dev/null 2>&1 || true
  wine_persistent_server || return 1
  # Wine's service processes and desktop start now, with no pipe of ours open: started by a test,
  # they would hold the test runner's output pipe and stall it.
  wine_run "$1" cmd.exe /c exit >/dev/null 2>&1 </dev/null || true
  wine_ready="$wine_ready $1"
}

# wine_persistent_server: starts the selected prefix's server to run until it is killed. Left to
# Wine, a server ends as soon as no program runs, and the next program starts a new one with all of
# Wine's service processes: a test program started while that server is ending or starting can die
# before its first line. A server started by a program exits at once when it ends (this Wine's
# wineserver starts with -p0), so the persistent one is started only after the last has ended;
# `wineserver -p` exits with status 2 while another holds the prefix.
wine_persistent_server() {
  local status
  for _ in 1 2 3 4 5; do
    wineserver -p >/dev/null 2>&1 </dev/null
    status=$?
    [ "$status" = 0 ] && return 0
    wineserver -w >/dev/null 2>&1 || true
  done
  echo "=== the Wine server of $WINEPREFIX did not start (status $status)" >&2
  return 1
}

# wine_notes: prints, once, what scripts/wine_start.sh noted about test programs Wine failed to start.
wine_notes() {
  if [ -s "$TALV_WINE_NOTES" ]; then cat "$TALV_WINE_NOTES"; : >"$TALV_WINE_NOTES"; fi
}

# A fresh prefix registers its sound device on first use; two test programs doing that at the same
# moment can register two and one of them then fails to open it. Open it once before the parallel run.
wine_warm_audio() {  # wine_warm_audio 64|32 PROGRAM
  [ -f "$2" ] && wine_run "$1" "$2" --gtest_filter='WaveOut.SixBuffers*' >/dev/null 2>&1 </dev/null || true
}
