#!/usr/bin/env bash
# Runs the Windows build of the installer under wine64 on a virtual display
# against the demo download site (served by the host build), types a base
# folder, presses Install, and checks what a user would find: the installed
# tree, a real shell link on the desktop, the product started. Leaves
# before/typed/after screenshots and prints their paths.
#   run_installer_wine.sh WIN_BUILD_DIR HOST_BUILD_DIR WORK_DIR [--check]
set -euo pipefail
if [[ ${1:-} == --drive ]]; then
  shift
  DRIVE_ONLY=1
fi
win_build=$(cd "${1:?windows build dir}" && pwd)
host_build=$(cd "${2:?host build dir}" && pwd)
work=${3:?work dir}
check=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
mkdir -p "$work"
work=$(cd "$work" && pwd)
source "$root/scripts/wine-env" "$work/wine"
source "$here/window_driver.sh"
setup="$win_build/installer/QuorelSetup.exe"
base="$work/base"

drive() {
  # Inside the X session: start, screenshot, type the folder, Install.
  wait_for_display
  wine_run "$setup" &
  local pid=$!
  local wid
  wid=$(wait_for_window) || { echo "installer window did not appear" >&2; wine_stop; return 1; }
  sleep 1
  local log="$work/xdotool.log"
  import -window root "$work/before.png"
  # Wine draws the frame itself: the client area starts 3 pixels in, below
  # a 19-pixel caption.
  local cx=3 cy=22
  xdotool mousemove --window "$wid" $((cx + 180)) $((cy + 46)) click 1 2>>"$log"
  # The classic edit control knows no Ctrl+A: select from the end to the start.
  xdotool key --window "$wid" End shift+Home 2>>"$log"
  xdotool type --window "$wid" --delay 5 "Z:${base//\//\\}" 2>>"$log"
  sleep 0.5
  import -window root "$work/typed.png"
  xdotool mousemove --window "$wid" $((cx + 445)) $((cy + 60)) click 1 2>>"$log"
  capture_until_gone $pid "$work" || { wine_stop; return 1; }
  wait $pid || true
}

if [[ -n ${DRIVE_ONLY:-} ]]; then
  drive
  exit
fi

url=$(grep -o 'QUOREL_DOWNLOAD_BASE_URL:STRING=.*' "$win_build/CMakeCache.txt" | cut -d= -f2)
port=$(echo "$url" | sed -E 's|^http://[^:/]+:([0-9]+)/.*|\1|')
rm -rf "$base" "$work/site"
mkdir -p "$base"
"$here/make_site.sh" "$work/site" "$win_build/installer/quorel_demo_product.exe" >/dev/null
"$host_build/installer/quorel_demo_site" "$port" "$work/site/quorel" /quorel/ >"$work/site.log" 2>&1 &
site_pid=$!
trap 'kill $site_pid 2>/dev/null || true; wine_stop' EXIT
for _ in $(seq 1 50); do curl -sf -o /dev/null "${url}dll.zip" && break; sleep 0.1; done

wine_boot
xvfb-run -a -s "-screen 0 1024x600x24" "$0" --drive "$win_build" "$host_build" "$work"
# The product is started detached: give it a moment to leave its note.
for _ in $(seq 1 50); do [[ -f $base/quorel/quorel-started.txt ]] && break; sleep 0.2; done

link=$(find "$WINEPREFIX/drive_c/users" "$HOME" -name Quorel.lnk 2>/dev/null | head -1 || true)
report_install "$base" "$work" "${link:-(none)}"

if [[ $check == --check ]]; then
  check_install "$base" "$work"
  test -n "$link"
  # A shell link: header size 0x4C and the ShellLink class identifier, and
  # the product's path inside.
  [[ $(head -c 20 "$link" | od -An -tx1 | tr -d ' \n') == 4c0000000114020000000000c000000000000046 ]]
  tr -d '\0' <"$link" | LC_ALL=C grep -qa "quorel.exe"
  echo "windows installer check passed"
fi
