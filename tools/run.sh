#!/usr/bin/env bash
# Builds the x86_64 programs, assembles the product folder and starts TavolinXP.exe under Wine with
# the default definition files (on a private Xvfb display when no display is set).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source tools/setup-env.sh

tvn_install_packages
tvn_build x86_64

headless=1
[ -n "${DISPLAY:-}" ] && export TVN_KEEP_DISPLAY=1 && headless=""
tvn_start_wine "$root/build/x86_64"
trap tvn_stop_wine EXIT
if [ -n "$headless" ]; then
  # Nobody can see a virtual display: show what it holds in a picture once the program is up.
  ( sleep 8; import -window root "$root/build/x86_64/run-screenshot.png" 2>/dev/null &&
      echo "A picture of the virtual screen: build/x86_64/run-screenshot.png" ) &
fi
echo "Starting TavolinXP.exe on display $DISPLAY. Quit it from its tray menu (Tavolinの終了), or press Ctrl+C."
/usr/lib/wine/wine64 "$root/build/x86_64/product/TavolinXP.exe"
