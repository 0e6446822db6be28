#!/usr/bin/env bash
# Whole-process times of the document stream's Zip and Unzip (bench/zip_tool) against
# Info-ZIP "zip -6" and "unzip" on the same 64 MiB of text-like data, in one run.
# The four commands take turns, RUNS rounds (default 7), so that a busy machine
# slows each side alike; the median of the rounds counts, for the wall time and for
# the processor time (user + system). Prints the ratios, and checks that our entry
# holds exactly the raw DEFLATE data of zlib's default level.
#   bench/zip_vs_infozip.sh [path/to/zip_tool] [work folder]
set -euo pipefail
TOOL=${1:-build/bench/zip_tool}
WORK=${2:-$(mktemp -d)}
RUNS=${RUNS:-7}
TOOL=$(readlink -f "$TOOL")
mkdir -p "$WORK"
cd "$WORK"
mkdir -p "$WORK/tmp"
export TMPDIR=$WORK/tmp  # Unzip works there (and leaves nothing behind)

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

# The archives each side unpacks are made once, outside the timing.
zip -q -6 ref.zip data.txt
"$TOOL" zip data.txt ref-ours.zip

python3 - ref-ours.zip data.txt <<'PY' || { echo "Zip's data is not zlib's default level" >&2; exit 1; }
import struct, sys, zlib
z = open(sys.argv[1], "rb").read()
size, = struct.unpack_from("<I", z, 18)
name, extra = struct.unpack_from("<HH", z, 26)
c = zlib.compressobj(zlib.Z_DEFAULT_COMPRESSION, zlib.DEFLATED, -15)
want = c.compress(open(sys.argv[2], "rb").read()) + c.flush()
sys.exit(0 if z[30 + name + extra:30 + name + extra + size] == want else 1)
PY

declare -A wall cpu
timed() {  # appends "wall cpu" of one run of the command to the named series
  local key=$1
  shift
  rm -f out.zip ours.zip ours.txt
  rm -rf unpacked
  local t
  t=$({ TIMEFORMAT='%3R %3U %3S'; time "$@" >/dev/null 2>&1; } 2>&1)
  read -r r u s <<<"$t"
  wall[$key]+="$r "
  cpu[$key]+="$(awk -v u="$u" -v s="$s" 'BEGIN { printf "%.3f", u + s }') "
}
median() { tr ' ' '\n' <<<"$1" | grep . | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

for ((i = 0; i < RUNS; i++)); do
  timed zip_info zip -q -6 out.zip data.txt
  timed zip_ours "$TOOL" zip data.txt ours.zip
  timed unzip_info unzip -q -o ref.zip -d unpacked
  timed unzip_ours "$TOOL" unzip ref-ours.zip ours.txt
done

unzip -q -o ref.zip -d unpacked
cmp -s data.txt unpacked/data.txt || { echo "Info-ZIP unpacked other bytes" >&2; exit 1; }
"$TOOL" unzip ref-ours.zip ours.txt && cmp -s data.txt ours.txt || { echo "Unzip gave other bytes" >&2; exit 1; }

printf 'data: %d bytes; Info-ZIP archive %d bytes, ours %d bytes; %d rounds, medians\n' \
  "$(stat -c %s data.txt)" "$(stat -c %s ref.zip)" "$(stat -c %s ref-ours.zip)" "$RUNS"
printf '%-8s %10s %10s %8s   %10s %10s %8s\n' step "wall zip" ours ratio "cpu zip" ours ratio
for step in zip unzip; do
  awk -v n="$step" -v a="$(median "${wall[${step}_info]}")" -v b="$(median "${wall[${step}_ours]}")" \
    -v c="$(median "${cpu[${step}_info]}")" -v d="$(median "${cpu[${step}_ours]}")" \
    'BEGIN { printf "%-8s %9.3fs %9.3fs %7.2fx   %9.3fs %9.3fs %7.2fx\n", n, a, b, b / a, c, d, d / c }'
done
