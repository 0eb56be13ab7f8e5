#!/usr/bin/env bash
# Runs the three examples in sequence and checks what they did: create an
# archive (two buffers and a file, AES-256, then one entry deleted), list it,
# read one entry into memory and extract the archive with progress and a
# cancel. Exits non-zero on any wrong result.
#   run_examples.sh BINDIR WORKDIR
set -euo pipefail
bin=$(cd "${1:?directory of the example programs}" && pwd)
work=${2:?work directory}
rm -rf "$work"
mkdir -p "$work"
fail() { echo "run_examples: $*" >&2; exit 1; }

head -c 300000 /dev/urandom >"$work/data.bin"
"$bin/create" "$work/a.zip" "$work/data.bin" 's3cret pass'
python3 - "$work/a.zip" <<'PY' || fail "the entries are not AES-256 encrypted as asked"
import sys, zipfile
infos = zipfile.ZipFile(sys.argv[1]).infolist()
assert sorted(i.filename for i in infos) == ["data.bin", "hello.txt"], infos
# The AES field: vendor version 2, "AE", strength 3 (256-bit keys).
assert all(b"\x01\x99\x07\x00\x02\x00AE\x03" in i.extra for i in infos)
PY

"$bin/list" "$work/a.zip" >"$work/list.txt"
cat "$work/list.txt"
[[ $(wc -l <"$work/list.txt") -eq 2 ]] || fail "list printed other than two entries"
grep -Eq '^ +14 +[0-9]+  [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}  hello\.txt$' "$work/list.txt" ||
  fail "list shows hello.txt wrong"
grep -Eq '^ +300000 .*  data\.bin$' "$work/list.txt" || fail "list shows data.bin wrong"

"$bin/read_extract" "$work/a.zip" 's3cret pass' hello.txt "$work/out" >"$work/hello.txt" 2>"$work/progress.txt"
printf 'Hello, world!\n' | cmp - "$work/hello.txt" || fail "the entry read into memory differs"
cmp "$work/data.bin" "$work/out/data.bin" || fail "the extracted file differs"
grep -q '100.0%  data.bin' "$work/progress.txt" || fail "no progress reported"
grep -q 'cancelled' "$work/progress.txt" || fail "the cancel was not reported"
[[ -z $(find "$work/out/cancelled" -type f 2>/dev/null) ]] || fail "the cancelled extraction left files"

if "$bin/read_extract" "$work/a.zip" wrong hello.txt "$work/bad" >"$work/bad.txt" 2>&1; then
  fail "a wrong password was accepted"
fi
grep -q 'Invalid password' "$work/bad.txt" || fail "a wrong password did not say so"
echo "examples: create, list and read_extract gave the expected results"
