#!/usr/bin/env bash
# Builds both architectures and runs every test of the x86_64 build under Wine.
# Installs what is missing first, so it works on a fresh Debian machine and in CI.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source tools/setup-env.sh

tvn_install_packages
# i686 first: the import test of the Windows 98/Me build reads its programs too.
tvn_build i686
tvn_build x86_64

tvn_start_wine "$root/build/x86_64"
trap tvn_stop_wine EXIT

jobs=$(nproc)
set +e
ctest --test-dir build/x86_64 --output-on-failure --timeout 600 -j "$jobs" 2>&1 | tee build/x86_64/ctest.log
rc=${PIPESTATUS[0]}
set -e
exit "$rc"
