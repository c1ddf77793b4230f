#!/usr/bin/env bash
# package.sh: builds the Windows plug-in and engine for both bitnesses and packs them as
# dist/wfx_talvoran.zip, the way Total Commander installs plug-ins: opening the zip in Total Commander
# reads pluginst.inf and offers to install the file-system plug-in into its folder. Both plug-in builds
# (wfx_talvoran.wfx for 32-bit, wfx_talvoran.wfx64 for 64-bit Total Commander) and both engine programs
# lie side by side, with a short text on the receiver drivers.
#   TALV_PACKAGE_NO_BUILD=1  take build/win64 and build/win32 as they are
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ "${TALV_PACKAGE_NO_BUILD:-}" != 1 ]; then
  bash scripts/build.sh win64
  bash scripts/build.sh win32
fi

files=(build/win64/bin/wfx_talvoran.wfx64 build/win32/bin/wfx_talvoran.wfx
       build/win64/bin/talvoran_engine64.exe build/win32/bin/talvoran_engine32.exe)
for f in "${files[@]}"; do
  [ -f "$f" ] || { echo "package.sh: $f is missing" >&2; exit 1; }
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "${files[@]}" "$stage/"
# The builds carry debug information for the tests; the installed files do not need it.
x86_64-w64-mingw32-strip --strip-debug "$stage/wfx_talvoran.wfx64" "$stage/talvoran_engine64.exe"
i686-w64-mingw32-strip --strip-debug "$stage/wfx_talvoran.wfx" "$stage/talvoran_engine32.exe"
# Total Commander reads the installer file in the system's code page with CR LF line ends.
printf '%s\r\n' \
  '[plugininstall]' \
  'description=Talvoran SDR: scans a radio band with an RTL-SDR or HackRF receiver, records the channels it finds, plays them live and shows spectrum and levels' \
  'type=wfx' \
  'file=wfx_talvoran.wfx' \
  'defaultdir=talvoran' > "$stage/pluginst.inf"
printf '%s\r\n' \
  'Talvoran SDR - receiver drivers' \
  '===============================' \
  '' \
  'The engine (talvoran_engine64.exe, or talvoran_engine32.exe on 32-bit Windows) loads the receiver' \
  'library at run time. Put it into this plug-in folder, beside the engine programs:' \
  '' \
  '  RTL-SDR dongles: rtlsdr.dll (with its libusb-1.0.dll) from an rtl-sdr release for Windows;' \
  '                   the dongle needs the WinUSB driver (install it with Zadig).' \
  '  HackRF:          hackrf.dll (with its libusb-1.0.dll) from a HackRF release for Windows.' \
  '' \
  'Take the 64-bit libraries on 64-bit Windows (the engine runs as 64-bit there, also for a 32-bit' \
  'Total Commander) and the 32-bit ones on 32-bit Windows. A folder on the PATH works as well.' \
  'Without a receiver the engine still runs; "Start Scan.cmd" then says which library is missing.' > "$stage/Receiver drivers.txt"

mkdir -p dist
rm -f dist/wfx_talvoran.zip
(cd "$stage" && zip -q -X -j "$root/dist/wfx_talvoran.zip" pluginst.inf wfx_talvoran.wfx wfx_talvoran.wfx64 \
  talvoran_engine64.exe talvoran_engine32.exe "Receiver drivers.txt")
echo "dist/wfx_talvoran.zip"
