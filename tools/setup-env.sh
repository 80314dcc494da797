# Shared by the run and test scripts: package installation, building, and a private Wine
# (its own prefix, a persistent wineserver and a virtual X display) that is torn down again.

tvn_packages=(cmake make g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64
  wine64 xvfb xdotool x11-utils imagemagick libboost1.81-dev googletest locales procps
  fonts-ipafont-gothic fonts-ipafont-mincho)

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
# The prefixes whose persistent wineserver these scripts started (tvn_stop_wine ends each).
tvn_started_prefixes=()

# tvn_wine_env <prefix>: the environment every Wine call of these scripts runs in.
tvn_wine_env() {
  export WINEPREFIX=$1
  export WINEDEBUG=-all
  export WINEARCH=win64
  export WINELOADER=/usr/lib/wine/wine64
  export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
  export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
}

# tvn_start_display: a private Xvfb display, unless TVN_KEEP_DISPLAY asks to keep the one set.
tvn_start_display() {
  local size=${1:-1280x1024}
  if [ -z "${TVN_KEEP_DISPLAY:-}" ] || [ -z "${DISPLAY:-}" ]; then
    local n=90
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 "${size}x24" -nolisten tcp >/dev/null 2>&1 &
    tvn_xvfb_pid=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 100); do
      xdpyinfo >/dev/null 2>&1 && break
      sleep 0.1
    done
  fi
  return 0
}

# The registry every prefix of these scripts gets once: Windows' Japanese and dialog font names
# mapped to the IPA fonts (the resources ask for "MS UI Gothic", Wine's own dialogs for "MS Shell
# Dlg" and Tahoma, which has no Japanese; controls without a font of their own draw with "System",
# a Japanese face on a Japanese Windows), and no crash dialog, which would wait for ever on a
# display nobody sees; the crash report goes to the program's output instead.
tvn_registry_version=2
tvn_multi_sz() {
  # REG_MULTI_SZ of one string, in .reg notation.
  local hex
  hex=$( { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE; printf '\0\0\0\0'; } | od -An -v -tx1 | tr -s ' \n' ',,')
  hex=${hex#,}
  printf 'hex(7):%s' "${hex%,}"
}
tvn_write_registry() {
  local face
  {
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\n"ShowCrashDialog"=dword:00000000\n\n'
    # A replacement applies to names no installed font has.
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\n'
    for face in "MS UI Gothic" "ＭＳ Ｐゴシック" "MS PGothic" "Meiryo" "メイリオ" "Meiryo UI" \
                "Yu Gothic" "Yu Gothic UI" "游ゴシック" "Segoe UI" "MS Sans Serif" "Microsoft Sans Serif" \
                "System"; do
      printf '"%s"="IPAPGothic"\n' "$face"
    done
    for face in "ＭＳ ゴシック" "MS Gothic"; do printf '"%s"="IPAGothic"\n' "$face"; done
    for face in "ＭＳ 明朝" "MS Mincho"; do printf '"%s"="IPAMincho"\n' "$face"; done
    for face in "ＭＳ Ｐ明朝" "MS PMincho"; do printf '"%s"="IPAPMincho"\n' "$face"; done
    printf '\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\n'
    printf '"MS Shell Dlg"="MS UI Gothic"\n"MS Shell Dlg 2"="Tahoma"\n\n'
    # Fonts that exist but lack Japanese (Wine's Tahoma, the Latin fallbacks) borrow its glyphs.
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\n'
    for face in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "Arial" "Courier New" "Times New Roman" \
                "Lucida Sans Unicode" "Lucida Console"; do
      printf '"%s"=%s\n' "$face" "$(tvn_multi_sz 'ipagp.ttf,IPAPGothic')"
    done
  } | tvn_import_registry
}

# tvn_import_registry: imports the .reg lines on standard input (UTF-8, without the header) into
# the prefix of WINEPREFIX.
tvn_import_registry() {
  local reg=$WINEPREFIX/tvn-import.reg
  { printf 'Windows Registry Editor Version 5.00\n\n'; cat; printf '\n'; } | sed 's/$/\r/' |
    iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$reg"
  /usr/lib/wine/wine64 regedit /S "$reg" >/dev/null 2>&1 </dev/null
}

# tvn_prepare_prefix <prefix> [windows version]: creates or updates the prefix and gives it the
# registry above; a version such as "win98" makes every program of the prefix see that Windows.
# Needs a display and starts the persistent wineserver (tvn_stop_wine ends it).
tvn_prepare_prefix() {
  local version=${2:-}
  tvn_wine_env "$1"
  mkdir -p "$WINEPREFIX"
  # A persistent wineserver saves seconds per process. Wine's background services must be
  # running, with their output away from our pipes, before CTest starts, or CTest waits on them.
  /usr/lib/wine/wineserver -p
  case " ${tvn_started_prefixes[*]} " in
    *" $WINEPREFIX "*) ;;
    *) tvn_started_prefixes+=("$WINEPREFIX") ;;
  esac
  /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 </dev/null || true
  # This Wine does not find its own fonts: the prefix's font folder shows Tahoma (its dialogs'
  # Latin face) and Marlett (caption buttons, menu marks). The others stay out: "System" and the
  # like keep coming from the Japanese fonts, which draw the yen sign for 0x5C as Windows does.
  local font fonts=$WINEPREFIX/drive_c/windows/Fonts
  for font in marlett.ttf tahoma.ttf tahomabd.ttf; do
    if [ -d "$fonts" ] && [ -e "/usr/share/wine/fonts/$font" ] && [ ! -e "$fonts/$font" ]; then
      ln -s "/usr/share/wine/fonts/$font" "$fonts/$font"
    fi
  done
  if [ "$(cat "$WINEPREFIX/.tvn-registry" 2>/dev/null)" != "$tvn_registry_version$version" ]; then
    tvn_write_registry
    if [ -n "$version" ]; then
      printf '[HKEY_CURRENT_USER\\Software\\Wine]\n"Version"="%s"\n' "$version" | tvn_import_registry
    fi
    echo "$tvn_registry_version$version" >"$WINEPREFIX/.tvn-registry"
  fi
  /usr/lib/wine/wine64 cmd /c exit >/dev/null 2>&1 </dev/null || true
}

# tvn_start_wine <build dir>: the tests' Wine on a private display: prefix <build>/wineprefix, and
# <build>/wineprefix-win98, where every program sees Windows 98 (the CTest entry of the Windows
# 98/Me build's live test names it in WINEPREFIX). Each has its own wineserver, warmed up here.
# WINEPREFIX is left at the first.
tvn_start_wine() {
  local build=$1 prefix
  tvn_start_display
  for prefix in "$build/wineprefix-win98:win98" "$build/wineprefix:"; do
    tvn_prepare_prefix "${prefix%:*}" "${prefix##*:}"
    # The first window of the session starts Wine's desktop services: pay for that once, here.
    if [ -f "$build/tests/tvnWarmUp.exe" ]; then
      /usr/lib/wine/wine64 "$build/tests/tvnWarmUp.exe" >/dev/null 2>&1 </dev/null || true
    fi
  done
}

tvn_stop_wine() {
  local prefix
  for prefix in "${tvn_started_prefixes[@]}"; do
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    # A server that does not go within the minute is left behind rather than waited on for ever.
    WINEPREFIX=$prefix timeout 60 /usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
  done
  tvn_started_prefixes=()
  if [ -n "$tvn_xvfb_pid" ]; then
    kill "$tvn_xvfb_pid" >/dev/null 2>&1 || true
    wait "$tvn_xvfb_pid" 2>/dev/null || true
    tvn_xvfb_pid=""
  fi
}
