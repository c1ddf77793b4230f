#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine. Quick when all is there already.
set -euo pipefail

packages=(cmake g++ make googletest libgtest-dev libbenchmark-dev mingw-w64 wine wine64 wine32:i386
          sox libfftw3-dev libliquid-dev librtlsdr0 librtlsdr-dev libhackrf0 libhackrf-dev locales xvfb zip unzip
          python3 xauth fonts-liberation)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo_cmd=""; [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then $sudo_cmd dpkg --add-architecture i386; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# A non-"C" numeric locale, so the tests can prove settings text never follows the user's locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf8$'; then
  sudo_cmd=""; [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  if [ -f /etc/locale.gen ]; then
    $sudo_cmd sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $sudo_cmd tee -a /etc/locale.gen >/dev/null
    $sudo_cmd locale-gen >/dev/null 2>&1 || true
  fi
fi
