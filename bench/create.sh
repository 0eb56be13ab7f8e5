#!/usr/bin/env bash
# Creates archives with arcfold and the peers (zip, 7-Zip with two threads,
# bsdtar) from the same data, into a tmpfs, in one pass: a ~200 MB mixed tree
# (number lists and random data), 20,000 small text files and one 512 MB
# file. Each row puts arcfold at one level beside each peer at its matching
# level and prints time ratios (peer time / ours: above 1 means arcfold is
# faster) and size ratios (ours / peer's: below 1 means arcfold's archive is
# smaller); then the peak memory of adding 100,000 files.
# BENCH_RUNS (default 3): runs per timing, the best one counts. BENCH_BEFORE:
# another build of the tool, timed in each row beside this one.
source "$(dirname "$0")/common.sh"
runs=${BENCH_RUNS:-3}

make_trees() {
  local mixed="$scratch/create-mixed" small="$scratch/create-small" big="$scratch/create-big"
  if [[ ! -d $mixed ]]; then
    mkdir -p "$mixed"
    for i in $(seq 1 20); do
      mkdir -p "$mixed/d$i"
      seq $((i * 100000)) $((i * 100000 + 600000)) > "$mixed/d$i/text.txt"
      head -c 5000000 /dev/urandom > "$mixed/d$i/random.bin"
    done
  fi
  [[ -d $small ]] || make_small_tree "$small"
  if [[ ! -f $big/big.bin ]]; then
    mkdir -p "$big"
    make_big_file "$big/big.bin"
  fi
}

out="$scratch/created.zip"
# The makers: each takes the level it is asked for (ours) or the peer's
# matching level, and the tree to archive.
ours() { rm -f "$out"; (cd "$2" && "$tool" add "-$1" -r "$out" .); }
zip_() { rm -f "$out"; (cd "$2" && zip -qr"$1" "$out" .); }
7zz_() { rm -f "$out"; (cd "$2" && "$seven" a -tzip "-mx$1" -mmt2 -bd -bso0 "$out" .); }
before_() { rm -f "$out"; (cd "$2" && "$BENCH_BEFORE" add "-$1" -r "$out" .); }
bsdtar_() { rm -f "$out"; (cd "$2" && bsdtar --format zip --options "zip:compression-level=$1" -cf "$out" .); }

# size MAKER LEVEL TREE: the archive's size in bytes.
size() { "$@" >/dev/null 2>&1; stat -c %s "$out"; }
mb() { printf '%.1f' "$(echo "$1 / 1000000" | bc -l)"; }

# row TITLE TREE OUR-LEVEL PEER:LEVEL...: ours beside each peer (and beside
# the build BENCH_BEFORE names, if any: the same data in the same pass).
row() {
  local title=$1 tree=$2 level=$3
  shift 3
  local t s
  t=$(best_of "$runs" ours "$level" "$tree")
  s=$(stat -c %s "$out")  # best_of leaves the last run's archive
  printf '%-30s %-15s %8ss %7s MB\n' "$title" "arcfold -$level" "$t" "$(mb "$s")"
  if [[ -n ${BENCH_BEFORE:-} ]]; then
    set -- "before:$level" "$@"
  fi
  for peer in "$@"; do
    local name=${peer%%:*} plevel=${peer#*:}
    [[ $name == 7zz && -z $seven ]] && continue
    local pt ps
    pt=$(best_of "$runs" "${name}_" "$plevel" "$tree")
    ps=$(stat -c %s "$out")
    printf '%-30s %-15s %8ss %7s MB  time ratio %5s  size ratio %s\n' "" "$name -$plevel" "$pt" "$(mb "$ps")" \
      "$(ratio "$pt" "$t")" "$(ratio "$s" "$ps")"
  done
}

# The lowest of our levels 2-9 whose archive of TREE is no larger than
# 7-Zip's at -mx1.
level_at_7zip_mx1_size() {
  local tree=$1 limit level
  limit=$(size 7zz_ 1 "$tree")
  for level in 2 3 4 5 6 7 8 9; do
    (($(size ours "$level" "$tree") <= limit)) && { echo "$level"; return; }
  done
  echo 9
}

make_trees
mixed="$scratch/create-mixed" small="$scratch/create-small" big="$scratch/create-big"
echo "mixed: $(du -sm "$mixed" | cut -f1) MB; small: $(find "$small" -type f | wc -l) files;" \
  "big: $(du -sm "$big" | cut -f1) MB; best of $runs"
row "mixed tree, level 1" "$mixed" 1 zip:1 7zz:1 bsdtar:1
row "mixed tree, level 6" "$mixed" 6 zip:6 7zz:5 bsdtar:6
if [[ -n $seven ]]; then
  row "mixed tree, size of 7zz -mx1" "$mixed" "$(level_at_7zip_mx1_size "$mixed")" 7zz:1
fi
row "20,000 small files, level 1" "$small" 1 zip:1 7zz:1 bsdtar:1
row "one 512 MB file, level 1" "$big" 1 zip:1 7zz:1 bsdtar:1
row "one 512 MB file, level 6" "$big" 6 zip:6 7zz:5 bsdtar:6

# Peak memory of adding 100,000 (small) files at once.
many="$scratch/create-100k"
if [[ ! -d $many ]]; then
  python3 - "$many" <<'PY'
import os, sys
root = sys.argv[1]
for i in range(100000):
    d = os.path.join(root, f"d{i // 1000}")
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, f"f{i}.txt"), "w") as f:
        f.write(f"file {i}\n")
PY
fi
rm -f "$out"
printf '%-30s %-15s %8s KiB peak\n' "100,000 files, level 1" "arcfold -1" \
  "$(cd "$many" && peak_kb "$tool" add -1 -r "$out" .)"
rm -f "$out"
if [[ -n ${BENCH_BEFORE:-} ]]; then
  printf '%-30s %-15s %8s KiB peak\n' "" "before -1" "$(cd "$many" && peak_kb "$BENCH_BEFORE" add -1 -r "$out" .)"
  rm -f "$out"
fi
