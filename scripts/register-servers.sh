#!/usr/bin/env bash
# Registers every in-process server found in the folder (the tag component and the
# extracters) into the registry store of the current user (or $LBTOOLS_REGISTRY_DIR).
set -euo pipefail
BIN=${1:?usage: register-servers.sh BIN_DIR}
for lib in libid3com.so libLBCOMExtracter.so libzu.so libLBShellExtention.so; do
  if [ -f "$BIN/$lib" ]; then
    "$BIN/lbregsvr" "$BIN/$lib" >/dev/null
  fi
done
