#!/usr/bin/env bash
# Screenshots of the installer's window and of its dialogs under wine64 on a
# virtual display, at 96 and at 144 dpi (wine's LogPixels, as Windows'
# 150 % scale): OUT/DPI/main.png (QuorelSetup as it starts), folder.png,
# question.png and password.png (the dialog over the window, opened by
# window_gallery.exe when its Install button is pressed). Prints the paths.
#   window_shots_wine.sh WIN_BUILD_DIR OUT_DIR
set -euo pipefail
if [[ ${1:-} == --drive ]]; then
  shift
  DRIVE_DPI=$1
  shift
fi
win_build=$(cd "${1:?windows build dir}" && pwd)
out=${2:?out dir}
mkdir -p "$out"
out=$(cd "$out" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$root/scripts/wine-env" "$out/wine"
source "$here/window_driver.sh"

# A length at 96 dpi, at dpi. The Install button's middle lies 448 x 82
# pixels from the window's corner at 96 dpi (the frame wine draws, 3 x 22,
# and 445 x 60 in the window).
at_scale() { echo $(($1 * $2 / 96)); }

# Inside the X session: each picture with its own run of the program.
shoot() {
  local dpi=$1 dir="$out/$1" wid pid
  mkdir -p "$dir"
  wait_for_display
  wine_run "$win_build/installer/QuorelSetup.exe" &
  pid=$!
  wid=$(wait_for_window) || { echo "QuorelSetup did not appear at $dpi dpi" >&2; return 1; }
  sleep 2
  import -window root "$dir/main.png"
  wine_stop
  wait $pid 2>/dev/null || true
  for dialog in folder question password; do
    wine_run "$win_build/installer/quorel_window_gallery.exe" $dialog &
    pid=$!
    wid=$(wait_for_window) || { echo "the gallery did not appear at $dpi dpi" >&2; return 1; }
    sleep 1
    xdotool mousemove --window "$wid" "$(at_scale 448 "$dpi")" "$(at_scale 82 "$dpi")" click 1
    sleep 3
    import -window root "$dir/$dialog.png"
    wine_stop
    wait $pid 2>/dev/null || true
  done
}

if [[ -n ${DRIVE_DPI:-} ]]; then
  shoot "$DRIVE_DPI"
  exit
fi

trap wine_stop EXIT
wine_boot
for dpi in 96 144; do
  wine_run reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d $dpi /f >/dev/null 2>&1
  wine_stop
  xvfb-run -a -s "-screen 0 1600x1000x24" "$0" --drive $dpi "$win_build" "$out"
  echo "$dpi dpi: $(ls "$out/$dpi"/*.png | tr '\n' ' ')"
done
