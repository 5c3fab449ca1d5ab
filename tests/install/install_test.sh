#!/usr/bin/env bash
# install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
BUILD=$1 SRC=$2
WORK=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR=$WORK/root cmake --install "$BUILD" --prefix /usr --strip >/dev/null
ROOT=$WORK/root/usr
for f in bin/lbtools3 bin/lbtools3-cli bin/lbregsvr bin/lbshellhost lib/lbtools/libLBShellExtention.so \
         lib/lbtools/liblbcom.so lib/lbtools/liblbplatform.so \
         lib/lbtools/libid3com.so lib/lbtools/libLBCOMExtracter.so lib/lbtools/libzu.so \
         share/doc/lbtools/lbhelp.html share/icons/hicolor/scalable/apps/lbtools.svg \
         share/icons/hicolor/48x48/apps/lbtools.png share/applications/ru.lyrabox.Tools.desktop \
         share/metainfo/ru.lyrabox.Tools.metainfo.xml share/man/man1/lbtools3-cli.1.gz; do
  [ -e "$ROOT/$f" ] || fail "missing $f"
done
# No path of the build tree is left in what was installed (libraries are found
# relative to each binary).
if grep -rl --binary-files=text "$BUILD" "$ROOT" >/dev/null; then
  fail "build paths in: $(grep -rl --binary-files=text "$BUILD" "$ROOT" | head -3)"
fi
desktop-file-validate "$ROOT/share/applications/ru.lyrabox.Tools.desktop"
appstreamcli validate --no-net --explain "$ROOT/share/metainfo/ru.lyrabox.Tools.metainfo.xml" >"$WORK/as.log" 2>&1 ||
  { cat "$WORK/as.log"; fail "appstreamcli validate"; }

# Servers registered for every user, used by a user who registered nothing.
export LBTOOLS_SYSTEM_REGISTRY_DIR=$WORK/system LBTOOLS_REGISTRY_DIR=$WORK/user
export LBTOOLS_INI=$WORK/lbtools3.ini HOME=$WORK XDG_CONFIG_HOME=$WORK/config
mkdir -p "$WORK/user"
for s in libid3com.so libLBCOMExtracter.so libzu.so; do
  "$ROOT/bin/lbregsvr" --system "$ROOT/lib/lbtools/$s" >/dev/null
done
[ -s "$WORK/system/HKCR.reg" ] || fail "no system store written"
[ ! -e "$WORK/user/HKCR.reg" ] || fail "the user's store was written"
python3 - "$WORK/song.mp3" <<'PY'
import sys
# An MPEG frame header and silence with an ID3v1 tag titled "Installed".
frame = b"\xff\xfb\x90\x00" + b"\x00" * 413
tag = b"TAG" + b"Installed".ljust(30, b"\0") + b"\0" * 30 * 2 + b"2026" + b"\0" * 30 + b"\xff"
open(sys.argv[1], "wb").write(frame * 20 + tag)
PY
"$ROOT/bin/lbtools3-cli" tags show "$WORK/song.mp3" >"$WORK/tags.txt" || fail "tags show"
grep -q "Installed" "$WORK/tags.txt" || fail "tags show printed: $(cat "$WORK/tags.txt")"
mkdir -p "$WORK/disc"
"$ROOT/bin/lbtools3-cli" extract "$WORK/disc" >"$WORK/extract.txt" 2>&1 || true
grep -qi "zu\|LBCOMExtracter\|экстракт" "$WORK/extract.txt" || fail "extract found no extracter: $(cat "$WORK/extract.txt")"
# The installed shell extension finds the program in ../../bin and starts it, which
# takes the file in a new list.
"$ROOT/bin/lbregsvr" --system "$ROOT/lib/lbtools/libLBShellExtention.so" >/dev/null
mkdir -p "$WORK/Documents"
[ -e "$LBTOOLS_INI" ] || printf '[Position]\nState=0\n' >"$LBTOOLS_INI"  # a later run: no greeting
LBTOOLS_OBJECT_NAMESPACE=install$$- LBTOOLS_TEST_DUMP=$WORK/handover.txt QT_QPA_PLATFORM=offscreen \
  "$ROOT/bin/lbshellhost" "$WORK/song.mp3" || fail "lbshellhost"
program=$(sed -n 's/^"HandleToMainWindow"="\([0-9]*\)"$/\1/p' "$WORK/user/HKCU.reg")
[ -n "$program" ] && { kill $((program >> 32)) 2>/dev/null || true; }
grep -qx "$WORK/song.mp3" "$WORK/handover.txt" || fail "hand-over: $(cat "$WORK/handover.txt" 2>&1)"
"$ROOT/bin/lbregsvr" --system -u "$ROOT/lib/lbtools/libLBShellExtention.so" >/dev/null
# Unregistered machine-wide, the classes are gone again.
for s in libid3com.so libLBCOMExtracter.so libzu.so; do
  "$ROOT/bin/lbregsvr" --system -u "$ROOT/lib/lbtools/$s" >/dev/null
done
if "$ROOT/bin/lbtools3-cli" tags show "$WORK/song.mp3" >/dev/null 2>&1; then fail "still registered"; fi

# The manual page lists exactly the commands of --help.
help_cmds=$("$ROOT/bin/lbtools3-cli" --help | sed -n 's/^  \([a-z][a-z-]*\( [a-z][a-z-]*\)\?\) .*/\1/p; s/^  \([a-z][a-z-]*\( [a-z][a-z-]*\)\?\)$/\1/p' | sort)
man_cmds=$(zcat "$ROOT/share/man/man1/lbtools3-cli.1.gz" | sed -n '/^\.TP/{n;s/^\\fB\(.*\)\\fR.*/\1/p}' | sed 's/\\-/-/g' | sort)
[ -n "$help_cmds" ] || fail "no commands in --help"
[ "$help_cmds" = "$man_cmds" ] || fail "manual page and --help differ: $(diff <(echo "$help_cmds") <(echo "$man_cmds"))"
echo "install test: 1 passed, 0 failed"
