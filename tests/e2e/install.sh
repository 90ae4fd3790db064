#!/usr/bin/env bash
# `cmake --install` into a temporary prefix: the executable with its network capabilities, the
# systemd units naming it, the rule-removal helper, and (when the tray application is built) the
# desktop entry and the icon it names. Into a DESTDIR no capability is set.
#
#   install.sh BUILD_DIR WITH_UI
set -euo pipefail
build=$1
with_ui=$2
if [[ $(id -u) -ne 0 ]]; then
  echo "SKIPPED: the install test needs root (it sets file capabilities)"
  exit 77
fi
PATH=$PATH:/usr/sbin:/sbin
command -v getcap >/dev/null 2>&1 || {
  echo "SKIPPED: the install test needs getcap (scripts/bootstrap installs libcap2-bin)"
  exit 77
}
prefix=$(mktemp -d /tmp/bramvell-install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

cmake --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1 || fail "cmake --install: $(cat "$prefix.log")"
rm -f "$prefix.log"
program=$prefix/bin/bramvell
[[ -x $program ]] || fail "no executable at $program"
caps=$(getcap "$program")
[[ $caps == *cap_net_admin,cap_net_raw=ep* ]] || fail "capabilities of the installed program: '$caps'"
[[ -f $prefix/share/man/man1/bramvell.1 ]] || fail "no manual page"
[[ -x $prefix/libexec/bramvell/remove-rules ]] || fail "no helper that removes leftover rules"
# The units name the executable where this install put it.
grep -qx "ExecStart=$program --home /var/lib/bramvell run --headless" "$prefix/lib/systemd/system/bramvell.service" ||
  fail "system unit: $(grep ExecStart "$prefix/lib/systemd/system/bramvell.service" 2>&1)"
grep -qx "ExecStart=$program run --headless" "$prefix/lib/systemd/user/bramvell.service" ||
  fail "user unit: $(grep ExecStart "$prefix/lib/systemd/user/bramvell.service" 2>&1)"

# A staged install (DESTDIR, as CPack's) leaves the capabilities to the package's postinst.
stage=$prefix/stage
DESTDIR=$stage cmake --install "$build" --prefix /usr >"$prefix/stage.log" 2>&1 || fail "DESTDIR install: $(cat "$prefix/stage.log")"
[[ -x $stage/usr/bin/bramvell ]] || fail "nothing staged in DESTDIR"
[[ -z $(getcap "$stage/usr/bin/bramvell") ]] || fail "capabilities set in the DESTDIR: $(getcap "$stage/usr/bin/bramvell")"
grep -qx 'ExecStart=/usr/bin/bramvell run --headless' "$stage/usr/lib/systemd/user/bramvell.service" ||
  fail "staged user unit names another path"

if [[ $with_ui == ON ]]; then
  desktop=$prefix/share/applications/bramvell.desktop
  [[ -f $desktop ]] || fail "no desktop entry"
  grep -qx 'Exec=bramvell' "$desktop" || fail "the desktop entry does not start bramvell"
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  [[ -f $prefix/share/icons/hicolor/scalable/apps/$icon.svg ]] || fail "no icon named '$icon'"
  if command -v desktop-file-validate >/dev/null 2>&1; then
    desktop-file-validate "$desktop" || fail "the desktop entry does not validate"
  fi
fi
echo "PASSED"
