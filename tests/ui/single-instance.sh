#!/usr/bin/env bash
# The real executable, offscreen, on the simulated packet source: a second `bramvell` ends at once
# and saves nothing, the first keeps running; SIGTERM ends the first in an orderly way that saves
# the settings, reg.bak and the autostart entry.
#
#   single-instance.sh PATH/TO/bramvell
set -euo pipefail
bramvell=$1
work=$(mktemp -d /tmp/bramvell-instance.XXXXXX)
first=
cleanup() {
  [[ -n $first ]] && kill -KILL "$first" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*" >&2
  cat "$work"/*.log >&2 2>/dev/null || true
  exit 1
}
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$work/home" "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
settings=$work/config/Bramvell/bramvell/Options/General

"$bramvell" --home "$work/home" gui --simulate >"$work/first.log" 2>&1 &
first=$!
# The first copy is up once its tables are loaded (the Data folder's files exist).
for ((i = 0; i < 100; i++)); do
  [[ -e $work/home/Data/X010 ]] && break
  kill -0 "$first" 2>/dev/null || fail "the first copy ended by itself"
  sleep 0.1
done
sleep 0.5

status=0
timeout 20 "$bramvell" --home "$work/home" gui --simulate >"$work/second.log" 2>&1 || status=$?
[[ $status == 0 ]] || fail "the second copy ended with status $status"
kill -0 "$first" 2>/dev/null || fail "the first copy did not survive the second"
[[ ! -e $settings && ! -e $work/home/reg.bak ]] || fail "the second copy saved settings"

kill -TERM "$first"
status=0
wait "$first" || status=$?
first=
[[ $status == 0 ]] || fail "the first copy ended with status $status after SIGTERM"
[[ -s $settings ]] || fail "no settings saved at exit"
[[ $(stat -c %s "$work/home/reg.bak") -ge 32 ]] || fail "no reg.bak saved at exit"
echo "PASSED"
