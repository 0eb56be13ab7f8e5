#!/usr/bin/env bash
# Installs a built tree into a scratch prefix, builds the example against it
# with find_package(arcfold), and runs it on an archive made by zip.
#   check_installed_package.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?build dir}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work="$build/example-package"
rm -rf "$work"
mkdir -p "$work/src/sub"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
# A sanitized tree's library needs the sanitizers' runtimes in the program too.
flags=""
grep -q '^ARCFOLD_SANITIZE:BOOL=ON' "$build/CMakeCache.txt" && flags="-fsanitize=address,undefined"
cmake -S "$here/list_and_extract" -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$work/build" >/dev/null
printf 'alpha\n' >"$work/src/a.txt"
printf 'beta\n' >"$work/src/sub/b.txt"
(cd "$work/src" && zip -qr "$work/t.zip" .)
"$work/build/list_and_extract" "$work/t.zip" "$work/out"
cmp "$work/src/a.txt" "$work/out/a.txt"
cmp "$work/src/sub/b.txt" "$work/out/sub/b.txt"
echo "example built against the installed package and extracted the archive"
