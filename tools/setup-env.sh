# Shared by the run and test scripts: package installation, building, and a private Wine
# (its own prefix, a persistent wineserver and a virtual X display) that is torn down again.

tvn_packages=(cmake make g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64
  wine64 xvfb xdotool x11-utils imagemagick libboost1.81-dev googletest locales procps)

tvn_install_packages() {
  local missing=() p
  for p in "${tvn_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
  # Wine takes its ANSI code page from the locale: ja_JP.UTF-8 gives code page 932.
  if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
    $sudo locale-gen >/dev/null
  fi
}

tvn_build() {
  local arch=$1
  cmake --preset "$arch" >/dev/null
  cmake --build --preset "$arch" -j "$(nproc)"
}

tvn_xvfb_pid=""
tvn_started_wineserver=""

tvn_start_wine() {
  local build=$1
  export WINEPREFIX="$build/wineprefix"
  export WINEDEBUG=-all
  export WINEARCH=win64
  export WINELOADER=/usr/lib/wine/wine64
  export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
  export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
  if [ -z "${TVN_KEEP_DISPLAY:-}" ] || [ -z "${DISPLAY:-}" ]; then
    local n=90
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    tvn_xvfb_pid=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 50); do
      xdpyinfo >/dev/null 2>&1 && break
      sleep 0.1
    done
  fi
  mkdir -p "$WINEPREFIX"
  # A persistent wineserver saves seconds per test process. Wine's background services must be
  # running, with their output away from our pipes, before CTest starts, or CTest waits on them.
  /usr/lib/wine/wineserver -p
  tvn_started_wineserver=1
  /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 </dev/null || true
  /usr/lib/wine/wine64 cmd /c exit >/dev/null 2>&1 </dev/null || true
  # The first window of the session starts Wine's desktop services: pay for that once, here.
  if [ -f "$build/tests/tvnWarmUp.exe" ]; then
    /usr/lib/wine/wine64 "$build/tests/tvnWarmUp.exe" >/dev/null 2>&1 </dev/null || true
  fi
}

tvn_stop_wine() {
  if [ -n "$tvn_started_wineserver" ]; then
    /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    /usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
    tvn_started_wineserver=""
  fi
  if [ -n "$tvn_xvfb_pid" ]; then
    kill "$tvn_xvfb_pid" >/dev/null 2>&1 || true
    wait "$tvn_xvfb_pid" 2>/dev/null || true
    tvn_xvfb_pid=""
  fi
}
