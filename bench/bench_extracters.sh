#!/bin/bash
# bench_extracters.sh BUILD_BIN_DIR: the disc-catalog extracters of types 2 and 3 on a
# catalog of about 11 MB, one song and 30 songs through `lbtools3-cli recognize`. Run
# by hand (never by ctest).
set -eu
BIN=${1:?usage: bench_extracters.sh BUILD_BIN_DIR}
WORK=$(mktemp -d /tmp/bench-extracters.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
export LBTOOLS_REGISTRY_DIR=$WORK/registry LBTOOLS_INI=$WORK/lbtools3.ini
"$BIN/lbregsvr" "$BIN/libLBCOMExtracter.so" >/dev/null

/usr/bin/python3 - "$WORK" <<'PY'
import os, sys
w = sys.argv[1]
# Type 3: 280,000 keys in the songs' own section.
d3 = os.path.join(w, "disc3"); os.makedirs(os.path.join(d3, "CD"))
with open(os.path.join(d3, "tracker.ini"), "w") as f:
    f.write("[Main]\r\nCD=Album\r\n[CD]\r\n")
    for k in range(140000):
        f.write("SndFile%d=D:\\CD\\Track%06d.mp3\r\nSound%d=Title number %d of the disc\r\n" % (k, k, k, k))
# Type 2: an album list of 11 MB, 30 songs in folder 12.
d2 = os.path.join(w, "disc2"); os.makedirs(os.path.join(d2, "setup")); os.makedirs(os.path.join(d2, "mus&song", "12"))
with open(os.path.join(d2, "setup", "dir.www"), "w") as f:
    for k in range(340000):
        f.write("Album number %d of the disc\r\n" % k)
with open(os.path.join(d2, "mus&song", "12", "Zz12.www"), "w") as f:
    for k in range(1, 31):
        f.write("Song %d\r\n" % k)
for n, (folder, fmt) in enumerate([(os.path.join(d3, "CD"), "Track%06d.mp3"),
                                   (os.path.join(d2, "mus&song", "12"), "%02d.mp3")]):
    with open(os.path.join(w, "list%d.m3u" % (3 if n == 0 else 2)), "w") as f:
        for k in range(1, 31):
            f.write(os.path.join(folder, fmt % (k * 4500 if n == 0 else k)) + "\r\n")
PY

# The difference between 30 songs and one is the cost of the songs beyond reading the
# catalog (a busy machine stretches both alike).
for type in 3 2; do
  catalog=$WORK/disc$type/tracker.ini
  [ $type = 2 ] && catalog=$WORK/disc2/setup/dir.www
  for rows in 1 1-30; do
    start=$(date +%s%N)
    "$BIN/lbtools3-cli" recognize "$WORK/list$type.m3u" "$WORK/disc$type" \
        --class LBCOMExtracter.LBExtracterType$type --rows $rows >/dev/null
    echo "type $type, $(stat -c %s "$catalog") bytes, rows $rows: $(( ($(date +%s%N) - start) / 1000000 )) ms"
  done
done
