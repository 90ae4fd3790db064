#!/usr/bin/env bash
# `bramvell learn` on a program folder whose disk fills: a small tmpfs, mounted in a private mount
# namespace of this script's own, is the program folder. Learning must stop with an error naming the
# file (not a signal), and what it leaves must load with bucket counts matching the token records;
# learning and classifying again must work on it. The chi-square store learns beside the word tables on
# the same full disk and must report it, not die of SIGBUS in its mapped lock file.
#
#   learn-disk-full.sh BRAMVELL TRAIN_DIR
set -euo pipefail
program=$1
train=$2
if [[ $(id -u) -ne 0 ]]; then
  echo "SKIPPED: the full-disk test needs root (it mounts a tmpfs in a private mount namespace)"
  exit 77
fi
command -v unshare >/dev/null 2>&1 && command -v python3 >/dev/null 2>&1 || {
  echo "SKIPPED: the full-disk test needs unshare and python3"
  exit 77
}

if [[ ${BRAMVELL_IN_NAMESPACE:-} != 1 ]]; then
  # The mount lives and dies with the namespace: nothing to unmount when the script ends any way.
  exec env BRAMVELL_IN_NAMESPACE=1 unshare -m --propagation private bash "$0" "$@"
fi

work=$(mktemp -d /tmp/bramvell-diskfull.XXXXXX)
trap 'umount "$work/home" 2>/dev/null || true; rm -rf "$work"' EXIT
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

mkdir -m 0700 "$work/home" "$work/corpus"
mount -t tmpfs -o size=256k,mode=0700 bramvell-diskfull "$work/home"

# Far more distinct words than 256 KiB of 40-byte records can hold.
cp "$train"/spam/* "$work/corpus/"
python3 - "$work/corpus" <<'PY'
import random, sys
random.seed(5)
letters = "abcdefghijklmnopqrstuvwxyz"
for n in range(300):
    words = ["".join(random.choice(letters) for _ in range(random.randint(4, 12))) for _ in range(60)]
    with open(f"{sys.argv[1]}/gen-{n:04d}.eml", "w") as f:
        f.write(f"Subject: offer {words[0]}\n\nfree money {' '.join(words)}\n")
PY

# Every token file holds whole records and a header that says so; every bucket count matches.
check_data() {
  python3 - "$work/home/Data" <<'PY' || fail "Data/ after '$1' is not consistent"
import os, struct, sys
data = sys.argv[1]
def letter(c):
    c = chr(c).lower()
    return ord(c) - 97 if "a" <= c <= "z" else 0
for section, countName in (("01", "X010"), ("21", "X210")):
    held = [0] * 17576
    for first in range(26):
        path = f"{data}/{section}{first:02d}"
        if not os.path.exists(path):
            continue
        raw = open(path, "rb").read()
        assert (len(raw) - 4) % 40 == 0, f"{path}: {len(raw)} bytes is no whole number of records"
        assert struct.unpack_from("<i", raw)[0] == len(raw), f"{path}: header does not match length"
        for at in range(4, len(raw), 40):
            key = raw[at + 28:at + 40]
            held[676 * first + 26 * letter(key[0]) + letter(key[1])] += 1
    counts = open(f"{data}/{countName}", "rb").read()
    for bucket in range(17576):
        stored = struct.unpack_from("<H", counts, 2 * bucket)[0] if 2 * bucket + 2 <= len(counts) else 0
        assert stored == held[bucket] % 65536, f"{countName}[{bucket}] = {stored}, records {held[bucket]}"
PY
}

# Runs bramvell; fails on a signal, echoes the exit status.
run() {
  local status=0
  "$program" --home "$work/home" "$@" >"$work/out" 2>"$work/err" || status=$?
  ((status < 128)) || fail "bramvell $* died of signal $((status - 128)): $(cat "$work/err")"
  echo "$status"
}

status=$(run learn spam "$work/corpus")
((status != 0)) || fail "learn on a full disk exited 0: $(cat "$work/out")"
grep -q "Data/" "$work/err" || fail "no file named in the error: $(cat "$work/err")"
grep -qi "space" "$work/err" || fail "no reason in the error: $(cat "$work/err")"
check_data "learn on a full disk"

# Again on the same full disk: the same clean stop, and the same consistent folder.
status=$(run learn ham "$work/corpus")
((status != 0)) || fail "a second learn on the full disk exited 0"
check_data "a second learn"

status=$(run classify "$train"/spam/01-lottery.eml)
((status == 0)) || fail "classify after the full disk exited $status: $(cat "$work/err")"
grep -q "01-lottery.eml" "$work/out" || fail "classify printed no verdict: $(cat "$work/out")"
echo "PASSED: learn stops cleanly on a full disk and leaves a consistent Data folder"
