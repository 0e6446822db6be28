#!/usr/bin/env bash
# The help box as a real GTK dialog on a virtual X display: the window carries the
# application title, and Esc closes it and lets the program end with code 0.
# With SCREENSHOT=file.png the screen is saved while the dialog is up.
set -euo pipefail
launcher=$1
for tool in Xvfb xwininfo xdotool; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/setup.sh --test installs it)"; exit 1; }
done

display=""
for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X${n}-lock" ] && [ ! -e "/tmp/.X11-unix/X${n}" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "no free display"; exit 1; }

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() { kill "$xvfb" 2>/dev/null || true; [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true; }
trap cleanup EXIT
export DISPLAY=$display
for _ in $(seq 100); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done

"$launcher" -h 2>"${TMPDIR:-/tmp}/vto-gtk-stderr.$$" &
app=$!

# GTK also makes a hidden leader window of the same name: look for the one on screen.
window=""
for _ in $(seq 300); do
  for w in $(xdotool search --name '^Launchveltraonline$' 2>/dev/null || true); do
    if xwininfo -id "$w" | grep -q 'Map State: IsViewable'; then window=$w; break; fi
  done
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "FAIL: no dialog titled Launchveltraonline on screen"; xwininfo -root -tree; exit 1; }
sleep 0.5
if [ -n "${SCREENSHOT:-}" ]; then import -window root "$SCREENSHOT"; fi

# Still waiting for the user: the box is modal.
kill -0 "$app" || { echo "FAIL: the program did not wait for the box"; exit 1; }
# On a loaded machine the first key can arrive before the box has the focus:
# press again each second until it closes.
for _ in $(seq 20); do
  xdotool windowfocus --sync "$window" 2>/dev/null || true
  xdotool key Escape
  for _ in $(seq 10); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$app" 2>/dev/null || break
done
if kill -0 "$app" 2>/dev/null; then echo "FAIL: Esc did not close the box"; exit 1; fi
set +e
wait "$app"
rc=$?
set -e
app=""
[ "$rc" -eq 0 ] || { echo "FAIL: exit code $rc"; exit 1; }
# With a display nothing goes to standard error.
if [ -s "${TMPDIR:-/tmp}/vto-gtk-stderr.$$" ]; then
  echo "FAIL: output on standard error:"; cat "${TMPDIR:-/tmp}/vto-gtk-stderr.$$"; rm -f "${TMPDIR:-/tmp}/vto-gtk-stderr.$$"; exit 1
fi
rm -f "${TMPDIR:-/tmp}/vto-gtk-stderr.$$"
echo "1 passed, 0 failed"
