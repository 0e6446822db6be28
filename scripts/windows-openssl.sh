#!/usr/bin/env bash
# Cross-builds Debian's OpenSSL 3 source for 64-bit Windows (static libraries and
# headers) and stages it under DEST. A stage of the same Debian version is reused.
#   scripts/windows-openssl.sh DEST
set -euo pipefail
dest=$(realpath -m "${1:?usage: windows-openssl.sh DEST}")
sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"

# The source of the OpenSSL this Debian ships: a deb-src entry beside the deb one.
if ! apt-cache showsrc openssl 2>/dev/null | grep -q '^Version:'; then
  src_list=/etc/apt/sources.list.d/vto-deb-src.sources
  main=/etc/apt/sources.list.d/debian.sources
  if [[ -f $main ]]; then
    sed 's/^Types: deb$/Types: deb-src/' "$main" | $sudo tee "$src_list" >/dev/null
  else
    grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' | $sudo tee /etc/apt/sources.list.d/vto-deb-src.list >/dev/null
  fi
  $sudo apt-get update -qq
fi
versions=$(apt-cache showsrc openssl | sed -n 's/^Version: //p' | sort -rV)
if [[ -f $dest/.version ]] && grep -qxF "$(cat "$dest/.version")" <<<"$versions"; then
  exit 0
fi

# The newest source the archive still serves (a mirror may list a version it
# no longer holds).
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
version=""
for v in $versions; do
  if (cd "$work" && apt-get source --download-only -qq "openssl=$v" >/dev/null 2>&1); then
    version=$v
    break
  fi
  rm -f "$work"/openssl_*
done
[[ -n $version ]] || { echo "no OpenSSL source could be fetched" >&2; exit 1; }
(cd "$work" && dpkg-source -x --no-check openssl_*.dsc src >/dev/null)
cd "$work/src"
./Configure mingw64 --cross-compile-prefix=x86_64-w64-mingw32- --prefix=/ --libdir=lib \
  no-shared no-tests no-engine no-legacy no-capieng no-comp no-ssl3 >/dev/null
make -j"$(nproc)" build_libs >/dev/null
rm -rf "$dest"
make install_dev DESTDIR="$dest" >/dev/null
cp LICENSE.txt "$dest/LICENSE.txt"
echo "$version" >"$dest/.version"
