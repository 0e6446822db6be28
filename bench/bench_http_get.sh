#!/usr/bin/env bash
# Builds and runs the whole-process download benchmark: the HTTP client's Get
# into a memory stream against curl -s -o /dev/null, both from one nginx on
# loopback, over https and http, with a Content-Length and chunked.
#   bench/bench_http_get.sh [build-dir] [size-in-bytes] [runs]
# The figure of record uses 268435456 bytes (256 MiB).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-rel}
size=${2:-268435456}
runs=${3:-3}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target bench_http_get >/dev/null
"$build/bench/bench_http_get" --size="$size" --runs="$runs"
