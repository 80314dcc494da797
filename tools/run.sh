#!/usr/bin/env bash
# Builds what the product needs and runs TavolinXP.exe in a Wine virtual desktop with a taskbar,
# in a private Wine prefix.
#   With a display (DISPLAY set): the desktop opens there. Answer the first-start question, type
#   into Wine's Notepad (offered, in the same desktop) and quit from the tray icon's menu.
#   Without one: a demonstration that runs by itself on a virtual screen, types a sample into
#   Notepad, saves pictures under build/x86_64/demo/, quits the program and prints what came out.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source tools/setup-env.sh

tvn_install_packages
build=$root/build/x86_64
cmake --preset x86_64 >/dev/null
# The product folder and the small program that steers the demonstration; no test programs.
cmake --build "$build" -j "$(nproc)" --target product tvnDemoControl
product=$build/product
wine=/usr/lib/wine/wine64
control() { "$wine" "$build/tests/tvnDemoControl.exe" "$@" </dev/null; }
# Windows path of a Linux path (Wine shows / as drive Z:).
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# start_desktop <prefix> <size>: boots the prefix and opens the virtual desktop "Tavolin" with its
# taskbar; every program started in the prefix afterwards opens inside it.
start_desktop() {
  local prefix=$1 size=$2
  tvn_prepare_prefix "$prefix"
  tvn_import_registry <<EOF
[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]
"Desktop"="Tavolin"

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]
"Tavolin"="$size"

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops\\Tavolin]
"EnableShell"=dword:00000001
EOF
  # Wine's services started on the plain desktop while booting: start again inside the new one.
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -p
  "$wine" explorer "/desktop=Tavolin,$size" >/dev/null 2>&1 </dev/null &
  local i
  for i in $(seq 1 100); do
    xdotool search --name 'Tavolin - Wine desktop' >/dev/null 2>&1 && break
    sleep 0.2
  done
  # The taskbar's notification area must be there before the program adds its icon.
  control wait Shell_TrayWnd 30 || true
}

# ---------------------------------------------------------------- with a display: the user's turn
if [ -n "${DISPLAY:-}" ]; then
  export TVN_KEEP_DISPLAY=1
  prefix=$build/run-prefix
  tvn_wine_env "$prefix"
  trap tvn_stop_wine EXIT
  notepad=y
  if [ -t 0 ]; then
    read -r -p "Start Wine's Notepad in the same desktop, to type into? [Y/n] " notepad || notepad=y
  fi
  start_desktop "$prefix" 1024x768
  cat <<EOF
A window "Tavolin - Wine desktop" opens on display $DISPLAY, a Windows desktop with a taskbar.
- On the first start in this prefix Tavolin asks once whether it should start with Windows
  ("Tavolinの自動起動に関してお尋ねします。"); either answer starts it.
- The keyboard display shows what each key types; the Tavolin icon sits at the right end of the
  taskbar: left click shows or hides the keyboard display, right click opens the menu.
- Type into Notepad: with the IME closed the alphabet layout acts; the practice modes in the menu
  (タイプソフト対応基本) let the kana layout act (the space bar is the left thumb key).
- Quit from the icon's menu: "Tavolinの終了(&X)". This script then closes the desktop.
EOF
  case "$notepad" in
  [nN]*) ;;
  *)
    # Once the question is answered: Notepad beside the keyboard display and the log window.
    ( control wait orvessaTasktray 600 >/dev/null 2>&1 || exit 0
      "$wine" notepad >/dev/null 2>&1 </dev/null &
      control wait Notepad 30 >/dev/null 2>&1 && sleep 1 && control activate Notepad 450 60 570 480 ) &
    ;;
  esac
  set +e
  "$wine" "$product/TavolinXP.exe" </dev/null
  rc=$?
  set -e
  echo "TavolinXP.exe ended (exit code $rc)."
  exit 0
fi

# ---------------------------------------------------------------- without a display: the demonstration
demo=$build/demo
prefix=$build/demo-prefix
size=1280x800
mkdir -p "$demo"
rm -f "$demo"/*.png "$demo"/notepad.txt
tvn_wine_env "$prefix"
tvn_start_display "$size"
trap tvn_stop_wine EXIT
echo "Demonstration on the virtual screen $DISPLAY (prefix $prefix)."
start_desktop "$prefix" "$size"
# A fresh user of this prefix: default settings, and the first-start question already answered
# ("do not start with Windows").
find "$prefix/drive_c/users" -maxdepth 5 -type d -name Brannoch -path '*Roaming*' -exec rm -rf {} + 2>/dev/null || true
tvn_import_registry <<'EOF'
[HKEY_CURRENT_USER\Software\Brannoch\Tavolin13]
"autoStart"=dword:00000002
EOF

shot() {
  sleep "${2:-1}"
  import -window root "$demo/$1.png"
  pictures+=("build/x86_64/demo/$1.png")
}
pictures=()
typed_keys=()
type_keys() { # type_keys <description> <xdotool arguments...>
  typed_keys+=("$1")
  xdotool search --name 'Tavolin - Wine desktop' windowfocus >/dev/null 2>&1 || true
  xdotool "${@:2}"
  sleep 1
}

"$wine" "$product/TavolinXP.exe" >"$demo/tavolin-output.txt" 2>&1 </dev/null &
tavolin=$!
if ! control wait orvessaTasktray 60; then
  echo "TavolinXP.exe did not start: see build/x86_64/demo/tavolin-output.txt" >&2
  exit 1
fi
"$wine" notepad >/dev/null 2>&1 </dev/null &
if ! control wait Notepad 30; then
  echo "Wine's Notepad did not start." >&2
  exit 1
fi
sleep 2
# Notepad beside the keyboard display (top left), with the focus.
control activate Notepad 420 40 820 420
sleep 1

# The alphabet layout acts while the IME is closed: letters, Shift and punctuation.
type_keys "Tavolin on Wine.  (alphabet layout, IME closed)" type --delay 90 'Tavolin on Wine. '
shot 1-desktop-keyboard-display-tray
# Typing practice for romaji: the kana layout acts with the IME closed and types romaji.
control command 4040
sleep 1
type_keys "a s d f g, then Enter  (romaji practice: あいうえお)" key --delay 120 a s d f g Return
type_keys "space+a as a chord  (left thumb key with a: ま)" \
  keydown space sleep 0.03 keydown a sleep 0.03 keyup a keyup space
type_keys "h y  (かな)" key --delay 120 h y
shot 2-romaji-practice
control command 4093
# The log window ("動作記録") is open from the start, under the keyboard display; its tray command
# hides it, and shows it again in front.
control command 4046
sleep 1
control command 4046
shot 3-log-window 2
control activate Notepad
# The tray menu, opened on the icon at the taskbar's right end.
tray=$(control trayicon 2>/dev/null || true)
if [ -n "$tray" ]; then
  xdotool mousemove ${tray} click 3 >/dev/null 2>&1 || true
  shot 4-tray-menu
  xdotool key Escape mousemove 640 300 >/dev/null 2>&1 || true
fi

control text Notepad "$(winpath "$demo/notepad.txt")" || true
control activate Notepad
shot 5-notepad-text
# Quit from the program's tray command, as its menu item "Tavolinの終了(&X)" does.
control command 3001
for i in $(seq 1 100); do
  kill -0 "$tavolin" 2>/dev/null || break
  sleep 0.2
done
if kill -0 "$tavolin" 2>/dev/null; then
  echo "TavolinXP.exe did not end after its quit command." >&2
  quit="still running"
else
  wait "$tavolin" && quit="ended (exit code 0)" || quit="ended (exit code $?)"
fi

echo
echo "Typed with xdotool into Notepad:"
for k in "${typed_keys[@]}"; do echo "  $k"; done
echo "What Notepad holds:"
if [ -f "$demo/notepad.txt" ]; then
  printf '%s\n' "$(tr -d '\r' <"$demo/notepad.txt")" | sed 's/^/  | /'
else
  echo "  (could not read Notepad's text)"
fi
expected=$'Tavolin on Wine. aiueo\r\nmakana'
outcome=0
if [ "$(cat "$demo/notepad.txt" 2>/dev/null)" = "$expected" ]; then
  echo "  (what the default layouts make of those keys)"
else
  echo "  The layouts make of those keys: ${expected//$'\r\n'/ ⏎ }; Notepad holds something else." >&2
  outcome=1
fi
echo
echo "TavolinXP.exe $quit after the tray command 3001."
[ "$quit" = "still running" ] && outcome=1
echo "Pictures of the desktop:"
for p in "${pictures[@]}"; do echo "  $p"; done
exit "$outcome"
