#!/usr/bin/env bash
# Tests of packaging/windows/: the installer the windows-installer target builds.
# Installs it silently into a Wine prefix of its own, for all users and then for
# the current user; each time the Start-menu shortcut must start the program,
# which starts a fake javaws.exe from the prefix's PATH with the built-in URL;
# the silent uninstall must leave nothing behind.
#   tests/package/nsis_test.sh SETUP.exe JNLP_HOST
set -uo pipefail

setup=$(realpath "$1")
url="https://$2/webservices/vtqz/webstart/vto.jnlp"
here=$(cd "$(dirname "$0")" && pwd)
run=$here/../../scripts/wine-run.sh
work=$(mktemp -d)
export VTO_WINEPREFIX=$work/prefix
trap 'WINEPREFIX=$VTO_WINEPREFIX wineserver -k >/dev/null 2>&1; rm -rf "$work"' EXIT
drive=$VTO_WINEPREFIX/drive_c
user=${USER:-$(id -un)}

passed=0
failed=0
check() {
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $name" >&2
  fi
}
# Waits up to ten seconds for a condition (the uninstaller and the launcher
# both go on after the call that started them has returned).
within() {
  local i
  for ((i = 0; i < 100; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
exists() { [[ -e $1 ]]; }
gone() { [[ ! -e $1 ]]; }
same_text() { [[ -f $1 && $(cat "$1") == "$2" ]]; }
registry_has() { "$run" reg query "$1" >/dev/null 2>&1; }
registry_lacks() { ! registry_has "$1"; }

# The prefix made; the fake Java launcher in a folder on its PATH; what the
# prefix holds before anything is installed (its temporary folders aside).
"$run" cmd /c exit || exit 2
mkdir -p "$drive/fakejava"
x86_64-w64-mingw32-gcc-posix -O2 -o "$drive/fakejava/javaws.exe" "$here/fake_javaws.c" || exit 2
export WINEPATH='C:\fakejava'
snapshot() { (cd "$drive" && find . -path './users/*/Temp' -prune -o -print | sort); }
before=$(snapshot)

key='Software\Microsoft\Windows\CurrentVersion\Uninstall\LaunchVeltraOnline'
for mode in AllUsers CurrentUser; do
  if [[ $mode == AllUsers ]]; then
    dir="$drive/Program Files/Veltra Online"
    menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs"
    hive=HKLM
  else
    dir="$drive/users/$user/AppData/Local/Programs/Veltra Online"
    menu="$drive/users/$user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
    hive=HKCU
  fi
  check "$mode: the installer ends well" "$run" "$setup" /S "/$mode"
  check "$mode: the program" exists "$dir/bin/LaunchVeltraOnline.exe"
  check "$mode: the OpenSSL licence" exists "$dir/doc/OpenSSL-LICENSE.txt"
  check "$mode: the uninstaller" exists "$dir/Uninstall.exe"
  check "$mode: the Start-menu shortcut" exists "$menu/Veltra Online.lnk"
  check "$mode: registered for removal" registry_has "$hive\\$key"

  # Started from the Start menu, it finds javaws.exe on PATH and hands it the URL.
  out=$work/javaws-$mode.txt
  lnk=$(WINEPREFIX=$VTO_WINEPREFIX winepath -w "$menu/Veltra Online.lnk" 2>/dev/null)
  VTO_FAKE_JAVAWS_OUT=$(WINEPREFIX=$VTO_WINEPREFIX winepath -w "$out" 2>/dev/null) \
    "$run" start /wait "$lnk"
  check "$mode: the shortcut starts javaws.exe with the URL" within same_text "$out" "$url"

  check "$mode: the silent uninstall ends well" "$run" "$dir/Uninstall.exe" "/$mode" /S
  check "$mode: the folder is gone" within gone "$dir"
  check "$mode: the shortcut is gone" gone "$menu/Veltra Online.lnk"
  check "$mode: no longer registered" registry_lacks "$hive\\$key"
done
after=$(snapshot)
check "nothing is left in the prefix" [ "$before" == "$after" ]
[[ $before == "$after" ]] || diff <(echo "$before") <(echo "$after") >&2

echo "nsis_test: $passed passed, $failed failed"
((failed == 0))
