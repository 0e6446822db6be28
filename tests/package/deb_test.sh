#!/usr/bin/env bash
# Tests of packaging/: the Debian package the deb target builds.
# Installs the Debian package into this machine, checks it as a user would, and
# removes it again. Needs root, since it runs dpkg: `make deb-test` and .ci/run
# call it; the plain `make test` does not.
#   tests/package/deb_test.sh PACKAGE.deb JNLP_HOST
# JNLP_HOST is the host the package was built with (VTO_JNLP_HOST).
set -uo pipefail

deb=$1
url="https://$2/webservices/vtqz/webstart/vto.jnlp"
pkg=$(dpkg-deb -f "$deb" Package) || exit 2
entry=/usr/share/applications/LaunchVeltraOnline.desktop
page=/usr/share/man/man1/LaunchVeltraOnline.1.gz

# Every file the package brings.
expected="usr/bin/LaunchVeltraOnline
usr/share/applications/LaunchVeltraOnline.desktop
usr/share/doc/launchveltraonline/README.md
usr/share/doc/launchveltraonline/changelog.gz
usr/share/doc/launchveltraonline/copyright
usr/share/icons/hicolor/128x128/apps/LaunchVeltraOnline.png
usr/share/icons/hicolor/16x16/apps/LaunchVeltraOnline.png
usr/share/icons/hicolor/24x24/apps/LaunchVeltraOnline.png
usr/share/icons/hicolor/256x256/apps/LaunchVeltraOnline.png
usr/share/icons/hicolor/32x32/apps/LaunchVeltraOnline.png
usr/share/icons/hicolor/48x48/apps/LaunchVeltraOnline.png
usr/share/icons/hicolor/64x64/apps/LaunchVeltraOnline.png
usr/share/icons/hicolor/scalable/apps/LaunchVeltraOnline.svg
usr/share/man/man1/LaunchVeltraOnline.1.gz"

if [[ $(id -u) -ne 0 ]]; then
  echo "deb_test: needs root (it installs $deb with dpkg)" >&2
  exit 2
fi
if [[ $(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null) == installed ]]; then
  echo "deb_test: $pkg is installed on this machine already; remove it first" >&2
  exit 2
fi

work=$(mktemp -d)
installed=0
trap '((installed)) && dpkg -r "$pkg" >/dev/null 2>&1; rm -rf "$work"' EXIT

passed=0
failed=0
check() {
  local name=$1
  shift
  if "$@"; then
    echo "ok: $name"
    passed=$((passed + 1))
  else
    echo "FAIL: $name"
    failed=$((failed + 1))
  fi
}

package_files() {
  dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./||' | sort
}

lintian_has_no_error() {
  lintian --fail-on error --display-info "$deb" >"$work/out" 2>&1
  local rc=$?
  grep -v 'root privileges' "$work/out"
  return $rc
}

installs_its_files() {
  dpkg -i "$deb" >"$work/out" 2>&1 || { cat "$work/out"; return 1; }
  installed=1
  diff <(echo "$expected") <(package_files) || return 1
  local f
  for f in $expected; do
    [[ -f /$f ]] || { echo "not installed: /$f"; return 1; }
  done
}

program_is_stripped() {
  file -b /usr/bin/LaunchVeltraOnline | grep -q ', stripped'
}

icons_have_their_sizes() {
  local png size
  for png in /usr/share/icons/hicolor/*x*/apps/LaunchVeltraOnline.png; do
    size=${png#/usr/share/icons/hicolor/}
    size=${size%%x*}
    file -b "$png" | grep -q "PNG image data, $size x $size," || { file "$png"; return 1; }
  done
  local icon
  icon=$(sed -n 's/^Icon=//p' "$entry")
  [[ -f /usr/share/icons/hicolor/scalable/apps/$icon.svg ]] || { echo "no icon $icon"; return 1; }
}

entry_validates() {
  # Hints (such as two main categories) are no fault; errors and warnings are.
  desktop-file-validate "$entry" >"$work/out" 2>&1
  local rc=$?
  cat "$work/out"
  ((rc == 0)) && ! grep -Eq ': (error|warning):' "$work/out"
}

entry_starts_javaws_with_the_url() {
  # A private PATH: a fake javaws that records its arguments, then the
  # installed launcher; no openws anywhere. No network either, so that a
  # launcher that misses the fake cannot reach out for the download.
  mkdir -p "$work/fake" "$work/bin" "$work/java" "$work/home"
  printf '#!/bin/sh\nprintf "%%s\\n" "$#" "$@" >"%s"\n' "$work/args" >"$work/fake/javaws"
  chmod +x "$work/fake/javaws"
  ln -s /usr/bin/LaunchVeltraOnline "$work/bin/LaunchVeltraOnline"
  unshare -n env -i HOME="$work/home" PATH="$work/fake:$work/bin" JAVA_HOME="$work/java" \
    /usr/bin/gio launch "$entry" >"$work/out" 2>&1 || { cat "$work/out"; return 1; }
  # Neither gio nor the launcher waits for what it starts.
  local want i
  want=$(printf '1\n%s' "$url")
  for ((i = 0; i < 100; i++)); do
    [[ -s $work/args && $(<"$work/args") == "$want" ]] && return 0
    sleep 0.1
  done
  echo "javaws was started with (count, then arguments):"
  cat "$work/args" 2>/dev/null || echo "(never started)"
  cat "$work/out"
  return 1
}

manual_page_renders() {
  [[ $(env -i PATH=/usr/bin:/bin man -w LaunchVeltraOnline) == "$page" ]] || return 1
  MANWIDTH=80 man --warnings -l "$page" >"$work/out" 2>"$work/err"
  cat "$work/err"
  [[ ! -s $work/err ]] && grep -q '^SYNOPSIS' "$work/out" && grep -qF "$url" "$work/out"
}

removes_every_file() {
  dpkg -r "$pkg" >"$work/out" 2>&1 || { cat "$work/out"; return 1; }
  installed=0
  local f left=0
  for f in $expected; do
    [[ -e /$f ]] && { echo "left behind: /$f"; left=1; }
  done
  [[ -e /usr/share/doc/$pkg ]] && { echo "left behind: /usr/share/doc/$pkg"; left=1; }
  [[ $(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null) != installed ]] && ((left == 0))
}

check "lintian reports no error" lintian_has_no_error
check "dpkg -i installs the package's files" installs_its_files
if ((installed)); then
  check "the installed program is stripped" program_is_stripped
  check "the icons have the sizes of their folders" icons_have_their_sizes
  check "desktop-file-validate passes on the entry" entry_validates
  check "gio launch of the entry starts javaws with $url" entry_starts_javaws_with_the_url
  check "man finds and renders the page" manual_page_renders
  check "dpkg -r removes every file" removes_every_file
fi
echo "deb_test: $passed passed, $failed failed"
((failed == 0))
