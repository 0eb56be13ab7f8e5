#!/usr/bin/env bash
# Extracts a ~200 MB mixed tree, a 20,000 small-file tree and one 512 MB
# file (all zip -1) with arcfold and the peers into a tmpfs; prints time
# ratios and peak memory.
source "$(dirname "$0")/common.sh"

make_sets() {
  local mixed="$scratch/mixed-src" small="$scratch/small-src"
  if [[ ! -f $scratch/mixed.zip ]]; then
    rm -rf "$mixed"
    mkdir -p "$mixed"
    for i in $(seq 1 20); do
      mkdir -p "$mixed/d$i"
      seq $((i * 100000)) $((i * 100000 + 600000)) > "$mixed/d$i/text.txt"   # ~4.5 MB of text
      head -c 5000000 /dev/urandom > "$mixed/d$i/random.bin"                 # 5 MB random
    done
    (cd "$mixed" && zip -qr1 "$scratch/mixed.zip" .)
    rm -rf "$mixed"
  fi
  if [[ ! -f $scratch/small.zip ]]; then
    rm -rf "$small"
    mkdir -p "$small"
    make_small_tree "$small"
    (cd "$small" && zip -qr1 "$scratch/small.zip" .)
    rm -rf "$small"
  fi
  if [[ ! -f $scratch/big.zip ]]; then
    mkdir -p "$scratch/big-src"
    make_big_file "$scratch/big-src/big.bin"
    (cd "$scratch/big-src" && zip -q1 "$scratch/big.zip" big.bin)
    rm -rf "$scratch/big-src"
  fi
}

make_sets
out="$scratch/out"
for set in mixed small big; do
  zip="$scratch/$set.zip"
  echo "== $set.zip ($(du -m "$zip" | cut -f1) MB, $(unzip -l "$zip" | tail -1 | awk '{print $2}') items)"
  run_ours() { rm -rf "$out"; "$tool" extract "$zip" -d "$out" -o; }
  run_unzip() { rm -rf "$out"; unzip -qo "$zip" -d "$out"; }
  run_7z() { rm -rf "$out"; "$seven" x -y -bd -bso0 "-o$out" "$zip"; }
  run_bsdtar() { rm -rf "$out"; mkdir -p "$out"; bsdtar -xf "$zip" -C "$out"; }
  ours=$(best_of 3 run_ours)
  printf '  %-10s %8ss  peak %s KiB\n' arcfold "$ours" "$(rm -rf "$out"; peak_kb "$tool" extract "$zip" -d "$out" -o)"
  for peer in unzip 7z bsdtar; do
    [[ $peer == 7z && -z $seven ]] && continue
    t=$(best_of 3 "run_$peer")
    printf '  %-10s %8ss  ratio %s\n' "$peer" "$t" "$(ratio "$t" "$ours")"
  done
done
rm -rf "$out"
