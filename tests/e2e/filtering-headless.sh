#!/usr/bin/env bash
# The real filter end to end: `bramvell run --headless` in the client's namespace, trained on the
# fixture messages, between curl and dovecot.
#  - Without CAP_NET_ADMIN and CAP_NET_RAW it refuses to start with the driver message and exit 1.
#  - Good messages (one of them over 10 MiB) reach curl byte-identical to a direct retrieval.
#  - Each spam message: curl gets "-ERR Filtered by Bramvell - message from <From> has a Spam
#    probability of NN%", the message is gone from the server, and its quarantine copy holds what the
#    server sent.
#  - Messenger datagrams to 1026 are not delivered (one from port 53 is, as is one to 5000).
#  - SIGUSR1 engages the outbound email lock (no answer on port 25) and disengages it.
#  - SIGTERM: it ends promptly with status 0, no rule of ours is left, and the statistics backup, the
#    stored settings hold what happened; no autostart entry is written; what it created is private.
#
#   filtering-headless.sh PATH/TO/bramvell
set -euo pipefail
bramvell=$1
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/filter-lib.sh"
e2e_require_root "the headless filtering test"
bv_require_tools "the headless filtering test" python3 setpriv

e2e_setup
bv_init "$bramvell"
e2e_start_dovecot

# --- Without the capabilities the packet source cannot be used: the driver message, exit status 1.
nodriver=$E2E_DIR/nodriver
mkdir -p "$nodriver/home" "$nodriver/config"
status=0
XDG_CONFIG_HOME=$nodriver/config timeout 30 ip netns exec "$E2E_CLIENT_NS" \
  setpriv --bounding-set -net_admin,-net_raw --inh-caps -net_admin,-net_raw -- \
  "$bramvell" --home "$nodriver/home" run --headless --interface "$E2E_CLIENT_IF" >"$nodriver/out" 2>&1 || status=$?
[[ $status == 1 ]] || bv_fail "without capabilities: exit status $status, expected 1: $(cat "$nodriver/out")"
grep -q '^Bramvell network driver failed to load or was not installed\.' "$nodriver/out" ||
  bv_fail "without capabilities: no driver message: $(cat "$nodriver/out")"
[[ -s $nodriver/config/Bramvell/bramvell/Options/General ]] || bv_fail "without capabilities: settings not saved at exit"
[[ -z $(e2e_our_rules) ]] || bv_fail "without capabilities: rules left: $(e2e_our_rules)"
e2e_log "without capabilities: refused with the driver message"

# --- The mailbox: the fixture messages in name order, then a good message of over 10 MiB.
expected=()
files=()
for file in "$BV_DATA"/mailbox/*.eml; do
  e2e_add_message "$file"
  files+=("$file")
  [[ $file == *-spam-* ]] && expected+=(spam) || expected+=(ham)
done
bv_make_large_ham "$E2E_DIR/large.eml" 10485760
e2e_add_message "$E2E_DIR/large.eml"
files+=("$E2E_DIR/large.eml")
expected+=(ham)
total=${#files[@]}

e2e_log "direct retrieval of $total messages"
e2e_fetch_all "$total" "$E2E_DIR/direct"
large_size=$(stat -c %s "$E2E_DIR/direct/$total")
((large_size >= 10485760)) || bv_fail "the large message came back with $large_size bytes"

# --- Training, and a check that the fixtures still separate (else the failures below mislead).
bv_train "$BV_DATA/train/spam" "$BV_DATA/train/ham"
bv_bramvell classify --tsv "${files[@]}" >"$E2E_DIR/classify.tsv"
declare -A probability
for ((i = 0; i < total; i++)); do
  line=$(grep -F -- "${files[i]}"$'\t' "$E2E_DIR/classify.tsv" || true)
  verdict=$(cut -f 2 <<<"$line")
  [[ $verdict == "${expected[i]}" ]] ||
    bv_fail "fixture ${files[i]##*/} classifies as '$verdict', expected ${expected[i]}: $(cat "$E2E_DIR/classify.tsv")"
  probability[$((i + 1))]=$(cut -f 4 <<<"$line")
done

# --- The filter, with listeners for the datagram and lock checks.
bv_start_udp_listener "$E2E_DIR/datagrams" 1026 5000 || bv_fail "the UDP listener did not start"
bv_start_smtp_listener || bv_fail "the port 25 listener did not start"
BV_LOG=$E2E_DIR/filter.log
bv_start_filter "$BV_LOG" || bv_fail "bramvell run --headless did not start"
[[ -n $(e2e_our_rules) ]] || bv_fail "no rule of ours while filtering"
e2e_log "filter $BV_PID running"

# Good messages in one connection.
bv_check_good_messages
e2e_log "${#good[@]} good messages arrived byte-identical (the largest $((large_size / 1024)) KiB)"

# Spam, each in its own connection, from the highest number down: a deletion (at QUIT) renumbers only
# the messages after it.
spam=()
for ((n = total; n >= 1; n--)); do
  [[ ${expected[n - 1]} == spam ]] && spam+=("$n")
done
for n in "${spam[@]}"; do
  status=0
  bv_retrieve "$n" "$E2E_DIR/filtered/$n" "$E2E_DIR/spam-$n.err" || status=$?
  ((status != 0)) || bv_fail "spam message $n was delivered to curl"
  from=$(bv_header "${files[n - 1]}" From)
  want="-ERR Filtered by Bramvell - message from $from has a Spam probability of ${probability[$n]}%"
  got=$(bv_err_line "$E2E_DIR/spam-$n.err")
  [[ $got == "$want" ]] || bv_fail "spam message $n: curl got '$got', expected '$want'"
done
e2e_log "${#spam[@]} spam messages answered with the -ERR line"

# --- `bramvell status` reaches the run through its socket and counts what it judged today.
# The last verdict may still be on its way to the run's loop: a few tries.
today="Today: $((${#good[@]} + ${#spam[@]})) messages classified, ${#good[@]} good, ${#spam[@]} spam"
for ((tries = 0; tries < 20; tries++)); do
  bv_bramvell status >"$E2E_DIR/status.out" 2>&1 || bv_fail "bramvell status failed: $(cat "$E2E_DIR/status.out")"
  grep -qx "$today" "$E2E_DIR/status.out" && break
  sleep 0.1
done
grep -qx 'State: filtering' "$E2E_DIR/status.out" || bv_fail "status: $(cat "$E2E_DIR/status.out")"
grep -qx "$today" "$E2E_DIR/status.out" || bv_fail "status counts: $(cat "$E2E_DIR/status.out")"
grep -q "^Packet filter: on, interface $E2E_CLIENT_IF\$" "$E2E_DIR/status.out" ||
  bv_fail "status interface: $(cat "$E2E_DIR/status.out")"
e2e_log "bramvell status: $(head -1 "$E2E_DIR/status.out"), $(grep '^Today' "$E2E_DIR/status.out")"

# --- Messenger datagrams: two to 1026 are dropped; one to 1026 from port 53 and one to 5000 arrive.
bv_send_datagram 1026 popup-one
bv_send_datagram 1026 popup-two
bv_send_datagram 1026 name-server-reply 53
bv_send_datagram 5000 other-datagram
for ((tries = 0; tries < 20; tries++)); do
  [[ $(wc -l <"$E2E_DIR/datagrams") -ge 2 ]] && break
  sleep 0.1
done
sleep 0.3
grep -q '^5000 [0-9]* other-datagram$' "$E2E_DIR/datagrams" || bv_fail "the datagram to 5000 was not delivered: $(cat "$E2E_DIR/datagrams")"
grep -q '^1026 53 name-server-reply$' "$E2E_DIR/datagrams" || bv_fail "the name-server reply to 1026 was not delivered"
grep -q 'popup' "$E2E_DIR/datagrams" && bv_fail "a Messenger datagram was delivered: $(cat "$E2E_DIR/datagrams")"
e2e_log "Messenger datagrams dropped, others delivered"

# --- Outbound email lock. The toggle is confirmed by new output or log lines before probing.
log_size() { cat "$BV_LOG" "$BV_HOME"/log/*.txt 2>/dev/null | wc -c; }
toggle_lock() {
  local before tries
  before=$(log_size)
  kill -USR1 "$BV_PID"
  for ((tries = 0; tries < 20; tries++)); do
    [[ $(log_size) != "$before" ]] && break
    sleep 0.1
  done
  sleep 0.2
}
greeting_with_retries() {
  local tries answer
  for ((tries = 0; tries < 3; tries++)); do
    answer=$(bv_smtp_greeting 2)
    [[ -n $answer ]] && break
  done
  echo "$answer"
}
[[ $(greeting_with_retries) == 220* ]] || bv_fail "port 25 does not answer before the lock"
toggle_lock
answer=$(bv_smtp_greeting 2)
[[ -z $answer ]] || bv_fail "port 25 answered with the lock engaged: $answer"
toggle_lock
[[ $(greeting_with_retries) == 220* ]] || bv_fail "port 25 does not answer after the lock was disengaged"
e2e_log "outbound email lock engaged and disengaged"

# --- Stop.
bv_stop_filter || bv_fail "bramvell run --headless did not end with status 0 after SIGTERM"
awk -v s="$BV_STOP_SECONDS" 'BEGIN { exit !(s < 3) }' || bv_fail "stopping took $BV_STOP_SECONDS s"
[[ -z $(e2e_our_rules) ]] || bv_fail "rules left after stop: $(e2e_our_rules)"
status=0
bv_bramvell status >"$E2E_DIR/status.out" 2>&1 || status=$?
((status == 3)) || bv_fail "bramvell status after the stop: status $status, $(cat "$E2E_DIR/status.out")"
e2e_log "stopped in $BV_STOP_SECONDS s; no rule left"

# --- What is left on the server: exactly the good messages, unchanged.
list=$(bv_server_list)
[[ $(grep -c . <<<"$list") == "${#good[@]}" ]] || bv_fail "the server lists '$list', expected ${#good[@]} messages"
e2e_fetch_all "${#good[@]}" "$E2E_DIR/after"
for ((i = 0; i < ${#good[@]}; i++)); do
  cmp -s "$E2E_DIR/direct/${good[i]}" "$E2E_DIR/after/$((i + 1))" || bv_fail "message ${good[i]} changed on the server"
done
maildir=$E2E_DIR/dovecot/mail/$E2E_USER
for n in "${spam[@]}"; do
  [[ -z $(find "$maildir" -name "$(printf '%06d' "$n").bramvell-e2e*") ]] || bv_fail "spam message $n is still in the maildir"
done

# --- Quarantine: one file per spam message, named by the time of the verdict, holding what the
# server sent after its status line.
quarantine=$BV_HOME/quarantine
mapfile -t copies < <(find "$quarantine" -maxdepth 1 -type f | sort)
[[ ${#copies[@]} == "${#spam[@]}" ]] || bv_fail "${#copies[@]} quarantine files, expected ${#spam[@]}: ${copies[*]}"
for copy in "${copies[@]}"; do
  [[ ${copy##*/} =~ ^[0-9]{14}(-[0-9]+)?\.txt$ ]] || bv_fail "quarantine file name ${copy##*/}"
done
for n in "${spam[@]}"; do
  bv_expected_quarantine "$E2E_DIR/direct/$n" >"$E2E_DIR/quarantine-$n.expected"
  found=0
  for copy in "${copies[@]}"; do
    cmp -s "$copy" "$E2E_DIR/quarantine-$n.expected" && found=1
  done
  ((found)) || bv_fail "no quarantine file holds spam message $n"
done

# --- Activity log: a verdict line per message.
cat "$BV_HOME"/log/*.txt >"$E2E_DIR/activity.txt" 2>/dev/null || bv_fail "no activity log in $BV_HOME/log"
[[ $(grep -c 'Bramvell suspects this message is Spam' "$E2E_DIR/activity.txt") == "${#spam[@]}" ]] ||
  bv_fail "activity log: expected ${#spam[@]} spam verdicts: $(cat "$E2E_DIR/activity.txt")"
[[ $(grep -c 'Bramvell suspects this message is NOT Spam' "$E2E_DIR/activity.txt") == "${#good[@]}" ]] ||
  bv_fail "activity log: expected ${#good[@]} good verdicts"

# --- Saved statistics: ham and spam learned, messages classified, spam, popups blocked.
want_counts="6 6 $total ${#spam[@]} 2"
[[ -s $BV_HOME/reg.bak ]] || bv_fail "no reg.bak"
read -r -a backup <<<"$(bv_statistics_backup "$BV_HOME/reg.bak")"
got_counts="${backup[0]} ${backup[1]} ${backup[5]} ${backup[6]} ${backup[7]}"
[[ $got_counts == "$want_counts" ]] || bv_fail "reg.bak holds ${backup[*]}; expected ham, spam, filtered, spam count, popups $want_counts"
settings=$XDG_CONFIG_HOME/Bramvell/bramvell/Options/General
[[ -s $settings ]] || bv_fail "no stored settings at $settings"
read -r -a stored <<<"$(bv_settings_statistics "$settings")"
[[ ${stored[*]} == "${backup[*]}" ]] || bv_fail "stored settings hold statistics ${stored[*]}, reg.bak ${backup[*]}"
[[ ! -e $XDG_CONFIG_HOME/autostart/Bramvell.desktop ]] || bv_fail "a headless run wrote an autostart entry"
# Private messages, logs and word tables: nothing the filter created is open to group or others.
open_files=$(find "$BV_HOME" -mindepth 1 -perm /077 -printf '%M %p\n' 2>/dev/null || true)
[[ -z $open_files ]] || bv_fail "files open to group or others: $open_files"

echo "PASSED: ${#good[@]} good messages delivered intact (largest $((large_size / 1024)) KiB), ${#spam[@]} spam filtered," \
  "deleted and quarantined; Messenger datagrams dropped; lock toggled; stopped in $BV_STOP_SECONDS s; statistics ${backup[*]}"
