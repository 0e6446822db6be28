#!/usr/bin/env bash
# Installs the Debian packages the project needs, and only those that are missing.
#   scripts/setup.sh          build and run-time packages
#   scripts/setup.sh --test   also the servers and tools the tests use
#   scripts/setup.sh --fuzz   also the fuzzing compiler and the coverage report tool
#   scripts/setup.sh --deb    also the tools that build and check the Debian package
#   scripts/setup.sh --windows the cross compiler, Wine and the tests' servers
set -euo pipefail

packages=(build-essential cmake pkg-config libssl-dev zlib1g-dev libgtk-3-dev
          libgtest-dev libgmock-dev libbenchmark-dev)
if [[ "${1:-}" == "--test" || "${1:-}" == "--windows" ]]; then
  packages+=(nginx openssl zip unzip python3 xvfb xauth imagemagick x11-utils xdotool curl gnutls-bin dbus-daemon)
fi
if [[ "${1:-}" == "--deb" ]]; then
  # rsvg-convert draws the PNG icons; file and dpkg-shlibdeps find the libraries
  # linked; gio launches the installed menu entry; man renders the manual page.
  packages+=(librsvg2-bin dpkg-dev file lintian desktop-file-utils libglib2.0-bin man-db)
fi
if [[ "${1:-}" == "--windows" ]]; then
  # dpkg-dev unpacks OpenSSL's source for its cross build; nsis makes the installer.
  packages+=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64 dpkg-dev nsis)
fi
if [[ "${1:-}" == "--fuzz" ]]; then
  packages+=(clang-14 libfuzzer-14-dev gcovr)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
