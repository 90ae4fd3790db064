# Helpers for running the real filter (`bramvell run --headless`) in the end-to-end environment of
# lib.sh: a private program folder and configuration folder, training, message retrieval with curl,
# listeners and senders in either namespace, and readers for the saved statistics. Sourced after
# lib.sh by the filtering test, scripts/demo and the retrieval benchmark.
#
#   bv_init BRAMVELL                    # after e2e_setup: BV_HOME, XDG_CONFIG_HOME inside E2E_DIR
#   bv_train SPAM_DIR HAM_DIR
#   bv_start_filter LOGFILE [ARG...]    # run --headless in the client's namespace; waits until ready
#                                       (ready file in BV_READY_DIR, default E2E_DIR)
#   bv_stop_filter                      # SIGTERM; fails when it does not end with status 0
#   bv_retrieve NUMBER OUTFILE ERRFILE  # one curl run for one message (verbose dialogue in ERRFILE)
#
# Variables: BV_BRAMVELL, BV_HOME (program folder), BV_PID (the running filter), BV_DATA (fixtures),
# BV_LOG (the filter's output, shown by bv_fail).

BV_DATA=$(cd "$E2E_LIB_DIR/../data/e2e" && pwd)
BV_PID=
BV_LOG=

# Skips the test (status 77) unless every tool named after WHAT is at hand.
bv_require_tools() {
  local what=$1 tool
  shift
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || {
      echo "SKIPPED: $what needs $tool (scripts/bootstrap installs it)"
      exit 77
    }
  done
}

# Fails the test with a message and the last lines of the filter's output (BV_LOG, once set).
bv_fail() {
  echo "FAILED: $*" >&2
  if [[ -n $BV_LOG && -f $BV_LOG ]]; then
    echo "--- bramvell output (last lines):" >&2
    tail -n 30 "$BV_LOG" >&2
  fi
  exit 1
}

bv_bramvell() { "$BV_BRAMVELL" --home "$BV_HOME" "$@"; }

# A program folder, a configuration folder and a runtime folder of our own, so that nothing of the
# user's is read or changed (settings, statistics, the autostart entry and the status socket go there).
bv_init() {
  BV_BRAMVELL=$1
  BV_HOME=$E2E_DIR/home
  XDG_CONFIG_HOME=$E2E_DIR/config
  XDG_RUNTIME_DIR=$E2E_DIR/runtime  # the status socket's folder
  export XDG_CONFIG_HOME XDG_RUNTIME_DIR
  mkdir -p "$BV_HOME" "$XDG_CONFIG_HOME"
  mkdir -m 0700 -p "$XDG_RUNTIME_DIR"
}

bv_train() {
  local spam=$1 ham=$2
  bv_bramvell learn spam "$spam" >"$E2E_DIR/learn-spam.out"
  bv_bramvell learn ham "$ham" >"$E2E_DIR/learn-ham.out"
}

# Writes a good message of at least the given size: a short letter followed by a long table of
# sensor readings (digits only, so the readings add no tokens and the letter decides the verdict).
bv_make_large_ham() {
  local file=$1 bytes=$2
  {
    printf 'From: Allotment Committee <committee@allotments.example.org>\n'
    printf 'To: tom.wright@example.net\nDate: Thu, 12 Mar 2026 10:00:00 +0000\n'
    printf 'Subject: Allotment soil readings for the whole year\n\n'
    printf 'Dear plot holders,\n\nAs agreed at the spring work morning, the soil sensors by the shed and the\n'
    printf 'compost bays recorded the moisture and temperature of each plot throughout the year.\n'
    printf 'The readings follow, a line per minute: date, clock, plot, moisture, temperature.\n'
    printf 'Thanks to everyone who helped repair the sensors and clear the paths.\n\n'
    awk -v bytes="$bytes" 'BEGIN {
      for (n = 0; total < bytes; n++) {
        line = sprintf("2025-%02d-%02d,%02d:%02d,%03d,%d.%d,%d.%d", n % 12 + 1, n % 28 + 1, int(n / 60) % 24,
                       n % 60, n % 150 + 1, 20 + n % 37, n % 10, 4 + n % 19, (n * 7) % 10)
        print line
        total += length(line) + 1
      }
    }'
    printf '\nThe Allotment Committee\n'
  } >"$file"
}

# Starts `bramvell run --headless --verbose` on the client's interface and waits for its ready file.
bv_start_filter() {
  local log=$1
  shift
  local ready=${BV_READY_DIR:-$E2E_DIR}/filter.ready
  rm -f "$ready"
  e2e_start_in_client "$log" "$BV_BRAMVELL" --home "$BV_HOME" run --headless --verbose \
    --interface "$E2E_CLIENT_IF" --ready-file "$ready" "$@"
  BV_PID=$E2E_LAST_PID
  if ! e2e_wait_for_file "$ready" "$BV_PID"; then
    e2e_log "bramvell run --headless did not start; its output:"
    cat "$log" >&2
    return 1
  fi
}

# Ends the filter with SIGTERM and waits for it (e2e_stop kills it after five seconds). Prints the
# seconds it took; fails unless it ended by itself with status 0.
bv_stop_filter() {
  local start=$EPOCHREALTIME status=0
  e2e_stop "$BV_PID" || status=$?
  BV_STOP_SECONDS=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }')
  BV_PID=
  return "$status"
}

bv_url() { echo "pop3://$E2E_USER:$E2E_PASSWORD@$E2E_SERVER_HOST/$1"; }

# One curl run for message NUMBER (its own connection). Returns curl's status; the POP3 dialogue is
# in ERRFILE (curl -v), so a server's "-ERR" line can be read from there.
bv_retrieve() {
  local number=$1 out=$2 err=$3
  e2e_client curl -v -s --max-time 120 -o "$out" "$(bv_url "$number")" 2>"$err"
}

# The first "-ERR" answer that curl received, without the line end.
bv_err_line() { sed -n 's/^< \(-ERR.*\)$/\1/p' "$1" | tr -d '\r' | head -n 1; }

# The server's message list as "NUMBER SIZE" lines (curl's LIST).
bv_server_list() { e2e_client curl -s -S --max-time 30 "pop3://$E2E_USER:$E2E_PASSWORD@$E2E_SERVER_HOST/" | tr -d '\r'; }

# A header's value in a message file ("From", "Subject"...), as the first such line has it.
bv_header() { sed -n "s/^$2: //p" "$1" | tr -d '\r' | head -n 1; }

# The quarantine copy of a message as served: its lines dot-stuffed as on the wire, CR LF line ends,
# and the terminating "." line (what the server sent after its status line).
bv_expected_quarantine() {
  sed -e 's/\r$//' -e 's/^\./../' -e 's/$/\r/' "$1"
  printf '.\r\n'
}

# The eight statistics of reg.bak, space-separated: ham, spam, lower, capital, upper, emailsFiltered,
# spamCount, popupsBlocked (little-endian 32-bit each).
bv_statistics_backup() { od -A n -t d4 -N 32 -v --endian=little "$1" | xargs; }

# The same eight statistics from the stored settings value (fields 37 to 44 of the settings blob:
# 4-byte integers and length-prefixed texts in their fixed order).
bv_settings_statistics() {
  python3 - "$1" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
texts = {8, 10, 11, 28, 46, 47, 48}
pos, values = 0, {}
for field in range(1, 52):
    if field in texts:
        length = data[pos]; pos += 1
        if length == 255:
            length = struct.unpack_from("<H", data, pos)[0]; pos += 2
            if length == 0xFFFF:
                length = struct.unpack_from("<I", data, pos)[0]; pos += 4
        pos += length
    else:
        values[field] = struct.unpack_from("<i", data, pos)[0]; pos += 4
print(" ".join(str(values[f]) for f in range(37, 45)))
EOF
}

# A UDP listener in the client's namespace: every datagram to one of the ports becomes a line
# "PORT SOURCE-PORT PAYLOAD" in OUTFILE. Stopped at cleanup.
bv_start_udp_listener() {
  local out=$1
  shift
  e2e_start_in_client "$out.log" python3 -u -c '
import os, select, socket, sys
six = os.environ.get("E2E_FAMILY") == "6"
out = open(sys.argv[1], "a", buffering=1)
sockets = []
for port in sys.argv[2:]:
    s = socket.socket(socket.AF_INET6 if six else socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("::" if six else "0.0.0.0", int(port)))
    sockets.append(s)
print("ready", flush=True)
while True:
    for s in select.select(sockets, [], [])[0]:
        data, peer = s.recvfrom(2048)
        out.write("%d %d %s\n" % (s.getsockname()[1], peer[1], data.decode(errors="replace")))
' "$out" "$@"
  local tries
  for ((tries = 0; tries < 50; tries++)); do
    grep -q ready "$out.log" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# Sends one datagram from the server's namespace to the client: bv_send_datagram PORT TEXT [FROM_PORT].
bv_send_datagram() {
  e2e_server python3 -c '
import os, socket, sys
six = os.environ.get("E2E_FAMILY") == "6"
s = socket.socket(socket.AF_INET6 if six else socket.AF_INET, socket.SOCK_DGRAM)
if len(sys.argv) > 4:
    s.bind(("::" if six else "0.0.0.0", int(sys.argv[4])))
s.sendto(sys.argv[3].encode(), (sys.argv[1], int(sys.argv[2])))
' "$E2E_CLIENT_ADDR" "$@"
}

# A mail server stand-in on port 25 in the server's namespace: greets every connection and closes it.
bv_start_smtp_listener() {
  ip netns exec "$E2E_SERVER_NS" python3 -u -c '
import os, socket
six = os.environ.get("E2E_FAMILY") == "6"
s = socket.socket(socket.AF_INET6 if six else socket.AF_INET, socket.SOCK_STREAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("::" if six else "0.0.0.0", 25))
s.listen(16)
print("ready", flush=True)
while True:
    c, _ = s.accept()
    c.sendall(b"220 mail.example.net ESMTP ready\r\n")
    c.close()
' >"$E2E_DIR/smtp.log" 2>&1 &
  E2E_PIDS+=($!)
  local tries
  for ((tries = 0; tries < 50; tries++)); do
    grep -q ready "$E2E_DIR/smtp.log" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# Connects from the client's namespace to port 25 of the server and prints the greeting; prints
# nothing when no answer comes within the given seconds.
bv_smtp_greeting() {
  e2e_client python3 -c '
import socket, sys
try:
    c = socket.create_connection((sys.argv[1], 25), timeout=float(sys.argv[2]))
    print(c.recv(200).decode(errors="replace").strip())
except OSError:
    pass
' "$E2E_SERVER_ADDR" "${1:-2}"
}

# Retrieves the messages that ${expected[]} marks ham (of $total) in one curl connection and checks each
# against its direct copy in $E2E_DIR/direct; leaves their numbers in good=().
bv_check_good_messages() {
  good=()
  local n
  for ((n = 1; n <= total; n++)); do
    [[ ${expected[n - 1]} == ham ]] && good+=("$n")
  done
  : >"$E2E_DIR/good.curlrc"
  for n in "${good[@]}"; do
    printf 'url = "%s"\noutput = "%s/%d"\n' "$(bv_url "$n")" "$E2E_DIR/filtered" "$n" >>"$E2E_DIR/good.curlrc"
  done
  mkdir -p "$E2E_DIR/filtered"
  e2e_client curl -s -S --fail --max-time 120 -K "$E2E_DIR/good.curlrc" 2>"$E2E_DIR/good.err" ||
    bv_fail "curl failed on the good messages: $(cat "$E2E_DIR/good.err")"
  for n in "${good[@]}"; do
    cmp -s "$E2E_DIR/direct/$n" "$E2E_DIR/filtered/$n" ||
      bv_fail "good message $n differs from the direct retrieval ($(stat -c %s "$E2E_DIR/filtered/$n") of $(stat -c %s "$E2E_DIR/direct/$n") bytes)"
  done
}
