#!/usr/bin/env bash
# The real filter over an emulated slow link (1 Mbit/s, 25 ms each way: bramvell_link between two TUN
# devices), curl as a client that gives up after 60 s without a byte, as desktop clients do:
#  - a good message of 9 MB reaches the client byte-identical (before, the client saw nothing until the
#    whole message had been collected, some 80 s, and gave up);
#  - SIGTERM to the filter in the middle of a large retrieval: the client has its answer (the message,
#    or a reset it can retry on) within 10 s, and no rule of ours is left.
#
#   slow-link.sh PATH/TO/bramvell PATH/TO/bramvell_link
set -euo pipefail
bramvell=$1
link=$2
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/filter-lib.sh"
e2e_require_root "the slow-link test"

e2e_setup_link "$link" 25 1000 0
bv_init "$bramvell"
e2e_start_dovecot

bv_make_large_ham "$E2E_DIR/large.eml" 9000000
e2e_add_message "$E2E_DIR/large.eml"
bv_make_large_ham "$E2E_DIR/second.eml" 3000000
e2e_add_message "$E2E_DIR/second.eml"
bv_train "$BV_DATA/train/spam" "$BV_DATA/train/ham"

BV_LOG=$E2E_DIR/filter.log
bv_start_filter "$BV_LOG" || bv_fail "bramvell run --headless did not start"

# --- 9 MB over 1 Mbit/s: about 75 s on the wire; the client gives up after 60 s without progress.
start=$EPOCHREALTIME
e2e_client curl -s -S --speed-limit 1 --speed-time 60 --max-time 400 -o "$E2E_DIR/large.out" "$(bv_url 1)" \
  2>"$E2E_DIR/large.err" || bv_fail "curl failed on the 9 MB message: $(cat "$E2E_DIR/large.err")"
seconds=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
# curl writes the message with CR LF line ends, as POP3 carries it.
tr -d '\r' <"$E2E_DIR/large.out" | cmp -s - "$E2E_DIR/large.eml" || bv_fail "the 9 MB message differs"
grep -q 'judged on its first' "$BV_HOME/log/"* || bv_fail "no log line for the verdict on the start of the message"
e2e_log "9 MB message through the filter over 1 Mbit/s in $seconds s"

# --- SIGTERM in the middle of a retrieval of the second message.
e2e_client curl -s --speed-limit 1 --speed-time 60 --max-time 400 -o "$E2E_DIR/second.out" "$(bv_url 2)" \
  2>"$E2E_DIR/second.err" &
curl_pid=$!
E2E_PIDS+=("$curl_pid")
sleep 8
stop_at=$EPOCHREALTIME
bv_stop_filter || bv_fail "the filter did not stop cleanly"
status=0
wait "$curl_pid" || status=$?
answered=$(awk -v a="$stop_at" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
awk -v s="$answered" 'BEGIN { exit !(s < 10) }' || bv_fail "the client had no answer $answered s after SIGTERM"
[[ -z $(e2e_our_rules) ]] || bv_fail "rules left after the stop: $(e2e_our_rules)"
if ((status == 0)); then
  tr -d '\r' <"$E2E_DIR/second.out" | cmp -s - "$E2E_DIR/second.eml" || bv_fail "the message finished after SIGTERM differs"
  e2e_log "stopped mid-retrieval: the message was finished, $answered s after SIGTERM"
else
  e2e_log "stopped mid-retrieval: curl failed (status $status) $answered s after SIGTERM: $(tail -n 1 "$E2E_DIR/second.err")"
fi
echo "PASSED: slow link"
