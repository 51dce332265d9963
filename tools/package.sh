#!/usr/bin/env bash
# Builds the Debian package in build/package: a release build of the three
# programs and their data, then cpack. Prints the package's path last.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/setup.sh
kvarn_install "${KVARN_PACKAGES[@]}" "${KVARN_PACKAGING_PACKAGES[@]}"

build=build/package
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DKVARN_BUILD_TESTS=OFF -DKVARN_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(kvarn_jobs)"
rm -f "$build"/kvarn_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$PWD/$build"/kvarn_*.deb
