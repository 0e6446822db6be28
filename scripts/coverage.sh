#!/usr/bin/env bash
# Line coverage of the whole test suite, per library folder.
#   scripts/coverage.sh            build into build-cov (gcc --coverage), run every test, report
#   COV_BUILD=<dir> COV_JOBS=<n>   another build folder / parallel jobs
#   scripts/coverage.sh --report   only the report of the last run
# Exits non-zero when a test failed (the table is printed all the same).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${COV_BUILD:-build-cov}
jobs=${COV_JOBS:-$(nproc)}
status=0

if [[ "${1:-}" != "--report" ]]; then
  # Atomic counters: the tests run threads, and racing counts can go negative.
  cmake -S . -B "$build" -DVTO_COVERAGE=ON -DVTO_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS=-fprofile-update=atomic >/dev/null
  cmake --build "$build" -j "$jobs"
  find "$build" -name '*.gcda' -delete
  (cd "$build" && ctest --output-on-failure --timeout 120 -j "$jobs" >ctest.log 2>&1) || status=$?
  tail -n 3 "$build/ctest.log"
fi

gcovr -r . --object-directory "$build" --filter '(desktop|launcher|qelstream|zip|net|http)/' \
  --exclude-unreachable-branches --gcov-ignore-parse-errors --json-summary "$build/coverage.json" >/dev/null
python3 - "$build/coverage.json" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
folders = {}
for f in data["files"]:
    top = f["filename"].split("/")[0]
    covered, total = folders.get(top, (0, 0))
    folders[top] = (covered + f["line_covered"], total + f["line_total"])
print(f"{'folder':<12}{'lines':>8}{'covered':>9}{'percent':>9}")
for top in sorted(folders):
    covered, total = folders[top]
    print(f"{top:<12}{total:>8}{covered:>9}{100.0 * covered / max(total, 1):>8.1f}%")
covered = sum(c for c, _ in folders.values())
total = sum(t for _, t in folders.values())
print(f"{'all':<12}{total:>8}{covered:>9}{100.0 * covered / max(total, 1):>8.1f}%")
PY
exit $status
