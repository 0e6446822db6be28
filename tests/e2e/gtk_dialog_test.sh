#!/usr/bin/env bash
# Tests of desktop/LinuxDesktop.cpp's GTK dialogs, through the built program.
# Real GTK dialogs on a virtual X display: the help box carries the application
# title and no icon, the download error box the caption "Error" and the error
# icon (seen in a picture of the box); Esc closes each and the program ends with
# code 0. With SCREENSHOT=file.png the screen is saved while each box is up.
set -euo pipefail
launcher=$1
for tool in Xvfb xwininfo xdotool; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/setup.sh --test installs it)"; exit 1; }
done

# Xvfb picks a free display itself and names it once it takes connections, so
# that no other server (one still going away, one of another run) can be the
# one the boxes land on.
displayfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$displayfile" >/dev/null 2>&1 &
xvfb=$!
cleanup() { kill "$xvfb" 2>/dev/null || true; [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true; rm -f "$displayfile"; }
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$displayfile" ] && break; sleep 0.1; done
[ -s "$displayfile" ] || { echo "FAIL: Xvfb did not start"; exit 1; }
export DISPLAY=":$(tr -d '[:space:]' < "$displayfile")"

# Shows one box of the launcher (arguments after the title), checks it is up and
# modal, saves its picture to $shot, closes it with Esc, and checks a clean exit.
run_box() {
  local title=$1 shot=$2; shift 2
  local err="${TMPDIR:-/tmp}/vto-gtk-stderr.$$"
  # No Java launcher anywhere it searches: the download runs.
  env PATH=/nonexistent-vto JAVA_HOME=/nonexistent-vto "$launcher" "$@" 2>"$err" &
  app=$!
  # GTK also makes a hidden leader window of the same name: look for the one on screen.
  local window="" start=$SECONDS
  # A first GTK start on a fresh machine builds its font caches: give it a minute.
  for _ in $(seq 600); do
    for w in $(xdotool search --name "^${title}\$" 2>/dev/null || true); do
      if xwininfo -id "$w" | grep -q 'Map State: IsViewable'; then window=$w; break; fi
    done
    [ -n "$window" ] && break
    sleep 0.1
  done
  if [ -z "$window" ]; then
    echo "FAIL: no dialog titled $title on screen after $((SECONDS - start)) s"
    kill -0 "$app" 2>/dev/null && echo "(the program still runs)" || echo "(the program has ended)"
    echo "its standard error:"; cat "$err"
    xwininfo -root -tree
    exit 1
  fi
  sleep 0.5
  import -window "$window" "$shot"
  if [ -n "${SCREENSHOT:-}" ]; then import -window root "${SCREENSHOT%.png}-$title.png"; fi

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
  if kill -0 "$app" 2>/dev/null; then echo "FAIL: Esc did not close the $title box"; exit 1; fi
  set +e
  wait "$app"
  local rc=$?
  set -e
  app=""
  [ "$rc" -eq 0 ] || { echo "FAIL: exit code $rc after the $title box"; exit 1; }
  # With a display nothing goes to standard error.
  if [ -s "$err" ]; then
    echo "FAIL: output on standard error:"; cat "$err"; rm -f "$err"; exit 1
  fi
  rm -f "$err"
}

# The pixels of a strong red, the error icon's colour, in a picture of a box.
red_pixels() {
  convert "$1" -depth 8 rgb:- | python3 -c '
import sys
b = sys.stdin.buffer.read()
print(sum(1 for i in range(0, len(b) - 2, 3) if b[i] > 150 and b[i + 1] < 70 and b[i + 2] < 70))'
}

shots=$(mktemp -d)
trap 'cleanup; rm -rf "$shots"' EXIT

# The help box: the application title, no icon.
run_box Launchveltraonline "$shots/help.png" -h
[ "$(red_pixels "$shots/help.png")" -eq 0 ] || { echo "FAIL: the help box shows an icon"; exit 1; }

# The download error: caption "Error" and the error icon (nothing listens on port 1).
run_box Error "$shots/error.png" -u https://127.0.0.1:1/vto.jnlp
red=$(red_pixels "$shots/error.png")
[ "$red" -gt 300 ] || { echo "FAIL: the error box shows no error icon ($red red pixels)"; exit 1; }

echo "2 passed, 0 failed"
