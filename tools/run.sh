#!/usr/bin/env bash
# Builds the x86_64 programs, assembles the product folder and starts TavolinXP.exe under Wine with
# the default definition files (on a private Xvfb display when no display is set).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source tools/setup-env.sh

tvn_install_packages
tvn_build x86_64

[ -n "${DISPLAY:-}" ] && export TVN_KEEP_DISPLAY=1
tvn_start_wine "$root/build/x86_64"
trap tvn_stop_wine EXIT
echo "Starting TavolinXP.exe on display $DISPLAY. Quit it from its tray menu (Tavolinの終了), or press Ctrl+C."
/usr/lib/wine/wine64 "$root/build/x86_64/product/TavolinXP.exe"
