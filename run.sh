#!/usr/bin/env bash
# Installs what is missing, builds the program, registers its servers in the user's
# registry store and starts it.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
BUILD=${BUILD_DIR:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
./scripts/register-servers.sh "$BUILD/bin"
exec "$BUILD/bin/lbtools3-cli" "${@:---help}"
