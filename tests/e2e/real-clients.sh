#!/usr/bin/env bash
# Real mail clients through the real filter (`bramvell run --headless`) and dovecot, each against a
# mailbox with its spam before its good mail:
#  - fetchmail in its default mode (it retrieves with "TOP n 99999999") and with `keep`;
#  - mpop with pipelining on and off.
# With spam-answer = notice one fetch stores every good message unchanged (the client's own Received
# line aside) and a stand-in for each spam, and no spam is left on the server. With the default
# spam-answer = error, repeated fetches (at most one more than there are spam messages) get every good
# message and no spam is left on the server.
#
#   real-clients.sh PATH/TO/bramvell
set -euo pipefail
bramvell=$1
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/filter-lib.sh"
e2e_require_root "the real-client test"
bv_require_tools "the real-client test" python3 fetchmail mpop

e2e_setup
bv_init "$bramvell"
e2e_start_dovecot
bv_train "$BV_DATA/train/spam" "$BV_DATA/train/ham"

spam_files=("$BV_DATA"/mailbox/*-spam-*.eml)
ham_files=("$BV_DATA"/mailbox/*-ham-*.eml)
maildir=$E2E_DIR/dovecot/mail/$E2E_USER
export HOME=$E2E_DIR/client-home
mkdir -p "$HOME"

# The mailbox again from scratch: the spam first, then the good mail.
fill_mailbox() {
  rm -f "$maildir"/new/* "$maildir"/cur/* "$maildir"/dovecot* 2>/dev/null || true
  local file
  for file in "${spam_files[@]}" "${ham_files[@]}"; do
    e2e_add_message "$file"
  done
}

# Fails when any spam message is still in the server's mailbox.
# (dovecot may finish removing deleted files just after its answer to QUIT: allow it three seconds).
check_no_spam_left() {
  local what=$1 file id tries
  for file in "${spam_files[@]}"; do
    id="Subject: $(bv_header "$file" Subject)"
    for ((tries = 0; tries < 30; tries++)); do
      grep -rqsF -- "$id" "$maildir/new" "$maildir/cur" || continue 2
      sleep 0.1
    done
    bv_fail "$what: spam ${file##*/} is still on the server"
  done
}

# Compares what a client stored with the good messages: every one present once, unchanged but for
# the client's own Received line and line ends; stand-ins (X-Bramvell: stand-in) counted apart.
check_stored() {
  local what=$1 folder=$2 want_standins=$3
  python3 - "$folder" "$want_standins" "${ham_files[@]}" <<'EOF' || bv_fail "$what: stored mail differs (above)"
import os, sys
folder, want_standins, originals = sys.argv[1], int(sys.argv[2]), sys.argv[3:]

def normal(data):
    text = data.replace(b"\r\n", b"\n")
    head, _, body = text.partition(b"\n\n")
    lines, kept, skipping = head.split(b"\n"), [], False
    for line in lines:
        if line[:1] in (b" ", b"\t"):
            if not skipping:
                kept.append(line)
            continue
        skipping = line.lower().startswith(b"received:") and (b"fetchmail" in line or b"mpop" in line or
                                                                b"by " in line)
        if line.lower().startswith(b"received:"):
            skipping = True
        if not skipping:
            kept.append(line)
    return b"\n".join(kept) + b"\n\n" + body

stored, standins = [], 0
for root, _, files in os.walk(folder):
    for name in files:
        data = open(os.path.join(root, name), "rb").read()
        if b"\nX-Bramvell: stand-in" in data.replace(b"\r\n", b"\n") or data.startswith(b"X-Bramvell"):
            standins += 1
        else:
            stored.append(normal(data))
problems = []
for path in originals:
    want = normal(open(path, "rb").read())
    count = stored.count(want)
    if count != 1:
        problems.append("%s stored %d times" % (os.path.basename(path), count))
if len(stored) != len(originals):
    problems.append("%d messages stored, %d good ones expected" % (len(stored), len(originals)))
if want_standins >= 0 and standins != want_standins:
    problems.append("%d stand-ins, %d expected" % (standins, want_standins))
for problem in problems:
    print(problem)
sys.exit(1 if problems else 0)
EOF
}

# One fetch by a client into FOLDER; prints the client's exit status (a failing poll is expected in
# error mode).
fetch_with() {
  local client=$1 folder=$2 status=0
  mkdir -p "$folder/new" "$folder/cur" "$folder/tmp"
  case $client in
    fetchmail | fetchmail-keep)
      local rc=$E2E_DIR/fetchmailrc
      {
        printf 'set no syslog\n'
        printf 'poll %s protocol pop3 port 110 timeout 60 user "%s" password "%s"\n' \
          "$E2E_SERVER_ADDR" "$E2E_USER" "$E2E_PASSWORD"
        printf '  sslproto "" no sslcertck mda "%s %s/new"\n' "$E2E_DIR/store-message" "$folder"
        [[ $client == fetchmail-keep ]] && printf '  keep\n'
      } >"$rc"
      chmod 600 "$rc"
      e2e_client fetchmail --nodetach -f "$rc" >>"$E2E_DIR/$client.out" 2>&1 || status=$?
      ;;
    mpop-pipelining | mpop-no-pipelining)
      local pipelining=on
      [[ $client == mpop-no-pipelining ]] && pipelining=off
      e2e_client mpop --host="$E2E_SERVER_ADDR" --port=110 --tls=off --auth=user --user="$E2E_USER" \
        --passwordeval="echo $E2E_PASSWORD" --delivery="maildir,$folder" --keep=off --timeout=60 \
        --pipelining="$pipelining" --uidls-file="$E2E_DIR/$client.uidls" \
        >>"$E2E_DIR/$client.out" 2>&1 || status=$?
      ;;
  esac
  echo "$status"
}

cat >"$E2E_DIR/store-message" <<'EOF'
#!/bin/sh
# Stores one message from standard input as a new file in the folder given.
exec cat >"$1/$(date +%s%N).$$"
EOF
chmod 755 "$E2E_DIR/store-message"

clients=(fetchmail fetchmail-keep mpop-pipelining mpop-no-pipelining)
BV_LOG=$E2E_DIR/filter.log

# --- The stand-in answer: one fetch is enough.
bv_bramvell config set spam-answer notice >/dev/null
bv_start_filter "$BV_LOG" || bv_fail "bramvell run --headless did not start"
for client in "${clients[@]}"; do
  fill_mailbox
  folder=$E2E_DIR/stored-notice-$client
  status=$(fetch_with "$client" "$folder")
  [[ $status == 0 ]] || bv_fail "$client (notice): exit status $status: $(tail -n 5 "$E2E_DIR/$client.out")"
  check_stored "$client (notice)" "$folder" "${#spam_files[@]}"
  check_no_spam_left "$client (notice)"
  e2e_log "$client, spam-answer = notice: one fetch stored ${#ham_files[@]} good messages and ${#spam_files[@]} stand-ins"
done
bv_stop_filter || bv_fail "the filter did not end cleanly"

# --- The error line: a client may stop at it, and the next fetch goes past the deleted spam.
bv_bramvell config set spam-answer error >/dev/null
bv_start_filter "$BV_LOG" || bv_fail "bramvell run --headless did not start"
for client in "${clients[@]}"; do
  fill_mailbox
  rm -f "$E2E_DIR/$client.uidls"
  folder=$E2E_DIR/stored-error-$client
  statuses=()
  for ((poll = 0; poll <= ${#spam_files[@]}; poll++)); do
    statuses+=("$(fetch_with "$client" "$folder")")
  done
  check_stored "$client (error)" "$folder" 0
  check_no_spam_left "$client (error)"
  e2e_log "$client, spam-answer = error: $((${#spam_files[@]} + 1)) fetches (exit statuses ${statuses[*]}) stored every good message"
done
# mpop leaves at the error line without QUIT; the log says the engine sent one for it.
grep -rqs "left without QUIT" "$BV_HOME/log" || bv_fail "the activity log does not say that QUIT was sent"
bv_stop_filter || bv_fail "the filter did not end cleanly"
[[ -z $(e2e_our_rules) ]] || bv_fail "rules left after exit: $(e2e_our_rules)"
e2e_log "real clients: every good message stored, no spam left on the server"
