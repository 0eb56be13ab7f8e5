#!/usr/bin/env bash
# The Windows build under wine64, beside the Linux build:
#  1. the library's unit tests (arcfold_tests.exe), less the ones that start
#     peer tools, which wine cannot run;
#  2. arcfold.exe list/test/extract on archives that zip, 7zz and Python's
#     zipfile make now (Hungarian names in UTF-8 and in CP852, classic and
#     AES passwords, a damaged item), each compared with what the Linux
#     arcfold gives for the same archive. The CP852 names are read with the
#     system's own OEM page (852 on a Hungarian Windows) and no option;
#     Linux is told --codepage 852;
#  3. archives arcfold.exe writes, read by the peers and the Linux tool,
#     whose Hungarian and Japanese names every reader lists alike.
#   run_wine_checks.sh WIN_BUILD_DIR HOST_BUILD_DIR WORK_DIR
set -euo pipefail
win_build=$(cd "${1:?windows build dir}" && pwd)
host_build=$(cd "${2:?host build dir}" && pwd)
work=${3:?work dir}
root=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
source "$root/scripts/wine-env" "$work/wine"
trap wine_stop EXIT
wine_boot
wine_keep_server
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

echo "== unit tests under wine"
wine_run "$win_build/tests/windows/arcfold_tests.exe" --gtest_brief=1 --gtest_filter='-EncryptedInteropTest.*' \
  || fail "arcfold_tests.exe"

echo "== archives made by the peers"
src="$work/src"
mkdir -p "$src/könyvtár/mély"
printf 'Árvíztűrő tükörfúrógép\n' >"$src/Árvíztűrő tükörfúrógép.txt"
printf 'ő ű Ő Ű\n' >"$src/könyvtár/ékezetek - őű.txt"
head -c 300000 /dev/urandom | base64 >"$src/könyvtár/mély/nagy.txt"
: >"$src/üres.txt"
arch="$work/archives"
mkdir -p "$arch"
(cd "$src" && zip -qr "$arch/infozip-utf8.zip" .)
(cd "$src" && zip -qr -P 'jelszó' "$arch/infozip-classic.zip" .)
seven=$(command -v 7zz || command -v 7z)
(cd "$src" && "$seven" a -tzip -bso0 -bsp0 -mcu=on "$arch/7zip-utf8.zip" .)
(cd "$src" && "$seven" a -tzip -bso0 -bsp0 -p'titkos jelszo' -mem=AES256 "$arch/7zip-aes256.zip" .)
# CP852 names as a DOS tool stores them: no UTF-8 flag, made on FAT.
python3 - "$src" "$arch/cp852.zip" <<'PY'
import os, sys, zipfile
src, out = sys.argv[1], sys.argv[2]
class Cp852Info(zipfile.ZipInfo):
    def _encodeFilenameFlags(self):
        return self.filename.encode("cp852"), self.flag_bits
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
    for folder, dirs, files in sorted(os.walk(src)):
        dirs.sort()
        for f in sorted(files):
            path = os.path.join(folder, f)
            info = Cp852Info.from_file(path, os.path.relpath(path, src))
            info.create_system = 0
            with open(path, "rb") as data:
                z.writestr(info, data.read(), zipfile.ZIP_DEFLATED)
PY
# One item damaged: its stored bytes changed after the CRC was taken.
python3 - "$arch/infozip-utf8.zip" "$arch/damaged.zip" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
# The first "nagy.txt" is the item's local header; its compressed data
# follows the name and the extra fields.
data[data.find(b"nagy.txt") + 200] ^= 0xFF
open(sys.argv[2], "wb").write(bytes(data))
PY

linux="$host_build/tools/arcfold"
windows="$win_build/tools/arcfold.exe"
# Runs arcfold.exe in a folder of its own; paths given to it are the
# archive's name only.
win() { (cd "$1" && shift && wine_run "$windows" "$@"); }

check() {
  local name=$1 password=${2:-} codepage=${3:-}
  local zip="$arch/$name" out="$work/out/$name"
  mkdir -p "$out/linux" "$out/windows"
  cp "$zip" "$out/"
  local pw=() cp=()
  [[ -n $password ]] && pw=(-p "$password")
  [[ -n $codepage ]] && cp=(--codepage "$codepage")
  "$linux" list --json "${cp[@]}" "$zip" >"$out/linux.json"
  win "$out" list --json "$name" | tr -d '\r' >"$out/windows.json"
  cmp -s "$out/linux.json" "$out/windows.json" || { diff "$out/linux.json" "$out/windows.json" | head; fail "$name: list"; }
  local lt=0 wt=0
  "$linux" test "${cp[@]}" "${pw[@]}" "$zip" >/dev/null 2>&1 || lt=$?
  win "$out" test "${pw[@]}" "$name" >/dev/null 2>&1 || wt=$?
  [[ $lt == "$wt" ]] || fail "$name: test exits $lt on Linux, $wt on Windows"
  local le=0 we=0
  "$linux" extract "${cp[@]}" "${pw[@]}" -d "$out/linux" "$zip" >/dev/null 2>&1 || le=$?
  win "$out" extract "${pw[@]}" -d windows "$name" >/dev/null 2>&1 || we=$?
  [[ $le == "$we" ]] || fail "$name: extract exits $le on Linux, $we on Windows"
  diff -r "$out/linux" "$out/windows" >/dev/null || { diff -r "$out/linux" "$out/windows" | head; fail "$name: extracted trees differ"; }
  echo "$name: list, test (exit $wt) and extract (exit $we) agree"
}

check infozip-utf8.zip
check 7zip-utf8.zip
check cp852.zip "" 852
check infozip-classic.zip 'jelszó'
check 7zip-aes256.zip 'titkos jelszo'
check damaged.zip
# The names must be the Hungarian ones, not merely the same on both sides.
diff -r "$src" "$work/out/cp852.zip/windows" >/dev/null || fail "cp852.zip: names or contents differ from the source"
diff -r "$src" "$work/out/7zip-aes256.zip/windows" >/dev/null || fail "7zip-aes256.zip: differs from the source"
grep -q '"Árvíztűrő tükörfúrógép.txt"' "$work/out/cp852.zip/windows.json" || fail "cp852.zip: name not read as CP852"
[[ $(cd "$work/out/damaged.zip" && wine_run "$windows" test damaged.zip >/dev/null 2>&1; echo $?) != 0 ]] \
  || fail "damaged.zip: test reported success"

echo "== archives written on Windows"
# New archives, plain and AES, then a delete and a rename (each a commit that
# rewrites the archive beside the old one and renames it into place); the
# peers test them, and the Linux tool reads the names in the OEM page
# Windows stored them in.
written="$work/written"
mkdir -p "$written"
cp -r "$src" "$written/src"
(cd "$written" && wine_run "$windows" add -r plain.zip src >/dev/null && wine_run "$windows" add -r --aes 256 -p titok aes.zip src >/dev/null \
  && wine_run "$windows" delete plain.zip 'src/könyvtár/mély/*' >/dev/null \
  && wine_run "$windows" rename plain.zip 'src/üres.txt' 'src/nem üres.txt' >/dev/null) || fail "arcfold.exe add/delete/rename"
unzip -tqq "$written/plain.zip" || fail "plain.zip written on Windows: unzip -t"
"$seven" t -bso0 -bsp0 -ptitok "$written/aes.zip" || fail "aes.zip written on Windows: 7zz t"
"$linux" list --codepage 852 "$written/plain.zip" | grep -q 'src/nem üres.txt' || fail "plain.zip: the renamed item"
"$linux" list --codepage 852 "$written/plain.zip" | grep -q 'nagy.txt' && fail "plain.zip: the deleted item is still there"
"$linux" extract --codepage 852 -p titok -d "$written/out" "$written/aes.zip" >/dev/null || fail "aes.zip: Linux extract"
diff -r "$src" "$written/out/src" >/dev/null || fail "aes.zip written on Windows differs from its source"
echo "written on Windows: unzip -t, 7zz t and the Linux tool agree"

echo "== names written on Windows, as every reader lists them"
# Hungarian names that fit the OEM page (852) and Japanese ones that do not:
# arcfold.exe stores both as UTF-8, so every reader on any system lists
# the names of the source.
names="$work/names"
mkdir -p "$names/src/日本語"
printf 'a' >"$names/src/Árvíztűrő tükörfúrógép.txt"
printf 'b' >"$names/src/ékezetek.txt"
printf 'c' >"$names/src/日本語/東京.txt"
printf 'd' >"$names/src/plain.txt"
(cd "$names" && wine_run "$windows" add -r names.zip src >/dev/null) || fail "arcfold.exe add (names)"
(cd "$names" && find src -type f | LC_ALL=C sort) >"$names/source.txt"
files_only() { grep -v '/$' | LC_ALL=C sort; }
LC_ALL=C.UTF-8 unzip -Z1 "$names/names.zip" | files_only >"$names/unzip.txt"
"$seven" l -slt "$names/names.zip" | awk '/^Path = /{p=substr($0,8)} /^Folder = -/{print p}' | files_only >"$names/7zz.txt"
python3 -c 'import sys, zipfile; [print(i.filename) for i in zipfile.ZipFile(sys.argv[1]).infolist()]' \
  "$names/names.zip" | files_only >"$names/python.txt"
"$linux" list --json "$names/names.zip" | python3 -c 'import json, sys; [print(i["name"]) for i in json.load(sys.stdin)]' \
  | files_only >"$names/linux.txt"
for lister in unzip 7zz python linux; do
  cmp -s "$names/source.txt" "$names/$lister.txt" \
    || { diff "$names/source.txt" "$names/$lister.txt" | head; fail "names.zip written on Windows: $lister lists other names"; }
done
echo "names written on Windows: unzip, 7zz, Python and the Linux tool list the source's names"

echo "== names that mean something else to Windows"
# Drive letters, drive-relative and UNC names, "..", alternate data streams
# and device names: none may write outside the destination, or into a
# device or a stream.
hostile="$work/hostile"
mkdir -p "$hostile/run/dest"
python3 - "$hostile/hostile.zip" <<'PY'
import sys, zipfile
names = ["C:/evil1.txt", "C:evil2.txt", "..\\evil3.txt", "sub\\..\\..\\evil4.txt", "/evil5.txt",
         "\\evil6.txt", "\\\\server\\share\\evil7.txt", "ok.txt:ads", "CON", "d:\\evil8.txt",
         "sub/NUL.txt", "good.txt"]
with zipfile.ZipFile(sys.argv[1], "w") as z:
    for n in names:
        z.writestr(zipfile.ZipInfo(n), "x " + n)
PY
he=0
(cd "$hostile/run" && wine_run "$windows" extract -o -d dest ../hostile.zip >"$hostile/log" 2>&1) || he=$?
[[ $he != 0 ]] || fail "hostile.zip: extract reported success"
[[ $(cd "$hostile" && find run -type f) == run/dest/good.txt ]] || fail "hostile.zip: wrote $(cd "$hostile" && find run -type f)"
[[ -z $(find "$WINEPREFIX/drive_c" -maxdepth 1 -name 'evil*') ]] || fail "hostile.zip: wrote into C:"
echo "hostile.zip: $(grep -c 'Native error: 00019' "$hostile/log") names refused, only good.txt written"

if ((failures)); then
  echo "$failures Windows check(s) failed" >&2
  exit 1
fi
echo "windows checks passed"
