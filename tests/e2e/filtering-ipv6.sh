#!/usr/bin/env bash
# The real filter over IPv6: namespaces with IPv6 addresses only, `bramvell run --headless` in the
# client's namespace between curl and dovecot.
#  - Rules of both families are installed while it runs; the log does not say IPv6 is unfiltered.
#  - Good messages (one of them 4 MiB) reach curl byte-identical to a direct retrieval.
#  - Each spam message: curl gets the "-ERR Filtered by Bramvell ..." line and the message is gone from
#    the server.
#  - Messenger datagrams to 1026 are dropped; web segments make the filter report web activity; SIGUSR1
#    engages the outbound email lock (no answer on port 25) and disengages it.
#  - SIGTERM: it ends with status 0 and no rule of ours is left in either family.
#  - packaging/remove-rules clears chains left behind in both families and keeps other chains.
#
#   filtering-ipv6.sh PATH/TO/bramvell
set -euo pipefail
bramvell=$1
E2E_FAMILY=6
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/filter-lib.sh"
e2e_require_root "the IPv6 filtering test"
bv_require_tools "the IPv6 filtering test" python3 ip6tables ip6tables-restore ip6tables-save

e2e_setup
[[ -z $(ip -n "$E2E_CLIENT_NS" -4 addr show dev "$E2E_CLIENT_IF") ]] || bv_fail "the client has an IPv4 address"
bv_init "$bramvell"
e2e_start_dovecot

expected=()
files=()
for file in "$BV_DATA"/mailbox/*.eml; do
  e2e_add_message "$file"
  files+=("$file")
  [[ $file == *-spam-* ]] && expected+=(spam) || expected+=(ham)
done
bv_make_large_ham "$E2E_DIR/large.eml" 4194304
e2e_add_message "$E2E_DIR/large.eml"
files+=("$E2E_DIR/large.eml")
expected+=(ham)
total=${#files[@]}

e2e_log "direct retrieval of $total messages over IPv6"
e2e_fetch_all "$total" "$E2E_DIR/direct"
bv_train "$BV_DATA/train/spam" "$BV_DATA/train/ham"
bv_bramvell classify --tsv "${files[@]}" >"$E2E_DIR/classify.tsv"
declare -A probability
for ((i = 0; i < total; i++)); do
  line=$(grep -F -- "${files[i]}"$'\t' "$E2E_DIR/classify.tsv" || true)
  [[ $(cut -f 2 <<<"$line") == "${expected[i]}" ]] || bv_fail "fixture ${files[i]##*/} classifies as '$line'"
  probability[$((i + 1))]=$(cut -f 4 <<<"$line")
done

bv_start_udp_listener "$E2E_DIR/datagrams" 1026 5000 || bv_fail "the UDP listener did not start"
bv_start_smtp_listener || bv_fail "the port 25 listener did not start"
# A web server stand-in on 8080: reads what comes and closes.
ip netns exec "$E2E_SERVER_NS" python3 -u -c '
import socket
s = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("::", 8080))
s.listen(4)
print("ready", flush=True)
while True:
    c, _ = s.accept()
    c.recv(4096)
    c.sendall(b"HTTP/1.0 204 No Content\r\n\r\n")
    c.close()
' >"$E2E_DIR/web.log" 2>&1 &
E2E_PIDS+=($!)

BV_LOG=$E2E_DIR/filter.log
bv_start_filter "$BV_LOG" || bv_fail "bramvell run --headless did not start"
rules=$(e2e_our_rules)
grep -q '^ip6: ' <<<"$rules" || bv_fail "no IPv6 rule of ours while filtering: $rules"
grep -q '^-A BRAMVELL' <<<"$rules" || bv_fail "no IPv4 rule of ours while filtering: $rules"
if grep -qs 'IPv6 is not filtered' "$BV_HOME"/log/*.txt; then
  bv_fail "the log says IPv6 is not filtered: $(cat "$BV_HOME"/log/*.txt)"
fi
e2e_log "filter $BV_PID running with rules of both families"

bv_check_good_messages
e2e_log "${#good[@]} good messages arrived byte-identical over IPv6"

spam=()
for ((n = total; n >= 1; n--)); do
  [[ ${expected[n - 1]} == spam ]] && spam+=("$n")
done
for n in "${spam[@]}"; do
  status=0
  bv_retrieve "$n" "$E2E_DIR/filtered/$n" "$E2E_DIR/spam-$n.err" || status=$?
  ((status != 0)) || bv_fail "spam message $n was delivered to curl"
  want="-ERR Filtered by Bramvell - message from $(bv_header "${files[n - 1]}" From) has a Spam probability of ${probability[$n]}%"
  got=$(bv_err_line "$E2E_DIR/spam-$n.err")
  [[ $got == "$want" ]] || bv_fail "spam message $n: curl got '$got', expected '$want'"
done
e2e_log "${#spam[@]} spam messages answered with the -ERR line over IPv6"

bv_send_datagram 1026 popup-one
bv_send_datagram 5000 other-datagram
for ((tries = 0; tries < 20; tries++)); do
  grep -q other-datagram "$E2E_DIR/datagrams" 2>/dev/null && break
  sleep 0.1
done
sleep 0.3
grep -q '^5000 [0-9]* other-datagram$' "$E2E_DIR/datagrams" || bv_fail "the datagram to 5000 was not delivered"
grep -q popup "$E2E_DIR/datagrams" && bv_fail "a Messenger datagram was delivered over IPv6"

e2e_client python3 -c '
import socket, sys
c = socket.create_connection((sys.argv[1], 8080), timeout=5)
c.sendall(b"GET /" + b"x" * 200 + b" HTTP/1.0\r\nHost: example\r\n\r\n")
c.recv(100)
' "$E2E_SERVER_ADDR" || bv_fail "the web request failed"
for ((tries = 0; tries < 20; tries++)); do
  grep -q 'web activity' "$BV_LOG" && break
  sleep 0.1
done
grep -q 'web activity' "$BV_LOG" || bv_fail "no web activity reported for an IPv6 web request"

[[ $(bv_smtp_greeting 2) == 220* ]] || bv_fail "port 25 does not answer before the lock"
kill -USR1 "$BV_PID"
sleep 0.5
[[ -z $(bv_smtp_greeting 2) ]] || bv_fail "port 25 answered over IPv6 with the lock engaged"
kill -USR1 "$BV_PID"
sleep 0.5
[[ $(bv_smtp_greeting 2) == 220* ]] || bv_fail "port 25 does not answer after the lock was disengaged"
e2e_log "datagrams, web watch and outbound lock over IPv6"

bv_stop_filter || bv_fail "bramvell run --headless did not end with status 0 after SIGTERM"
[[ -z $(e2e_our_rules) ]] || bv_fail "rules left after stop: $(e2e_our_rules)"

list=$(bv_server_list)
[[ $(grep -c . <<<"$list") == "${#good[@]}" ]] || bv_fail "the server lists '$list', expected ${#good[@]} messages"
cat "$BV_HOME"/log/*.txt >"$E2E_DIR/activity.txt"
[[ $(grep -c 'Bramvell suspects this message is Spam' "$E2E_DIR/activity.txt") == "${#spam[@]}" ]] ||
  bv_fail "activity log: expected ${#spam[@]} spam verdicts: $(cat "$E2E_DIR/activity.txt")"

# The package's helper for rules a filter that died left behind clears both families, and only ours.
for tables in iptables ip6tables; do
  e2e_client "$tables" -t raw -N BRAMVELL-OUT
  e2e_client "$tables" -t raw -I OUTPUT -j BRAMVELL-OUT
  e2e_client "$tables" -t filter -N BRAMVELL-IN-1000
  e2e_client "$tables" -t filter -I INPUT -j BRAMVELL-IN-1000
  e2e_client "$tables" -t filter -N OTHER-CHAIN
done
listed=$(e2e_client sh "$E2E_LIB_DIR/../../packaging/remove-rules" -n)
grep -q 'table raw (IPv6): BRAMVELL-OUT' <<<"$listed" || bv_fail "remove-rules -n does not list the IPv6 chains: $listed"
e2e_client sh "$E2E_LIB_DIR/../../packaging/remove-rules" >"$E2E_DIR/remove-rules.out" ||
  bv_fail "remove-rules failed: $(cat "$E2E_DIR/remove-rules.out")"
[[ -z $(e2e_our_rules) ]] || bv_fail "remove-rules left: $(e2e_our_rules)"
for tables in iptables ip6tables; do
  e2e_client "$tables" -t filter -n -L OTHER-CHAIN >/dev/null || bv_fail "remove-rules removed another chain ($tables)"
done

echo "PASSED: over IPv6 only, ${#good[@]} good messages delivered intact, ${#spam[@]} spam deleted with the -ERR line;" \
  "datagrams, web watch and lock as over IPv4; no rule left in either family"
