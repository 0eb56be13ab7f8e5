#!/usr/bin/env bash
# Lists a 100,000-entry archive with arcfold and the peers; prints time ratios.
source "$(dirname "$0")/common.sh"
zip="$scratch/list-100k.zip"
if [[ ! -f $zip ]]; then
  python3 "$root/tests/scripts/pyzip.py" many "$zip" 100000
fi
ours=$(best_of 5 "$tool" list "$zip")
printf '%-22s %8ss\n' "arcfold list" "$ours"
for peer in "unzip -l" "${seven:+$seven l}" "bsdtar -tf"; do
  [[ -n $peer ]] || continue
  t=$(best_of 5 $peer "$zip")
  printf '%-22s %8ss  ratio %s\n' "$peer" "$t" "$(ratio "$t" "$ours")"
done
# Linear opening: 4x the entries should take about 4x the time.
zip4="$scratch/list-400k.zip"
[[ -f $zip4 ]] || python3 "$root/tests/scripts/pyzip.py" many "$zip4" 400000
t4=$(best_of 3 "$tool" list "$zip4")
printf '%-22s %8ss  (x%s of 100k)\n' "arcfold list 400k" "$t4" "$(ratio "$t4" "$ours")"
# Peak memory of listing 100,000 entries: each line is printed as its
# central header is read and none is kept, so plain, -v and --json stay
# within 32 MiB whatever the count (about 7 MB; 30 MB when the whole
# directory was read first).
limit_kb=32768
for how in "list" "list -v" "list --json"; do
  kb=$(peak_kb "$tool" $how "$zip")
  printf '%-22s %8s KiB peak  (%s %s KiB)\n' "arcfold $how" "$kb" "$( ((kb < limit_kb)) && echo under || echo OVER)" "$limit_kb"
done
