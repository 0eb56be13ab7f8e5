#!/usr/bin/env bash
# One pass per method (bzip2, LZMA, xz, zstd) over a ~45 MB mixed tree (text
# and random data) in a tmpfs: our extraction time against the fastest peer
# that reads the method (peer time / ours: above 1 means arcfold is faster),
# and our create time and archive size at level 5 against 7-Zip's -mx5
# (size ratio ours / 7-Zip's: below 1 means ours is smaller). 7-Zip writes
# no zstd items; that row compares extraction only. Times are the best wall
# times of BENCH_RUNS runs (default 1); "cpu o" and "cpu 7z" are the CPU seconds
# of one create (ours and 7-Zip's), which other work on the machine
# disturbs less than the walls.
source "$(dirname "$0")/common.sh"
runs=${BENCH_RUNS:-1}
[[ -n $seven ]] || { echo "7-Zip (7zz) is needed" >&2; exit 1; }

tree="$scratch/methods-tree"
if [[ ! -d $tree ]]; then
  mkdir -p "$tree"
  for i in $(seq 1 6); do
    mkdir -p "$tree/d$i"
    seq $((i * 100000)) $((i * 100000 + 800000)) > "$tree/d$i/text.txt"
    head -c 1500000 /dev/urandom > "$tree/d$i/random.bin"
  done
fi
ours_zip="$scratch/methods-ours.zip" peer_zip="$scratch/methods-7z.zip" out="$scratch/methods-out"

# The peers that read each method, as extract commands of an archive.
peer_extract() {
  local peer=$1 zip=$2
  rm -rf "$out" && mkdir -p "$out"
  case $peer in
    7zz) "$seven" x -y -bd -bso0 -o"$out" "$zip" ;;
    bsdtar) bsdtar -xf "$zip" -C "$out" ;;
    unzip) unzip -qo "$zip" -d "$out" ;;
    python) python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$out" ;;
  esac
}
ours_extract() { rm -rf "$out" && "$tool" x -q "$1" -d "$out"; }
ours_create() { rm -f "$ours_zip" && (cd "$tree" && "$tool" add -q -5 -r --method "$1" "$ours_zip" .); }
seven_create() { rm -f "$peer_zip" && (cd "$tree" && "$seven" a -tzip -mx5 -mm="$1" -bd -bso0 "$peer_zip" .); }

# cpu_of cmd...: the CPU seconds (user and system, all threads) of one run.
cpu_of() {
  local t TIMEFORMAT='%U %S'
  t=$( { time "$@" >/dev/null 2>&1; } 2>&1)
  printf '%.2f' "$(echo "${t% *} + ${t#* }" | bc -l)"
}

echo "tree: $(du -sm "$tree" | cut -f1) MB; best of $runs"
printf '%-6s | %9s %9s %-7s %6s | %9s %9s %6s %10s | %6s %6s\n' method "x ours" "x peer" peer ratio "c ours" "c 7zz" \
  ratio "size o/7z" "cpu o" "cpu 7z"
for row in "bzip2 BZip2 7zz,bsdtar,unzip,python" "lzma LZMA 7zz,bsdtar,python" "xz XZ 7zz,bsdtar" "zstd - 7zz,bsdtar"; do
  read -r method seven_method peers <<<"$row"
  c_ours=$(best_of "$runs" ours_create "$method")
  cpu_ours=$(cpu_of ours_create "$method")
  c_peer="-" c_ratio="-" size_ratio="-" cpu_peer="-"
  if [[ $seven_method != - ]]; then
    c_peer=$(best_of "$runs" seven_create "$seven_method")
    cpu_peer=$(cpu_of seven_create "$seven_method")
    c_ratio=$(ratio "$c_peer" "$c_ours")
    size_ratio=$(ratio "$(stat -c %s "$ours_zip")" "$(stat -c %s "$peer_zip")")
  fi
  # Everyone extracts the same archive: 7-Zip's where it writes the method.
  zip=$ours_zip
  [[ $seven_method != - ]] && zip=$peer_zip
  x_ours=$(best_of "$runs" ours_extract "$zip")
  x_best="" best_peer=""
  for peer in ${peers//,/ }; do
    t=$(best_of "$runs" peer_extract "$peer" "$zip")
    if [[ -z $x_best ]] || (($(echo "$t < $x_best" | bc -l))); then x_best=$t best_peer=$peer; fi
  done
  printf '%-6s | %9s %9s %-7s %6s | %9s %9s %6s %10s | %6s %6s\n' "$method" "$x_ours" "$x_best" "$best_peer" \
    "$(ratio "$x_best" "$x_ours")" "$c_ours" "$c_peer" "$c_ratio" "$size_ratio" "$cpu_ours" "$cpu_peer"
done
rm -rf "$out" "$ours_zip" "$peer_zip"
