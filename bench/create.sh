#!/usr/bin/env bash
# Creates archives at the fastest level from a ~200 MB mixed tree (text and
# random data), 20,000 small text files and one 512 MB file, with arcfold and
# the peers, into a tmpfs; prints time ratios (peer time / ours: above 1
# means arcfold is faster) and size ratios (ours / peer's: below 1 means
# arcfold's archive is smaller).
source "$(dirname "$0")/common.sh"

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
  if [[ ! -d $small ]]; then
    make_small_tree "$small"
  fi
  if [[ ! -f $big/big.bin ]]; then
    mkdir -p "$big"
    make_big_file "$big/big.bin"
  fi
}

make_trees
out="$scratch/created.zip"
for set in mixed small big; do
  tree="$scratch/create-$set"
  echo "== $set ($(du -sm "$tree" | cut -f1) MB, $(find "$tree" -type f | wc -l) files)"
  run_ours() { rm -f "$out"; (cd "$tree" && "$tool" add -1 -r "$out" .); }
  run_zip() { rm -f "$out"; (cd "$tree" && zip -qr1 "$out" .); }
  run_7z() { rm -f "$out"; (cd "$tree" && "$seven" a -tzip -mx1 -mmt2 -bd -bso0 "$out" .); }
  run_python() {
    rm -f "$out"
    python3 - "$tree" "$out" <<'PY'
import os, sys, zipfile
root, out = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
    for base, _, files in os.walk(root):
        for f in files:
            full = os.path.join(base, f)
            z.write(full, os.path.relpath(full, root))
PY
  }
  ours=$(best_of 3 run_ours)
  run_ours >/dev/null 2>&1
  ours_size=$(stat -c %s "$out")
  printf '  %-10s %8ss  %6s MB  peak %s KiB\n' arcfold "$ours" "$((ours_size / 1048576))" \
    "$(rm -f "$out"; cd "$tree" && peak_kb "$tool" add -1 -r "$out" .)"
  for peer in zip 7z python; do
    [[ $peer == 7z && -z $seven ]] && continue
    t=$(best_of 3 "run_$peer")
    "run_$peer" >/dev/null 2>&1
    size=$(stat -c %s "$out")
    printf '  %-10s %8ss  time ratio %s  size ratio %s\n' "$peer" "$t" "$(ratio "$t" "$ours")" \
      "$(ratio "$ours_size" "$size")"
  done
done
rm -f "$out"
