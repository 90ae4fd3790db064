#!/usr/bin/env bash
# POP3 retrieval through the NFQUEUE packet source: curl in the client's namespace fetches every
# message from dovecot directly, then with bramvell_passthrough holding the client's traffic (the
# filter thread without a POP3 handler: verdicts), then with it re-sending every frame as a frame of
# its own (raw sockets). All three must be byte-identical. Also: stale rules from a crash are replaced at start, and no rule is left after
# the pass-through stops.
#
#   retrieval-through-source.sh PATH/TO/bramvell_passthrough
set -euo pipefail
passthrough=$1
source "$(dirname "$0")/lib.sh"
e2e_require_root "the retrieval-through-source test"

small_count=${E2E_SMALL_MESSAGES:-30}
large_bytes=${E2E_LARGE_BYTES:-10485760}

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

e2e_setup
e2e_start_dovecot
for ((n = 1; n <= small_count; n++)); do
  e2e_make_small_message "$E2E_DIR/message" "$n"
  e2e_add_message "$E2E_DIR/message"
done
e2e_make_large_message "$E2E_DIR/message" "$large_bytes"
e2e_add_message "$E2E_DIR/message"
total=$((small_count + 1))

e2e_log "direct retrieval of $total messages"
e2e_fetch_all "$total" "$E2E_DIR/direct"
size=$(stat -c %s "$E2E_DIR/direct/$total")
((size >= large_bytes)) || fail "the large message came back with $size bytes"

# A crash leaves our chains behind, perhaps with the jump twice; the next start must replace them.
e2e_client iptables -t raw -N BRAMVELL-OUT
e2e_client iptables -t raw -A BRAMVELL-OUT -p tcp -j NFQUEUE --queue-num 4321 --queue-bypass
e2e_client iptables -t raw -I OUTPUT -j BRAMVELL-OUT
e2e_client iptables -t raw -I OUTPUT -j BRAMVELL-OUT
e2e_client iptables -t filter -N BRAMVELL-IN
e2e_client iptables -t filter -I INPUT -j BRAMVELL-IN
# The same left behind in the IPv6 tables.
e2e_client ip6tables -t raw -N BRAMVELL-OUT
e2e_client ip6tables -t raw -A BRAMVELL-OUT -p tcp -j NFQUEUE --queue-num 4321 --queue-bypass
e2e_client ip6tables -t raw -I OUTPUT -j BRAMVELL-OUT
e2e_client ip6tables -t raw -I OUTPUT -j BRAMVELL-OUT

run_through_source() {
  local label=$1
  shift
  local ready=$E2E_DIR/$label.ready log=$E2E_DIR/$label.log
  e2e_start_in_client "$log" "$passthrough" --interface "$E2E_CLIENT_IF" --ready-file "$ready" "$@"
  local pid=$E2E_LAST_PID
  e2e_wait_for_file "$ready" "$pid" || {
    cat "$log" >&2
    fail "$label: the pass-through did not start"
  }

  local rules
  rules=$(e2e_our_rules)
  # One jump of each kind per family: stale IPv4 jumps were left above, the IPv6 rules are fresh.
  local family
  for family in '' 'ip6: '; do
    [[ $(grep -c -- "^$family-A OUTPUT -j BRAMVELL-OUT\$" <<<"$rules") == 1 ]] ||
      fail "$label: expected one ${family}jump to BRAMVELL-OUT: $rules"
    [[ $(grep -c -- "^$family-A INPUT -j BRAMVELL-IN\$" <<<"$rules") == 1 ]] ||
      fail "$label: expected one ${family}jump to BRAMVELL-IN: $rules"
  done
  grep -q -- '--queue-num 4321' <<<"$rules" && fail "$label: a stale rule survived the start: $rules"
  grep -q -- "-o $E2E_CLIENT_IF .*--dports 25,110 .*NFQUEUE" <<<"$rules" || fail "$label: no POP3 rule for $E2E_CLIENT_IF: $rules"

  e2e_log "$label: retrieval of $total messages through the packet source"
  e2e_fetch_all "$total" "$E2E_DIR/$label" || {
    cat "$log" >&2
    fail "$label: curl failed through the packet source"
  }
  local n
  for ((n = 1; n <= total; n++)); do
    cmp -s "$E2E_DIR/direct/$n" "$E2E_DIR/$label/$n" || fail "$label: message $n differs from the direct retrieval"
  done

  e2e_stop "$pid" || {
    cat "$log" >&2
    fail "$label: the pass-through ended with an error"
  }
  e2e_log "$label: $(tail -n 1 "$log")"
  local held
  held=$(sed -n 's/.*held \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  ((${held:-0} > 0)) || fail "$label: no frame was held"
  [[ -z $(e2e_our_rules) ]] || fail "$label: rules left after stop: $(e2e_our_rules)"
}

run_through_source filter-thread
run_through_source own-frames --own-frames
own=$(sed -n 's/.* own \([0-9]*\) .*/\1/p' "$E2E_DIR/own-frames.log" | tail -n 1)
((${own:-0} > 0)) || fail "own-frames: no frame was sent through the raw socket"

echo "PASSED: $total messages ($((size / 1024)) KiB the largest) byte-identical directly, with verdicts and as own frames"
