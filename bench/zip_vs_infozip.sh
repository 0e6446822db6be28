#!/usr/bin/env bash
# Whole-process times of the document stream's Zip and Unzip (bench/zip_tool) against
# Info-ZIP "zip -6" and "unzip" on the same 64 MiB of text-like data, in one run.
# Each command runs RUNS times (default 5); the best time counts. Prints the ratios.
#   bench/zip_vs_infozip.sh [path/to/zip_tool] [work folder]
set -euo pipefail
TOOL=${1:-build/bench/zip_tool}
WORK=${2:-$(mktemp -d)}
RUNS=${RUNS:-5}
TOOL=$(readlink -f "$TOOL")
mkdir -p "$WORK"
cd "$WORK"
mkdir -p "$WORK/tmp"
export TMPDIR=$WORK/tmp  # Unzip extracts "data.txt" there (and deletes it afterwards)

if [[ ! -s data.txt ]]; then
  python3 - <<'PY'
import random
random.seed(1)
words = [w.strip() for w in """lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod
tempor incididunt ut labore et dolore magna aliqua enim ad minim veniam quis nostrud exercitation
ullamco laboris nisi aliquip ex ea commodo consequat duis aute irure in reprehenderit voluptate velit
esse cillum fugiat nulla pariatur excepteur sint occaecat cupidatat non proident sunt culpa qui officia
deserunt mollit anim id est laborum page job printer invoice total customer order""".split()]
out = bytearray()
line = 0
while len(out) < 64 << 20:
    line += 1
    n = random.randint(4, 14)
    text = " ".join(random.choice(words) for _ in range(n))
    out += f"{line:08d} {random.randint(0, 99999):5d} {text}\r\n".encode()
open("data.txt", "wb").write(out[:64 << 20])
PY
fi

best() {  # best wall time in seconds of RUNS runs of the command
  local best_ns="" start end
  for ((i = 0; i < RUNS; i++)); do
    rm -f out.zip out.txt ours.zip ours.txt
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    if [[ -z "$best_ns" || $((end - start)) -lt $best_ns ]]; then best_ns=$((end - start)); fi
  done
  awk -v ns="$best_ns" 'BEGIN { printf "%.3f", ns / 1e9 }'
}

# The archives each side unpacks are made once, outside the timing.
zip -q -6 ref.zip data.txt
"$TOOL" zip data.txt ref-ours.zip

t_zip_info=$(best zip -q -6 out.zip data.txt)
t_zip_ours=$(best "$TOOL" zip data.txt ours.zip)
t_unzip_info=$(best unzip -q -o ref.zip -d unpacked)
t_unzip_ours=$(best "$TOOL" unzip ref-ours.zip ours.txt)

cmp -s data.txt unpacked/data.txt || { echo "Info-ZIP unpacked other bytes" >&2; exit 1; }
"$TOOL" unzip ref-ours.zip ours.txt && cmp -s data.txt ours.txt || { echo "Unzip gave other bytes" >&2; exit 1; }

printf 'data: %d bytes; Info-ZIP archive %d bytes, ours %d bytes\n' \
  "$(stat -c %s data.txt)" "$(stat -c %s ref.zip)" "$(stat -c %s ref-ours.zip)"
printf '%-8s %10s %10s %8s\n' step info-zip ours ratio
awk -v a="$t_zip_info" -v b="$t_zip_ours" 'BEGIN { printf "%-8s %9.3fs %9.3fs %7.2fx\n", "zip", a, b, b / a }'
awk -v a="$t_unzip_info" -v b="$t_unzip_ours" 'BEGIN { printf "%-8s %9.3fs %9.3fs %7.2fx\n", "unzip", a, b, b / a }'
