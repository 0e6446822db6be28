#!/usr/bin/env bash
# Runs a Windows program under Wine for the tests: a private prefix (made on
# first use, null graphics driver, no menu builder mirroring associations into
# the Linux desktop), one persistent server for a whole test run.
#   VTO_WINEPREFIX   the prefix (default: build-windows/wineprefix)
#   VTO_WINE_DISPLAY set to use the X display in DISPLAY instead of the null driver
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${VTO_WINEPREFIX:-$here/../build-windows/wineprefix}
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mshtml=;mscoree="
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
wine=/usr/lib/wine/wine64
[[ -x $wine ]] || wine=wine64

mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [[ ! -f $WINEPREFIX/.vto-ready ]]; then
    rm -rf "$WINEPREFIX"
    "$wine" wineboot -i >/dev/null 2>&1 </dev/null
    wineserver -w
    # Boxes need no X server: Wine's null driver draws nothing and answers.
    if [[ -z ${VTO_WINE_DISPLAY:-} ]]; then
      "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 </dev/null
    fi
    wineserver -w
    touch "$WINEPREFIX/.vto-ready"
  fi
) 9>"$WINEPREFIX.lock"

# A server that outlives each program keeps a start at a fraction of a second;
# it goes 60 s after the last program. (A second start while one runs is a no-op.)
wineserver -p60 >/dev/null 2>&1 </dev/null || true

# Wine's background services keep the standard streams of the process that
# started them: the program writes to files, and they are passed on after it.
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
[[ -z ${VTO_WINE_DISPLAY:-} ]] && unset DISPLAY WAYLAND_DISPLAY
"$wine" "$@" >"$out" 2>"$err" </dev/null
rc=$?
# Now and then (about one start in two thousand, with both cores busy) a start
# under Wine ends at once with a failure and not one byte written, before the
# program has run: that start is said and made once more. A program that ran
# and failed has written something (a test at least its first line), and a
# start that fails twice is the program's own failure.
if ((rc != 0)) && [[ ! -s $out && ! -s $err ]]; then
  echo "wine-run: $1 ended with status $rc before writing anything; starting it once more" >&2
  "$wine" "$@" >"$out" 2>"$err" </dev/null
  rc=$?
fi
cat "$out"
cat "$err" >&2
exit $rc
