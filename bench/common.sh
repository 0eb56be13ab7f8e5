# Shared helpers of the benchmark scripts (sourced).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tool="${ARCFOLD_TOOL:-$root/build/release/tools/arcfold}"
[[ -x $tool ]] || { echo "build first: cmake --preset release && cmake --build --preset release" >&2; exit 1; }
seven=$(command -v 7zz || command -v 7z || true)
scratch=${BENCH_DIR:-/dev/shm/arcfold-bench}
mkdir -p "$scratch"

# best_of N cmd...: prints the best wall time in seconds of N runs.
best_of() {
  local n=$1; shift
  local best=""
  for ((i = 0; i < n; i++)); do
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s.%N)
    local t
    t=$(echo "$t1 - $t0" | bc -l)
    if [[ -z $best ]] || (($(echo "$t < $best" | bc -l))); then best=$t; fi
  done
  printf '%.4f' "$best"
}

# peak_kb cmd...: peak resident memory in KiB.
peak_kb() { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -1; }

ratio() { printf '%.2f' "$(echo "$1 / $2" | bc -l)"; }

# make_small_tree DIR: 20,000 small text files of numbers in 40 folders.
make_small_tree() {
  python3 - "$1" <<'PY'
import os, random, sys
root = sys.argv[1]
rnd = random.Random(1)
for i in range(20000):
    d = os.path.join(root, f"dir{i // 500}")
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, f"file{i}.txt"), "w") as f:
        f.write(" ".join(str(rnd.randint(0, 10**6)) for _ in range(rnd.randint(10, 400))))
PY
}

# make_big_file PATH: one 512 MB file, half text, half random: neither all
# compressible nor all not. (seq ends on SIGPIPE when head has enough: not
# a failure here.)
make_big_file() {
  { seq 1 40000000 | head -c 268435456 || true; head -c 268435456 /dev/urandom; } > "$1.part"
  mv "$1.part" "$1"
}
