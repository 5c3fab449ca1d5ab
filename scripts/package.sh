#!/usr/bin/env bash
# Builds the Debian package (lbtools_VERSION_ARCH.deb) into the build folder and checks
# it with lintian: errors fail the build, warnings are listed.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
BUILD=${BUILD_DIR:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
(cd "$BUILD" && cpack -G DEB >/dev/null)
DEB=$(ls -t "$BUILD"/lbtools_*.deb | head -n1)
echo "package: $DEB"
if command -v lintian >/dev/null; then
  # Running as root is fine for a check of a built package.
  lintian --allow-root --no-tag-display-limit "$DEB" | tee "$BUILD/lintian.log" || true
  if grep -q '^E:' "$BUILD/lintian.log"; then
    echo "lintian reports errors" >&2
    exit 1
  fi
fi
