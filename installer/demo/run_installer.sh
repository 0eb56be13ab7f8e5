#!/usr/bin/env bash
# Runs the built installer against the demo download site, with scripted
# clicks on a virtual display when there is no display. Leaves before/after
# screenshots and prints the installed tree, the shortcut and the product's
# start.
#   run_installer.sh BUILD_DIR WORK_DIR [--check]
set -euo pipefail
if [[ ${1:-} == --drive ]]; then
  # Inside the X session (see below): the rest of the arguments are the paths.
  shift
  setup=$1 work=$2 base=$3 desktop=$4
  DRIVE_ONLY=1
fi
build=${1:?build dir}
work=${2:?work dir}
check=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/window_driver.sh"
# The status of a drive whose installer could not open the display.
display_lost=75
if [[ -z ${DRIVE_ONLY:-} ]]; then
setup="$build/installer/QuorelSetup"
site_bin="$build/installer/quorel_demo_site"
url=$(grep -o 'QUOREL_DOWNLOAD_BASE_URL:STRING=.*' "$build/CMakeCache.txt" | cut -d= -f2)
port=$(echo "$url" | sed -E 's|^http://[^:/]+:([0-9]+)/.*|\1|')

mkdir -p "$work"
"$here/make_site.sh" "$work/site" >/dev/null
base="$work/base"
desktop="$work/desktop"
mkdir -p "$base" "$desktop"

"$site_bin" "$port" "$work/site/quorel" /quorel/ > "$work/site.log" 2>&1 &
site_pid=$!
cleanup() { kill "$site_pid" 2>/dev/null || true; }
trap cleanup EXIT
for _ in $(seq 1 50); do curl -sf -o /dev/null "${url}dll.zip" && break; sleep 0.1; done
fi

drive() {
  # Runs inside the X session: start, screenshot, type the folder, Install.
  export XDG_DESKTOP_DIR="$desktop"
  wait_for_display
  "$setup" &
  local pid=$!
  local wid
  if ! wid=$(wait_for_window); then
    echo "installer window did not appear" >&2
    # An installer that is gone already could not reach the display.
    kill $pid 2>/dev/null || return $display_lost
    return 1
  fi
  sleep 0.5
  # xdotool reports harmless focus warnings on a bare X server: they go to a log.
  local log="$work/xdotool.log"
  import -window root "$work/before.png"
  xdotool mousemove --window "$wid" 100 45 click 1 2>>"$log"
  xdotool key --window "$wid" ctrl+a 2>>"$log"
  xdotool type --window "$wid" --delay 5 "$base" 2>>"$log"
  sleep 0.3
  import -window root "$work/typed.png"
  xdotool mousemove --window "$wid" 445 60 click 1 2>>"$log"
  capture_until_gone $pid "$work" || { kill $pid; return 1; }
  wait $pid
}

if [[ -n ${DRIVE_ONLY:-} ]]; then
  drive
  exit
fi
if [[ -n ${DISPLAY:-} && -z ${QUOREL_FORCE_XVFB:-} ]]; then
  drive
else
  # A virtual display that a loaded machine did not bring up properly gets
  # one more try; any other failure is the installer's.
  for attempt in 1 2; do
    status=0
    xvfb-run -a -s "-screen 0 1024x600x24" "$0" --drive "$setup" "$work" "$base" "$desktop" || status=$?
    [[ $status == "$display_lost" && $attempt == 1 ]] || break
    echo "the virtual display was lost; trying once more" >&2
  done
  ((status == 0)) || exit $status
fi

# The product starts on its own after the installer has gone: its mark may
# take a moment on a loaded machine.
for _ in $(seq 1 50); do [[ -f $base/quorel/quorel-started.txt ]] && break; sleep 0.2; done
report_install "$base" "$work" "$(cat "$desktop"/*.desktop 2>/dev/null || echo "(none)")"

if [[ $check == --check ]]; then
  check_install "$base" "$work"
  test -f "$desktop/Quorel.desktop"
  echo "installer check passed"
fi
