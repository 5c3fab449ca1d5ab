#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
BUILD=${BUILD_DIR:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
# The servers register with lbregsvr, here into a throw-away registry store (the tests
# register them again into their own private stores).
REG=$(mktemp -d)
LBTOOLS_REGISTRY_DIR=$REG ./scripts/register-servers.sh "$BUILD/bin"
rm -rf "$REG"
# The Debian package is built and checked with every run.
BUILD_DIR=$BUILD ./scripts/package.sh
cd "$BUILD"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
