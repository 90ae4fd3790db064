#!/usr/bin/env bash
# The filter run by an ordinary user whose copy of `bramvell` carries the file capabilities that
# `cmake --install` gives it (cap_net_admin,cap_net_raw+ep), started with a hostile environment: a
# fake iptables and iptables-restore first in PATH, and XTABLES_LIBDIR and LD_PRELOAD pointing at
# shared objects of our own. It installs its rules with the real iptables (nothing of ours runs),
# delivers the user's good message byte-identical, deletes the user's spam message on the server,
# leaves another user's retrieval of spam untouched, and removes its rules when it ends. Then root's
# run narrowed with --user installs that user's rules instead of everyone's.
#
#   unprivileged-run.sh PATH/TO/bramvell
set -euo pipefail
bramvell=$1
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/filter-lib.sh"
e2e_require_root "the unprivileged run test"
bv_require_tools "the unprivileged run test" setpriv setcap python3 cc

e2e_setup
bv_init "$bramvell"
e2e_start_dovecot

good=$BV_DATA/mailbox/01-ham-meeting-moved.eml
spam=$BV_DATA/mailbox/02-spam-prize.eml
e2e_add_message "$good"
e2e_add_message "$spam"
e2e_add_message "$spam" # for another user's retrieval
e2e_fetch_all 3 "$E2E_DIR/direct"
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
run=$E2E_DIR/run
mkdir -p "$run"
chown "$nobody:$nobody" "$run"

# What a user could plant for programs started with the capabilities: programs found through PATH,
# iptables extensions found through XTABLES_LIBDIR, a preloaded library. Each leaves a marker if run.
markers=$run/markers
hostile=$E2E_DIR/hostile
mkdir -p "$markers" "$hostile/bin" "$hostile/lib"
chmod 777 "$markers"
for program in iptables iptables-restore iptables-nft iptables-nft-restore xtables-nft-multi; do
  printf '#!/bin/sh\necho "%s $*" >>%s/program\nexit 0\n' "$program" "$markers" >"$hostile/bin/$program"
  chmod 755 "$hostile/bin/$program"
done
cat >"$hostile/marker.c" <<C
#include <fcntl.h>
#include <unistd.h>
__attribute__((constructor)) static void leave_marker(void) {
    int fd = open("$markers/library", O_WRONLY | O_CREAT | O_APPEND, 0666);
    if (fd >= 0) { write(fd, "loaded\n", 7); close(fd); }
}
C
for extension in standard owner mark connmark CONNMARK NFQUEUE NFLOG multiport tcp udp length limit; do
  cc -shared -fPIC -o "$hostile/lib/libxt_$extension.so" "$hostile/marker.c"
done
cat >"$E2E_DIR/bin/as-nobody" <<WRAPPER
#!/bin/sh
exec setpriv --reuid=$nobody --regid=$nobody --clear-groups --inh-caps=-all -- /usr/bin/env \
  PATH=$hostile/bin:/usr/bin:/bin XTABLES_LIBDIR=$hostile/lib LD_PRELOAD=$hostile/lib/libxt_standard.so \
  "$E2E_DIR/bin/bramvell" "\$@"
WRAPPER
chmod 755 "$E2E_DIR/bin/as-nobody"
BV_BRAMVELL=$E2E_DIR/bin/as-nobody

BV_LOG=$run/filter.log
BV_READY_DIR=$run
bv_start_filter "$BV_LOG" || bv_fail "the filter did not start as an ordinary user"
owner=$(stat -c %u "/proc/$BV_PID")
[[ $owner == "$nobody" ]] || bv_fail "the filter runs as user $owner, expected $nobody"
[[ -n $(e2e_our_rules) ]] || bv_fail "no rule of ours was installed"
# Idle, no thread has a capability effective, and CAP_NET_RAW is gone once the raw socket is open:
# only CAP_NET_ADMIN (bit 12) stays permitted, for removing the rules at the end.
capabilities() { cat /proc/"$BV_PID"/task/*/status | sed -n "s/^$1:\t//p" | sort -u | xargs; }
for ((tries = 0; tries < 20; tries++)); do
  [[ $(capabilities CapEff) == 0000000000000000 ]] && break
  sleep 0.1
done
[[ $(capabilities CapEff) == 0000000000000000 ]] ||
  bv_fail "effective capabilities while idle: $(capabilities CapEff)"
[[ $(capabilities CapPrm) == 0000000000001000 ]] || bv_fail "permitted capabilities: $(capabilities CapPrm)"
rules=$(e2e_our_rules)
grep -q -- "--uid-owner $nobody" <<<"$rules" || bv_fail "no rule matches the user's own sockets: $rules"
grep -q -- "BRAMVELL-MARK-$nobody" <<<"$rules" || bv_fail "no connection mark rule: $rules"

# Another user's retrieval (root's curl) passes as if no filter ran: same bytes, nothing deleted,
# nothing quarantined.
bv_retrieve 3 "$E2E_DIR/other.out" "$E2E_DIR/other.err" || bv_fail "another user's retrieval failed"
cmp -s "$E2E_DIR/other.out" "$E2E_DIR/direct/3" || bv_fail "another user's spam message was changed"
left=$(bv_server_list | grep -c '^[0-9]' || true)
[[ $left == 3 ]] || bv_fail "after another user's retrieval the server holds $left messages, expected 3"
quarantine=$BV_HOME/quarantine
copies=$(find "$quarantine" -maxdepth 1 -type f 2>/dev/null | wc -l)
[[ $copies == 0 ]] || bv_fail "another user's message was quarantined"

# The user's own retrievals are filtered.
as_user() { e2e_client setpriv --reuid=$nobody --regid=$nobody --clear-groups "$@"; }
as_user curl -v -s --max-time 120 -o "$run/good.out" "$(bv_url 1)" 2>"$run/good.err" ||
  bv_fail "the good message was not retrieved"
cmp -s "$run/good.out" "$E2E_DIR/direct/1" || bv_fail "the good message differs from a direct retrieval"
as_user curl -v -s --max-time 120 -o "$run/spam.out" "$(bv_url 2)" 2>"$run/spam.err" || true
line=$(bv_err_line "$run/spam.err")
[[ $line == "-ERR Filtered by Bramvell - message from "* ]] || bv_fail "spam: curl got '$line'"
copies=$(find "$quarantine" -maxdepth 1 -type f | wc -l)
[[ $copies == 1 ]] || bv_fail "$copies quarantine copies of the user's spam, expected 1"

bv_stop_filter || bv_fail "the filter did not end by itself with status 0"
[[ -z $(e2e_our_rules) ]] || bv_fail "rules left after the run: $(e2e_our_rules)"
left=$(bv_server_list | grep -c '^[0-9]' || true)
[[ $left == 2 ]] || bv_fail "the server holds $left messages, expected the good one and the other user's"
[[ ! -e $markers/program ]] || bv_fail "a program found through PATH ran: $(cat "$markers/program")"
[[ ! -e $markers/library ]] || bv_fail "a library of the caller's choosing was loaded"

# Root narrowed to one user installs that user's rules, not the everyone rules of a plain root run.
BV_BRAMVELL=$bramvell
BV_HOME=$E2E_DIR/root-home
BV_LOG=$E2E_DIR/root-filter.log
BV_READY_DIR=$E2E_DIR
mkdir -p "$BV_HOME"
bv_start_filter "$BV_LOG" --user nobody || bv_fail "root's run for user nobody did not start"
rules=$(e2e_our_rules)
grep -q -- "-A BRAMVELL-OUT-$nobody .*--uid-owner $nobody" <<<"$rules" || bv_fail "root --user nobody: $rules"
! grep -q -- "BRAMVELL-OUT " <<<"$rules" || bv_fail "root --user nobody installed the everyone rules: $rules"
bv_stop_filter || bv_fail "root's run for user nobody did not end with status 0"
[[ -z $(e2e_our_rules) ]] || bv_fail "rules left after root's run: $(e2e_our_rules)"
e2e_log "an ordinary user with file capabilities filtered its own mail alone, ignoring a hostile environment"
echo "PASSED"
