#!/usr/bin/env bash
# Builds the x86_64 programs and starts TavolinXP.exe under Wine with the default files
# (on a private Xvfb display when no display is set).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source tools/setup-env.sh

tvn_install_packages
tvn_build x86_64

product="$root/build/x86_64/product"
if [ ! -f "$product/TavolinXP.exe" ]; then
  echo "The tray program TavolinXP.exe is not built yet in this version; running the test programs instead."
  [ -n "${DISPLAY:-}" ] && export TVN_KEEP_DISPLAY=1
  tvn_start_wine "$root/build/x86_64"
  trap tvn_stop_wine EXIT
  ctest --test-dir build/x86_64 --output-on-failure
  exit $?
fi

[ -n "${DISPLAY:-}" ] && export TVN_KEEP_DISPLAY=1
tvn_start_wine "$root/build/x86_64"
trap tvn_stop_wine EXIT
export APPDATA_OVERRIDE=""
echo "Starting TavolinXP.exe (display $DISPLAY). Close it from its tray menu, or press Ctrl+C here."
/usr/lib/wine/wine64 "$product/TavolinXP.exe"
