# Test environment for end-to-end runs: two network namespaces joined by a veth pair, dovecot serving
# a maildir over POP3 in the server's namespace, curl as the client. Sourced by the e2e scripts and by
# bench/e2e-retrieval. Everything it makes is recorded and removed by e2e_cleanup, which runs on exit
# (success, failure or signal).
#
#   source tests/e2e/lib.sh
#   e2e_require_root "my test"
#   e2e_setup                      # namespaces, veth, addresses; cleanup trap
#   e2e_start_dovecot              # server; user $E2E_USER / $E2E_PASSWORD
#   e2e_add_message FILE           # before the first retrieval (dovecot numbers them by file name)
#   e2e_fetch_all COUNT OUTDIR     # one curl run, connection reused: OUTDIR/1 .. OUTDIR/COUNT
#   e2e_client CMD...              # runs CMD in the client's namespace
#   e2e_start_in_client LOGFILE CMD...  # background process in the client's namespace (stopped at cleanup)
#
# Variables after e2e_setup: E2E_DIR (private folder), E2E_CLIENT_NS, E2E_SERVER_NS, E2E_CLIENT_IF,
# E2E_SERVER_IF, E2E_CLIENT_ADDR, E2E_SERVER_ADDR, E2E_SERVER_HOST (the server's address as a URL names
# it). With E2E_FAMILY=6 set before e2e_setup the namespaces get IPv6 addresses only (fd00::/8, a
# prefix that never leaves a site).

E2E_LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
E2E_USER=tuser
E2E_PASSWORD=tpass
E2E_FAMILY=${E2E_FAMILY:-4}
export E2E_FAMILY
if [[ $E2E_FAMILY == 6 ]]; then
  E2E_CLIENT_ADDR=fd42:231::1
  E2E_SERVER_ADDR=fd42:231::2
  E2E_PREFIX=64
  E2E_SERVER_HOST=[$E2E_SERVER_ADDR]
else
  E2E_CLIENT_ADDR=10.231.0.1
  E2E_SERVER_ADDR=10.231.0.2
  E2E_PREFIX=24
  E2E_SERVER_HOST=$E2E_SERVER_ADDR
fi
E2E_CLIENT_IF=bv-client
E2E_SERVER_IF=bv-server
E2E_PIDS=()
E2E_NAMESPACES=()
E2E_DIR=
E2E_MESSAGE_COUNT=0
E2E_DOVECOT_PID=

e2e_log() { echo "[e2e] $*" >&2; }

# Exits with 77 (ctest's "skipped") when the run cannot work here.
e2e_require_root() {
  local what=$1
  if [[ $(id -u) -ne 0 ]]; then
    echo "SKIPPED: $what needs root (it creates network namespaces and iptables rules inside them)"
    exit 77
  fi
  local tool
  for tool in ip iptables iptables-restore dovecot curl; do
    if ! PATH=$PATH:/usr/sbin:/sbin command -v "$tool" >/dev/null 2>&1; then
      echo "SKIPPED: $what needs $tool (scripts/bootstrap installs it)"
      exit 77
    fi
  done
  PATH=$PATH:/usr/sbin:/sbin
}

# The test's folder, its clean-up on exit, and the names of its namespaces (E2E_ID tells them apart).
e2e_begin() {
  E2E_ID=$$-$RANDOM
  E2E_DIR=$(mktemp -d /tmp/bramvell-e2e.XXXXXX)
  chmod 755 "$E2E_DIR"
  trap e2e_cleanup EXIT
  trap 'exit 130' INT TERM HUP
  E2E_CLIENT_NS=bramvell-client-$E2E_ID
  E2E_SERVER_NS=bramvell-server-$E2E_ID
}

e2e_setup() {
  e2e_begin
  ip netns add "$E2E_CLIENT_NS"
  E2E_NAMESPACES+=("$E2E_CLIENT_NS")
  ip netns add "$E2E_SERVER_NS"
  E2E_NAMESPACES+=("$E2E_SERVER_NS")
  # The pair is made inside the client's namespace, so no name ever appears in the machine's own.
  ip -n "$E2E_CLIENT_NS" link add "$E2E_CLIENT_IF" type veth peer name "$E2E_SERVER_IF" netns "$E2E_SERVER_NS"
  # nodad: the addresses are usable at once, not after duplicate address detection.
  local flags=()
  [[ $E2E_FAMILY == 6 ]] && flags=(nodad)
  ip -n "$E2E_CLIENT_NS" addr add "$E2E_CLIENT_ADDR/$E2E_PREFIX" dev "$E2E_CLIENT_IF" "${flags[@]}"
  ip -n "$E2E_SERVER_NS" addr add "$E2E_SERVER_ADDR/$E2E_PREFIX" dev "$E2E_SERVER_IF" "${flags[@]}"
  ip -n "$E2E_CLIENT_NS" link set lo up
  ip -n "$E2E_SERVER_NS" link set lo up
  ip -n "$E2E_CLIENT_NS" link set "$E2E_CLIENT_IF" up
  ip -n "$E2E_SERVER_NS" link set "$E2E_SERVER_IF" up
  # The client reaches the server through its default route, as a desktop reaches its mail server.
  ip -n "$E2E_CLIENT_NS" route add default via "$E2E_SERVER_ADDR" dev "$E2E_CLIENT_IF"
  e2e_log "namespaces $E2E_CLIENT_NS ($E2E_CLIENT_ADDR) and $E2E_SERVER_NS ($E2E_SERVER_ADDR), folder $E2E_DIR"
}

# Like e2e_setup, but the two namespaces are joined by an emulated link (bramvell_link, a user-space
# link between two TUN devices: this kernel may lack sch_netem) with a one-way delay, a rate and a loss
# share in each direction. The link program runs in a third namespace of its own, which holds no
# address; its devices are moved to the client's and the server's namespaces. IPv4 only.
#   e2e_setup_link LINK_PROGRAM DELAY_MS RATE_KBIT LOSS_PERCENT
e2e_setup_link() {
  local program=$1 delay=$2 rate=$3 loss=$4
  e2e_begin
  E2E_LINK_NS=bramvell-link-$E2E_ID
  E2E_CLIENT_IF=bvl-client
  E2E_SERVER_IF=bvl-server
  local ns
  for ns in "$E2E_CLIENT_NS" "$E2E_SERVER_NS" "$E2E_LINK_NS"; do
    ip netns add "$ns"
    E2E_NAMESPACES+=("$ns")
  done
  ip netns exec "$E2E_LINK_NS" "$program" "$E2E_CLIENT_IF" "$E2E_SERVER_IF" "$delay" "$rate" "$loss" \
    "$E2E_DIR/link.ready" >"$E2E_DIR/link.log" 2>&1 &
  E2E_PIDS+=("$!")
  e2e_wait_for_file "$E2E_DIR/link.ready" "$!" || { cat "$E2E_DIR/link.log" >&2; return 1; }
  ip -n "$E2E_LINK_NS" link set "$E2E_CLIENT_IF" netns "$E2E_CLIENT_NS"
  ip -n "$E2E_LINK_NS" link set "$E2E_SERVER_IF" netns "$E2E_SERVER_NS"
  ip -n "$E2E_CLIENT_NS" addr add "$E2E_CLIENT_ADDR" peer "$E2E_SERVER_ADDR" dev "$E2E_CLIENT_IF"
  ip -n "$E2E_SERVER_NS" addr add "$E2E_SERVER_ADDR" peer "$E2E_CLIENT_ADDR" dev "$E2E_SERVER_IF"
  for ns in "$E2E_CLIENT_NS" "$E2E_SERVER_NS"; do
    ip -n "$ns" link set lo up
  done
  ip -n "$E2E_CLIENT_NS" link set "$E2E_CLIENT_IF" up
  ip -n "$E2E_SERVER_NS" link set "$E2E_SERVER_IF" up
  ip -n "$E2E_CLIENT_NS" route add default via "$E2E_SERVER_ADDR" dev "$E2E_CLIENT_IF"
  e2e_log "namespaces $E2E_CLIENT_NS and $E2E_SERVER_NS over an emulated link: ${delay} ms each way," \
    "${rate} kbit/s (0: unlimited), ${loss}% loss"
}

e2e_client() { ip netns exec "$E2E_CLIENT_NS" "$@"; }
e2e_server() { ip netns exec "$E2E_SERVER_NS" "$@"; }

e2e_start_dovecot() {
  local dir=$E2E_DIR/dovecot
  mkdir -p "$dir/mail/$E2E_USER/new" "$dir/mail/$E2E_USER/cur" "$dir/mail/$E2E_USER/tmp"
  sed -e "s#@DIR@#$dir#g" -e "s#@ADDR@#$E2E_SERVER_ADDR#g" "$E2E_LIB_DIR/dovecot-pop3.conf.in" >"$dir/dovecot.conf"
  echo "$E2E_USER:{PLAIN}$E2E_PASSWORD" >"$dir/users"
  chown -R 65534:65534 "$dir/mail"
  e2e_server dovecot -c "$dir/dovecot.conf"
  local tries
  for ((tries = 0; tries < 50; tries++)); do
    if [[ -s $dir/run/master.pid ]]; then
      E2E_DOVECOT_PID=$(cat "$dir/run/master.pid")
      if e2e_client curl -s --max-time 2 "pop3://$E2E_USER:$E2E_PASSWORD@$E2E_SERVER_HOST/" >/dev/null; then
        e2e_log "dovecot $E2E_DOVECOT_PID listening on $E2E_SERVER_ADDR:110"
        return 0
      fi
    fi
    sleep 0.1
  done
  e2e_log "dovecot did not start; its log:"
  cat "$dir/dovecot.log" >&2 || true
  return 1
}

# Adds a message file to the mailbox. Names sort in the order of adding, which is the order dovecot
# numbers them in.
e2e_add_message() {
  local file=$1
  E2E_MESSAGE_COUNT=$((E2E_MESSAGE_COUNT + 1))
  local target
  target=$E2E_DIR/dovecot/mail/$E2E_USER/new/$(printf '%06d' "$E2E_MESSAGE_COUNT").bramvell-e2e
  cp "$file" "$target"
  chown 65534:65534 "$target"
}

# Writes a small text message with a few kinds of line worth keeping intact (a leading dot, a long
# line, a tab, trailing blanks).
e2e_make_small_message() {
  local file=$1 number=$2
  {
    printf 'From: sender%d@example.org\nTo: %s@example.net\nSubject: note %d\n' "$number" "$E2E_USER" "$number"
    printf 'Message-ID: <%d@e2e.bramvell>\n\n' "$number"
    printf 'Hello, this is message %d.\n' "$number"
    printf '.a line that starts with a dot\n'
    printf 'tab\there and trailing blanks   \n'
    printf '%0300d\n' "$number"
    printf 'Bye.\n'
  } >"$file"
}

# Writes a message of about the given size in bytes: headers and base64 text lines.
e2e_make_large_message() {
  local file=$1 bytes=$2
  {
    printf 'From: big@example.org\nTo: %s@example.net\nSubject: large\n\n' "$E2E_USER"
    head -c $((bytes * 3 / 4)) /dev/urandom | base64 -w 76
  } >"$file"
}

# Retrieves messages 1..count in one curl run (one connection, one login) into outdir.
e2e_fetch_all() {
  local count=$1 outdir=$2 n
  mkdir -p "$outdir"
  local config=$outdir.curlrc
  : >"$config"
  for ((n = 1; n <= count; n++)); do
    printf 'url = "pop3://%s:%s@%s/%d"\noutput = "%s/%d"\n' "$E2E_USER" "$E2E_PASSWORD" "$E2E_SERVER_HOST" "$n" \
      "$outdir" "$n" >>"$config"
  done
  e2e_client curl -s -S --fail --max-time 300 -K "$config"
}

# Starts a background process in the client's namespace; its PID is stopped at cleanup.
e2e_start_in_client() {
  local logfile=$1
  shift
  ip netns exec "$E2E_CLIENT_NS" "$@" >"$logfile" 2>&1 &
  E2E_LAST_PID=$!
  E2E_PIDS+=("$E2E_LAST_PID")
}

# Stops one process started by e2e_start_in_client (SIGTERM, then SIGKILL after five seconds) and
# returns its exit status.
e2e_stop() {
  local pid=$1 tries status=0
  kill -TERM "$pid" 2>/dev/null || true
  for ((tries = 0; tries < 50; tries++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    e2e_log "process $pid did not stop; killing it"
    kill -KILL "$pid" 2>/dev/null || true
  fi
  wait "$pid" 2>/dev/null || status=$?
  return "$status"
}

# Waits (up to ten seconds) until a file exists, e.g. a ready mark; fails early when pid has died.
e2e_wait_for_file() {
  local file=$1 pid=$2 tries
  for ((tries = 0; tries < 100; tries++)); do
    [[ -e $file ]] && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# Lists every rule of the client's namespace, of either family, that names one of our chains (empty
# when none).
e2e_our_rules() {
  { e2e_client iptables-save 2>/dev/null || true; } | grep -E 'BRAMVELL' || true
  { e2e_client ip6tables-save 2>/dev/null || true; } | grep -E 'BRAMVELL' | sed 's/^/ip6: /' || true
}

e2e_cleanup() {
  local status=$?
  trap - EXIT INT TERM HUP
  local pid
  for pid in "${E2E_PIDS[@]}"; do
    if kill -0 "$pid" 2>/dev/null; then
      e2e_stop "$pid" || true
    fi
  done
  if [[ -n $E2E_DOVECOT_PID ]] && kill -0 "$E2E_DOVECOT_PID" 2>/dev/null; then
    kill -TERM "$E2E_DOVECOT_PID" 2>/dev/null || true
  fi
  # dovecot's own children (login and pop3 processes) live in the server's namespace; give them time
  # to end with their master, then end what is left there by PID.
  local ns tries
  for ns in "${E2E_NAMESPACES[@]}"; do
    for ((tries = 0; tries < 50; tries++)); do
      [[ -z $(ip netns pids "$ns" 2>/dev/null) ]] && break
      sleep 0.1
    done
    for pid in $(ip netns pids "$ns" 2>/dev/null); do
      kill -KILL "$pid" 2>/dev/null || true
    done
    ip netns del "$ns" 2>/dev/null || true
  done
  if [[ -n $E2E_DIR && -d $E2E_DIR && -z ${E2E_KEEP:-} ]]; then
    rm -rf "$E2E_DIR"
  fi
  exit "$status"
}
