#!/usr/bin/env bash
# Extracts AES-256 archives made by 7-Zip (a ~200 MB mixed tree and 20,000
# small files) with arcfold and 7-Zip; prints time ratios.
source "$(dirname "$0")/common.sh"
[[ -n $seven ]] || { echo "7-Zip is needed" >&2; exit 1; }
"$(dirname "$0")/extract.sh" >/dev/null  # makes mixed.zip and small.zip
for set in mixed small; do
  aes="$scratch/$set-aes256.zip"
  if [[ ! -f $aes ]]; then
    rm -rf "$scratch/src" && mkdir -p "$scratch/src"
    unzip -q "$scratch/$set.zip" -d "$scratch/src"
    (cd "$scratch/src" && "$seven" a -tzip -bso0 -bsp0 -pbenchpw -mem=AES256 -mx=1 "$aes" .)
    rm -rf "$scratch/src"
  fi
done
out="$scratch/out"
for set in mixed small; do
  zip="$scratch/$set-aes256.zip"
  echo "== $set-aes256.zip ($(du -m "$zip" | cut -f1) MB)"
  run_ours() { rm -rf "$out"; "$tool" extract "$zip" -d "$out" -o -p benchpw; }
  run_7z() { rm -rf "$out"; "$seven" x -y -bd -bso0 -pbenchpw "-o$out" "$zip"; }
  ours=$(best_of 3 run_ours)
  printf '  %-10s %8ss  peak %s KiB\n' arcfold "$ours" "$(rm -rf "$out"; peak_kb "$tool" extract "$zip" -d "$out" -o -p benchpw)"
  t=$(best_of 3 run_7z)
  printf '  %-10s %8ss  ratio %s\n' 7z "$t" "$(ratio "$t" "$ours")"
done
rm -rf "$out"
