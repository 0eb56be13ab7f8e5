# Sourced by the scripts that drive the installer's window on a virtual
# display (the POSIX build, and the Windows build under wine).

# A loaded machine may take a while to bring the display up: wait for it to
# answer before a program needs it.
wait_for_display() {
  for _ in $(seq 1 150); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
    sleep 0.2
  done
}

# Prints the id of the installer's window once it is there (up to 60 s).
wait_for_window() {
  local wid
  for _ in $(seq 1 600); do
    wid=$(xdotool search --name "Quorel telep" 2>/dev/null | head -1 || true)
    [[ -n $wid ]] && { echo "$wid"; return 0; }
    sleep 0.1
  done
  return 1
}

# The install sequence ends by quitting. Frames are taken as fast as they
# come until process PID ends, and one counts only when the window was still
# there after it was taken: the last such frame, WORK/after.png, is the last
# state the user saw. Fails (leaving WORK/stuck.png) when the program is
# still running after 90 s: a message box waits for a click nobody gives.
capture_until_gone() {
  local pid=$1 work=$2 log="$2/xdotool.log" deadline=$((SECONDS + 90))
  while kill -0 "$pid" 2>/dev/null && ((SECONDS < deadline)); do
    import -window root "$work/frame.png" 2>>"$log" || continue
    if xdotool search --name "Quorel telep" >/dev/null 2>>"$log"; then mv -f "$work/frame.png" "$work/after.png"; fi
  done
  rm -f "$work/frame.png"
  if kill -0 "$pid" 2>/dev/null; then
    import -window root "$work/stuck.png" 2>>"$log" || true
    echo "the installer did not finish; its screen: $work/stuck.png" >&2
    return 1
  fi
}

# What the user ends up with: the installed tree, the shortcut (described
# by SHORTCUT, as each system has its own kind), the product's start and
# the screenshots.
report_install() {
  local base=$1 work=$2 shortcut=$3
  echo "== installed tree ($base/quorel)"
  (cd "$base/quorel" && find . | sort)
  echo "== desktop shortcut"
  echo "$shortcut"
  echo "== product start"
  cat "$base/quorel/quorel-started.txt" 2>/dev/null || echo "(not started)"
  echo "== screenshots: $work/before.png $work/typed.png $work/after.png"
}

# Fails unless the install is whole: programs, libraries in their folders,
# dll.zip gone, the product started, a first screenshot taken.
check_install() {
  local base=$1 work=$2
  test -f "$base/quorel/quorel.exe"
  test -f "$base/quorel/sutil.exe"
  test -f "$base/quorel/libpq.dll"
  test -f "$base/quorel/platforms/qwindows.dll"
  test ! -e "$base/quorel/dll.zip"
  test -f "$base/quorel/quorel-started.txt"
  test -s "$work/before.png"
}
