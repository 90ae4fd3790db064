#!/usr/bin/env bash
# The Debian package, built by CPack from BUILD_DIR, checked and then installed on this machine:
#  - the control data: name, dependencies (Qt 6 widgets, libmnl0, iptables,
#    libcap2-bin, passwd; the packet source speaks netlink through libmnl, not libnetfilter-queue),
#    maintainer scripts; the contents: every file and its mode, owned by root,
#    nothing outside /usr; the units pass `systemd-analyze verify`; the manual page renders with
#    `man -l` without a warning; the desktop entry validates; lintian finds no error or warning.
#  - dpkg -i: the group bramvell, the program root:bramvell 0750 with cap_net_admin,cap_net_raw=ep,
#    run by a member of the group and refused to anyone else.
#  - the system unit's command line (same arguments and environment, its capability bounding set,
#    no-new-privileges, a read-only system, no home, a private /tmp, and the test's folder as
#    /var/lib/bramvell), run inside a network namespace of the test's: it filters a POP3 retrieval, stops on SIGTERM with status 0, removes its
#    rules and keeps its state private; killed with SIGKILL it leaves its chains, and prerm's removal
#    takes exactly those away. The user unit's command, run by a member of the group with no
#    capability of its own, installs that user's rules and stops cleanly.
#  - dpkg -r, dpkg --purge: no file of the package, no group, no override, no /var/lib/bramvell, no
#    BRAMVELL chain; the machine as before.
#
#   debian-package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/filter-lib.sh"
e2e_require_root "the Debian package test"
bv_require_tools "the Debian package test" unshare mount cmake dpkg dpkg-deb dpkg-shlibdeps dpkg-statoverride getcap \
  setpriv systemd-analyze man groupadd
if dpkg-query -W -f='${Status}' bramvell 2>/dev/null | grep -q 'installed\|config-files\|unpacked'; then
  echo "SKIPPED: a bramvell package is on this machine already; the test installs and purges its own"
  exit 77
fi
for path in /usr/bin/bramvell /var/lib/bramvell /usr/libexec/bramvell; do
  if [[ -e $path ]]; then
    echo "SKIPPED: $path exists already (the test's purge would remove it)"
    exit 77
  fi
done
if getent group bramvell >/dev/null; then
  echo "SKIPPED: the group bramvell exists already (the package's purge would remove it)"
  exit 77
fi
fail() { bv_fail "$@"; }

host_rules() { { iptables-save 2>/dev/null || true; } | grep -c 'BRAMVELL' || true; }
rules_before=$(host_rules)
groups_before=$(cat /etc/group /etc/gshadow 2>/dev/null)
overrides_before=$(dpkg-statoverride --list)
[[ $rules_before == 0 ]] || e2e_log "note: this machine has $rules_before BRAMVELL rules before the test"

# --- The package, from the build that is there (CPack reruns only the install rules).
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$build/bramvell_${version}_$(dpkg --print-architecture).deb
work=$(mktemp -d /tmp/bramvell-deb.XXXXXX)
installed=
cleanup_package() {
  local status=$?
  set +e
  if [[ -n $installed ]]; then
    dpkg --purge bramvell >/dev/null 2>&1 || true
    # In case purge could not: nothing of the package may stay.
    if getent group bramvell >/dev/null; then groupdel bramvell 2>/dev/null || true; fi
  fi
  rm -rf "$work"
  (exit "$status")
  e2e_cleanup
}
trap cleanup_package EXIT
trap 'exit 130' INT TERM HUP
cmake --build "$build" --target package >"$work/cpack.log" 2>&1 || fail "cpack: $(tail -n 30 "$work/cpack.log")"
[[ -f $deb ]] || fail "no package $deb: $(tail -n 30 "$work/cpack.log")"
e2e_log "package $deb"

# --- Control data.
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == bramvell ]] || fail "package name '$(field Package)'"
[[ $(field Version) == "$version" ]] || fail "version '$(field Version)', expected $version"
depends=$(field Depends)
# The package names alone, one a line (versions and alternatives dropped).
depends_names=$(sed 's/([^)]*)//g; s/|/,/g' <<<"$depends" | tr ',' '\n' | tr -d ' ')
for dependency in libqt6widgets6 libqt6core6 libmnl0 libc6 libstdc++6 iptables libcap2-bin \
  passwd; do
  grep -Fqx "$dependency" <<<"$depends_names" || fail "Depends lacks $dependency: $depends"
done
[[ -n $(field Description) && -n $(field Maintainer) ]] || fail "no description or maintainer"
dpkg-deb -e "$deb" "$work/control"
for script in postinst prerm postrm; do
  [[ -x $work/control/$script ]] || fail "no executable $script in the package"
  sh -n "$work/control/$script" || fail "$script is no valid shell script"
done

# --- Contents: each file with its mode, all root's, nothing else.
dpkg-deb -c "$deb" | awk '{ sub(/^\.\//, "", $6); print $1, $2, $6 }' >"$work/contents"
expected="-rwxr-xr-x root/root usr/bin/bramvell
-rwxr-xr-x root/root usr/libexec/bramvell/remove-rules
-rw-r--r-- root/root usr/lib/systemd/system/bramvell.service
-rw-r--r-- root/root usr/lib/systemd/user/bramvell.service
-rw-r--r-- root/root usr/share/applications/bramvell.desktop
-rw-r--r-- root/root usr/share/doc/bramvell/changelog.gz
-rw-r--r-- root/root usr/share/doc/bramvell/copyright
-rw-r--r-- root/root usr/share/icons/hicolor/scalable/apps/bramvell.svg
-rw-r--r-- root/root usr/share/man/man1/bramvell.1.gz"
actual_files=$(grep -v '^d' "$work/contents" | sort)
[[ $actual_files == "$(sort <<<"$expected")" ]] ||
  fail "package files differ from the expected ones:$(diff <(sort <<<"$expected") <(echo "$actual_files") || true)"
bad_dirs=$(grep '^d' "$work/contents" | grep -v '^drwxr-xr-x root/root ' || true)
[[ -z $bad_dirs ]] || fail "folders with another mode or owner: $bad_dirs"
outside=$(awk '{ print $3 }' "$work/contents" | grep -Ev '^(usr(/.*)?/?|)$' || true)
[[ -z $outside ]] || fail "files outside /usr: $outside"

dpkg-deb -x "$deb" "$work/root"
system_unit=$work/root/usr/lib/systemd/system/bramvell.service
user_unit=$work/root/usr/lib/systemd/user/bramvell.service
grep -qx 'ExecStart=/usr/bin/bramvell --home /var/lib/bramvell run --headless' "$system_unit" ||
  fail "system unit's ExecStart: $(grep ExecStart "$system_unit")"
grep -qx 'ExecStart=/usr/bin/bramvell run --headless' "$user_unit" || fail "user unit's ExecStart: $(grep ExecStart "$user_unit")"
for line in StateDirectory=bramvell StateDirectoryMode=0700 KillSignal=SIGTERM \
  'CapabilityBoundingSet=CAP_NET_ADMIN CAP_NET_RAW' NoNewPrivileges=yes ProtectSystem=strict ProtectHome=yes \
  PrivateTmp=yes ProtectKernelTunables=yes WantedBy=multi-user.target; do
  grep -qx "$line" "$system_unit" || fail "system unit lacks $line"
done
grep -qx WantedBy=default.target "$user_unit" || fail "user unit is not wanted by default.target"
# File capabilities count only without no-new-privileges and outside a user namespace.
if grep -Eq '^(NoNewPrivileges=yes|Protect|Private|CapabilityBoundingSet|AmbientCapabilities)' "$user_unit"; then
  fail "user unit sets an option that defeats the file capabilities: $(grep -E '^(NoNew|Protect|Private|Capab|Ambient)' "$user_unit")"
fi

man_warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
  "$work/root/usr/share/man/man1/bramvell.1.gz" 2>&1 >/dev/null || true)
[[ -z $man_warnings ]] || fail "man -l warns: $man_warnings"
LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$work/root/usr/share/man/man1/bramvell.1.gz" 2>/dev/null | grep -q '^SYNOPSIS' ||
  fail "the manual page does not render"
if command -v desktop-file-validate >/dev/null 2>&1; then
  desktop-file-validate "$work/root/usr/share/applications/bramvell.desktop" || fail "desktop entry"
fi
if command -v lintian >/dev/null 2>&1; then
  lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 || fail "lintian: $(grep -v 'root privileges' "$work/lintian.log")"
else
  e2e_log "lintian is missing (scripts/bootstrap installs it): the package's policy checks are left out"
fi
e2e_log "package contents, units, manual page and lintian checked"

# --- Installation.
e2e_setup
trap cleanup_package EXIT
installed=1
DEBIAN_FRONTEND=noninteractive dpkg -i "$deb" >"$work/install.log" 2>&1 || fail "dpkg -i: $(cat "$work/install.log")"
dpkg-query -W -f='${Status}' bramvell | grep -q 'install ok installed' || fail "not installed: $(cat "$work/install.log")"
program=/usr/bin/bramvell
"$program" --version >"$work/version" 2>&1 || fail "bramvell --version: $(cat "$work/version")"
grep -q "$version" "$work/version" || fail "bramvell --version prints '$(cat "$work/version")'"
group=$(getent group bramvell) || fail "no group bramvell after installing"
gid=$(cut -d: -f3 <<<"$group")
((gid < 1000)) || fail "the group bramvell is no system group (gid $gid)"
[[ $(stat -c '%a %U %G' "$program") == '750 root bramvell' ]] || fail "program: $(stat -c '%a %U %G' "$program")"
caps=$(getcap "$program")
[[ $caps == *cap_net_admin,cap_net_raw=ep* ]] || fail "capabilities of $program: '$caps'"
dpkg-statoverride --list "$program" | grep -q '^root bramvell 0\{0,1\}750 ' ||
  fail "no owner override: $(dpkg-statoverride --list "$program" || true)"
# A member of the group may run it, anyone else may not.
# (Started through a shell: setpriv's own exec of the program is not refused the way a user's is.)
run_as_nobody() { setpriv --reuid=65534 --regid=65534 "$@" -- sh -c 'exec "$0" --version' "$program" >/dev/null 2>&1; }
run_as_nobody --groups="$gid" || fail "a member of group bramvell cannot run the program"
if run_as_nobody --clear-groups; then
  fail "a user outside group bramvell can run the program"
fi
e2e_log "installed: group bramvell ($gid), $program 0750 root:bramvell, $caps"

# Installing it again (what an upgrade does: prerm upgrade, the new file unpacked, postinst with the
# old version) keeps one group, the owner, the mode and the capabilities.
DEBIAN_FRONTEND=noninteractive dpkg -i "$deb" >"$work/reinstall.log" 2>&1 || fail "dpkg -i again: $(cat "$work/reinstall.log")"
[[ $(getent group bramvell) == "$group" ]] || fail "the group changed on reinstalling: $(getent group bramvell)"
[[ $(stat -c '%a %U %G' "$program") == '750 root bramvell' ]] || fail "reinstalled program: $(stat -c '%a %U %G' "$program")"
[[ $(getcap "$program") == *cap_net_admin,cap_net_raw=ep* ]] || fail "reinstalled program's capabilities: '$(getcap "$program")'"
[[ $(dpkg-statoverride --list "$program" | wc -l) == 1 ]] || fail "owner overrides: $(dpkg-statoverride --list "$program")"

# The installed units against this machine's systemd, offline (verify needs no running manager, only
# the programs the units name): no error and no warning (an unknown or misspelt key is only a warning).
verify_unit() {
  local log=$work/verify-$1.log
  shift
  if ! SYSTEMD_LOG_COLOR=0 systemd-analyze "$@" >"$log" 2>&1 || [[ -s $log ]]; then
    fail "systemd-analyze $*: $(cat "$log")"
  fi
}
verify_unit system verify --man=no /usr/lib/systemd/system/bramvell.service
mkdir -m 0700 "$work/runtime"
XDG_RUNTIME_DIR=$work/runtime verify_unit user --user verify --man=no /usr/lib/systemd/user/bramvell.service
e2e_log "the system and user units verify"

# --- The system unit's command, inside the test's namespace, as systemd would start it: ExecStart and
# Environment as the installed unit has them, in a mount namespace of its own that stands in for the
# unit's sandbox (ProtectSystem=strict: the root file system read-only; ProtectHome=yes: /home and
# /root empty and read-only; PrivateTmp=yes: an empty /tmp; ProtectKernelTunables=yes: /proc/sys and
# /sys read-only; StateDirectory=: /var/lib/bramvell the one
# writable folder, here the test's own folder mounted there, over an empty /var/lib), under the unit's
# capability bounding set and no-new-privileges, with the environment systemd gives a service. What
# this namespace mounts is seen by no other process and goes away with it.
installed_unit=/usr/lib/systemd/system/bramvell.service
state=$E2E_DIR/state
mkdir -m 0700 "$state"
read -r -a unit_command <<<"$(sed -n 's/^ExecStart=//p' "$installed_unit")"
environment=(PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8)
while read -r assignment; do
  environment+=("$assignment")
done < <(sed -n 's/^Environment=//p' "$installed_unit")
bounding=$(sed -n 's/^CapabilityBoundingSet=//p' "$installed_unit" | tr 'A-Z ' 'a-z\n' | sed 's/^cap_/+/' | paste -sd,)
[[ $(sed -n 's/^StateDirectory=//p' "$installed_unit") == bramvell ]] || fail "the unit's StateDirectory changed"
# shellcheck disable=SC2016
sandbox='set -e
mount -t tmpfs -o mode=0755 bramvell-var-lib /var/lib
mkdir -m 0700 /var/lib/bramvell
mount --bind "$0" /var/lib/bramvell
mount -t tmpfs -o mode=1777 bramvell-tmp /tmp
mount -t tmpfs -o ro,mode=0755 bramvell-home /home
mount -t tmpfs -o ro,mode=0700 bramvell-root /root
mount -o remount,bind,ro /var/lib
mount -o remount,bind,ro /
mount --bind /proc/sys /proc/sys
mount -o remount,bind,ro /proc/sys
mount -o remount,bind,ro /sys
umask 0077
exec "$@"'
start_unit_command() {
  e2e_start_in_client "$1" unshare --mount --propagation private sh -c "$sandbox" "$state" \
    setpriv --no-new-privs --bounding-set "-all,$bounding" -- env -i "${environment[@]}" "${unit_command[@]}"
  BV_PID=$E2E_LAST_PID
}
wait_for_rules() {
  local tries
  for ((tries = 0; tries < 100; tries++)); do
    [[ -n $(e2e_our_rules) ]] && return 0
    kill -0 "$BV_PID" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
e2e_start_dovecot
e2e_make_small_message "$E2E_DIR/good.eml" 1
e2e_add_message "$E2E_DIR/good.eml"
e2e_fetch_all 1 "$E2E_DIR/direct"

BV_LOG=$E2E_DIR/unit.log
start_unit_command "$BV_LOG"
wait_for_rules || fail "the system unit's command did not start filtering (${unit_command[*]})"
e2e_fetch_all 1 "$E2E_DIR/filtered" || fail "retrieval through the filter failed"
cmp -s "$E2E_DIR/direct/1" "$E2E_DIR/filtered/1" || fail "the message came through the filter changed"
status=0
e2e_stop "$BV_PID" || status=$?
[[ $status == 0 ]] || fail "on SIGTERM the filter ended with status $status"
[[ -z $(e2e_our_rules) ]] || fail "rules left after SIGTERM: $(e2e_our_rules)"
[[ -s $state/reg.bak ]] || fail "no reg.bak in the state folder"
[[ -s $state/config/Bramvell/bramvell/Options/General ]] || fail "settings not in the state folder's config"
shared=$(find "$state" \( -type d ! -perm 0700 \) -o \( -type f ! -perm 0600 \) | head -n 5)
[[ -z $shared ]] || fail "state not private: $shared"
e2e_log "the system unit's command filtered, stopped with status 0 and removed its rules"

# The user unit's command, as a member of group bramvell with the environment a user's service manager
# gives (HOME, no capability of its own: the program file's give it what it needs), started through a
# shell as a user's manager starts it. Its rules are that user's; its state goes to the user's default
# program folder and settings.
user_unit=/usr/lib/systemd/user/bramvell.service
read -r -a user_command <<<"$(sed -n 's/^ExecStart=//p' "$user_unit")"
user_home=$E2E_DIR/user-home
mkdir -m 0700 "$user_home"
chown 65534:65534 "$user_home"
BV_LOG=$E2E_DIR/user-unit.log
e2e_start_in_client "$BV_LOG" setpriv --reuid=65534 --regid=65534 --groups="$gid" --inh-caps=-all -- \
  env -i HOME="$user_home" PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 \
  sh -c 'umask 0077 && exec "$@"' bramvell "${user_command[@]}"
BV_PID=$E2E_LAST_PID
wait_for_rules || fail "the user unit's command did not start filtering (${user_command[*]})"
[[ $(stat -c %u "/proc/$BV_PID") == 65534 ]] || fail "the user's filter does not run as the user"
e2e_our_rules | grep -q 'BRAMVELL-OUT-65534' || fail "the user's filter installed no rules of its own: $(e2e_our_rules)"
status=0
e2e_stop "$BV_PID" || status=$?
[[ $status == 0 ]] || fail "on SIGTERM the user's filter ended with status $status"
[[ -z $(e2e_our_rules) ]] || fail "rules left by the user's filter: $(e2e_our_rules)"
[[ -s $user_home/.local/share/bramvell/reg.bak ]] || fail "the user's filter kept no reg.bak in ~/.local/share/bramvell"
[[ -s $user_home/.config/Bramvell/bramvell/Options/General ]] || fail "the user's filter saved no settings"
e2e_log "the user unit's command ran as a member of bramvell on the file capabilities alone: own rules, clean stop"

# A filter that is killed leaves its chains; prerm's removal takes away those and only those.
BV_LOG=$E2E_DIR/killed.log
start_unit_command "$BV_LOG"
wait_for_rules || fail "the second run did not start filtering"
kill -KILL "$BV_PID"
wait "$BV_PID" 2>/dev/null || true
[[ -n $(e2e_our_rules) ]] || fail "the killed filter left no chain (nothing to test the removal with)"
e2e_client iptables -t filter -N KEEP-THIS
e2e_client iptables -t filter -A KEEP-THIS -p tcp --dport 9 -j ACCEPT
e2e_client iptables -t filter -A INPUT -j KEEP-THIS
e2e_client iptables -t raw -A OUTPUT -p tcp --dport 9 -j ACCEPT
e2e_client sh "$work/control/prerm" remove >"$work/prerm.log" 2>&1 || fail "prerm remove: $(cat "$work/prerm.log")"
[[ -z $(e2e_our_rules) ]] || fail "prerm left: $(e2e_our_rules)"
kept=$(e2e_client iptables-save)
grep -q '^-A INPUT -j KEEP-THIS' <<<"$kept" && grep -q '^-A KEEP-THIS ' <<<"$kept" &&
  grep -q '^-A OUTPUT -p tcp -m tcp --dport 9 -j ACCEPT' <<<"$kept" || fail "prerm removed other rules: $kept"
e2e_log "leftover chains removed, other rules kept ($(tr '\n' ' ' <"$work/prerm.log"))"

# --- Removal and purge. What a root run keeps in /var/lib/bramvell goes with the purge.
mkdir -m 0700 /var/lib/bramvell
echo state >/var/lib/bramvell/reg.bak
dpkg -r bramvell >"$work/remove.log" 2>&1 || fail "dpkg -r: $(cat "$work/remove.log")"
while read -r _ _ path; do
  [[ -z $path || $path == */ || -d /$path ]] && continue
  [[ ! -e /$path ]] || fail "/$path is left after dpkg -r"
done <"$work/contents"
[[ $(host_rules) == "$rules_before" ]] || fail "BRAMVELL rules on this machine after dpkg -r"
dpkg --purge bramvell >"$work/purge.log" 2>&1 || fail "dpkg --purge: $(cat "$work/purge.log")"
installed=
! getent group bramvell >/dev/null || fail "the group bramvell is left after purging"
[[ -z $(dpkg-statoverride --list "$program" 2>/dev/null || true) ]] || fail "the owner override is left after purging"
[[ ! -e /var/lib/bramvell ]] || fail "/var/lib/bramvell is left after purging"
[[ ! -e /usr/libexec/bramvell && ! -e $program ]] || fail "files left after purging"
! dpkg-query -W -f='${Status}' bramvell 2>/dev/null | grep -q 'installed\|config-files' ||
  fail "dpkg still knows bramvell: $(dpkg-query -W -f='${Status}' bramvell)"
[[ $(host_rules) == "$rules_before" ]] || fail "BRAMVELL rules on this machine after purging"
[[ $(cat /etc/group /etc/gshadow 2>/dev/null) == "$groups_before" ]] || fail "/etc/group or /etc/gshadow differ after purging"
[[ $(dpkg-statoverride --list) == "$overrides_before" ]] || fail "the owner overrides differ after purging"
echo "PASSED"
