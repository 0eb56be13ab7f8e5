#!/usr/bin/env bash
# Makes the three files of the demo download site in DEST/quorel/:
#   quorel.jpg  the demo "product" (a small program, saved under a picture name;
#               PRODUCT when given, else a shell script)
#   sutil.zip   the demo utility (a program, saved under an archive name)
#   dll.zip     a real archive of libraries, libpq.dll among them, in folders
set -euo pipefail
dest=${1:?usage: make_site.sh DEST [PRODUCT]}
product=${2:-}
site="$dest/quorel"
mkdir -p "$site"
if [[ -n $product ]]; then
  cp "$product" "$site/quorel.jpg"
else
cat > "$site/quorel.jpg" <<'PRODUCT'
#!/bin/sh
# The Quorel demo product: notes that it was started, next to itself.
here=$(cd "$(dirname "$0")" && pwd)
echo "Quorel started $(date '+%Y-%m-%d %H:%M:%S') in $here" > "$here/quorel-started.txt"
PRODUCT
fi
cat > "$site/sutil.zip" <<'UTIL'
#!/bin/sh
echo "Quorel service utility (demo)"
UTIL
libs=$(mktemp -d)
trap 'rm -rf "$libs"' EXIT
mkdir -p "$libs/platforms" "$libs/sqldrivers"
for f in libpq.dll libcrypto-3.dll libssl-3.dll libintl-9.dll Qt5Core.dll Qt5Gui.dll \
         platforms/qwindows.dll sqldrivers/qsqlpsql.dll; do
  head -c $((20000 + ${#f} * 1000)) /dev/urandom > "$libs/$f"
done
echo "Árvíztűrő tükörfúrógép – Quorel demo" > "$libs/olvass el.txt"
rm -f "$site/dll.zip"
(cd "$libs" && zip -qr "$site/dll.zip" .)
echo "$site"
