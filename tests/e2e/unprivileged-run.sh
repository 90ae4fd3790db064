#!/usr/bin/env bash
# The filter run by an ordinary user whose copy of `bramvell` carries the file capabilities that
# `cmake --install` gives it (cap_net_admin,cap_net_raw+ep): it installs its rules (iptables is
# started with the capabilities passed on), delivers a good message byte-identical, deletes a spam
# message on the server, and removes its rules when it ends.
#
#   unprivileged-run.sh PATH/TO/bramvell
set -euo pipefail
bramvell=$1
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/filter-lib.sh"
e2e_require_root "the unprivileged run test"
bv_require_tools "the unprivileged run test" setpriv setcap python3

e2e_setup
bv_init "$bramvell"
e2e_start_dovecot

good=$BV_DATA/mailbox/01-ham-meeting-moved.eml
spam=$BV_DATA/mailbox/02-spam-prize.eml
e2e_add_message "$good"
e2e_add_message "$spam"
e2e_fetch_all 2 "$E2E_DIR/direct"
bv_train "$BV_DATA/train/spam" "$BV_DATA/train/ham"

# A copy of the program with file capabilities, started as nobody: no root, no ambient capabilities.
nobody=65534
mkdir -p "$E2E_DIR/bin"
cp "$bramvell" "$E2E_DIR/bin/bramvell"
setcap cap_net_admin,cap_net_raw+ep "$E2E_DIR/bin/bramvell" ||
  {
    echo "SKIPPED: file capabilities cannot be set here"
    exit 77
  }
chown -R "$nobody:$nobody" "$BV_HOME" "$XDG_CONFIG_HOME"
mkdir -p "$E2E_DIR/run"
chown "$nobody:$nobody" "$E2E_DIR/run"
cat >"$E2E_DIR/bin/as-nobody" <<WRAPPER
#!/bin/sh
exec setpriv --reuid=$nobody --regid=$nobody --clear-groups --inh-caps=-all -- "$E2E_DIR/bin/bramvell" "\$@"
WRAPPER
chmod 755 "$E2E_DIR/bin/as-nobody"
BV_BRAMVELL=$E2E_DIR/bin/as-nobody

BV_LOG=$E2E_DIR/run/filter.log
BV_READY_DIR=$E2E_DIR/run
bv_start_filter "$BV_LOG" || bv_fail "the filter did not start as an ordinary user"
owner=$(stat -c %u "/proc/$BV_PID")
[[ $owner == "$nobody" ]] || bv_fail "the filter runs as user $owner, expected $nobody"
[[ -n $(e2e_our_rules) ]] || bv_fail "no rule of ours was installed"

bv_retrieve 1 "$E2E_DIR/good.out" "$E2E_DIR/good.err" || bv_fail "the good message was not retrieved"
cmp -s "$E2E_DIR/good.out" "$E2E_DIR/direct/1" || bv_fail "the good message differs from a direct retrieval"
bv_retrieve 2 "$E2E_DIR/spam.out" "$E2E_DIR/spam.err" || true
line=$(bv_err_line "$E2E_DIR/spam.err")
[[ $line == "-ERR Filtered by Bramvell - message from "* ]] || bv_fail "spam: curl got '$line'"

bv_stop_filter || bv_fail "the filter did not end by itself with status 0"
[[ -z $(e2e_our_rules) ]] || bv_fail "rules left after the run: $(e2e_our_rules)"
left=$(bv_server_list | grep -c '^[0-9]' || true)
[[ $left == 1 ]] || bv_fail "the server holds $left messages, expected the good one alone"
e2e_log "an ordinary user with file capabilities filtered, delivered and cleaned up"
echo "PASSED"
