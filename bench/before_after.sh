#!/usr/bin/env bash
# bench/before_after.sh OLD NEW: two builds of the tool on the data of
# create.sh, extract.sh and extract_aes.sh, one after the other, best of 5
# each; prints new/old time ratios (below 1: the new build is faster).
source "$(dirname "$0")/common.sh"
old=${1:?usage: before_after.sh OLD NEW} new=${2:?usage: before_after.sh OLD NEW}
mixed=$scratch/ab-mixed small=$scratch/ab-small big=$scratch/ab-big
if [[ ! -d $mixed ]]; then
  mkdir -p "$mixed"
  for i in $(seq 1 20); do mkdir -p "$mixed/d$i"; seq $((i*100000)) $((i*100000+600000)) > "$mixed/d$i/text.txt"; head -c 5000000 /dev/urandom > "$mixed/d$i/random.bin"; done
fi
[[ -d $small ]] || make_small_tree "$small"
[[ -f $big/big.bin ]] || { mkdir -p "$big"; make_big_file "$big/big.bin"; }
out=$scratch/ab-out.zip; dest=$scratch/ab-dest
line() { printf '%-28s old %8s  new %8s  new/old %s\n' "$1" "$2" "$3" "$(ratio "$3" "$2")"; }
for set in mixed small big; do
  tree=$scratch/ab-$set
  for lvl in 1 6; do
    [[ $set != mixed && $lvl == 6 ]] && continue
    c() { rm -f "$out"; (cd "$tree" && "$1" add -$lvl -r "$out" .); }
    a=$(best_of 5 c $old); b=$(best_of 5 c $new); line "create $set -$lvl" $a $b
  done
  rm -f "$scratch/ab-$set.zip"; (cd "$tree" && zip -qr1 "$scratch/ab-$set.zip" .)
  x() { rm -rf "$dest"; "$1" extract "$scratch/ab-$set.zip" -d "$dest" >/dev/null; }
  a=$(best_of 5 x $old); b=$(best_of 5 x $new); line "extract $set" $a $b
done
rm -f "$scratch/ab-aes.zip"; (cd "$mixed" && $old add -1 -r -p secret --aes 256 "$scratch/ab-aes.zip" . >/dev/null)
ca() { rm -f "$out"; (cd "$mixed" && "$1" add -1 -r -p secret --aes 256 "$out" .); }
a=$(best_of 5 ca $old); b=$(best_of 5 ca $new); line "create aes256 mixed -1" $a $b
xa() { rm -rf "$dest"; "$1" extract "$scratch/ab-aes.zip" -p secret -d "$dest" >/dev/null; }
a=$(best_of 5 xa $old); b=$(best_of 5 xa $new); line "extract aes256 mixed" $a $b
