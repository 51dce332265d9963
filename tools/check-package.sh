#!/usr/bin/env bash
# Checks the Debian package (built by tools/package.sh unless one is named):
# its files against dist/package-files.txt, unpacked into a temporary root;
# the programs from there; its dependencies; lintian. Run as root it also
# installs the package for real with apt-get, starts the three programs from
# the installed paths (the window offscreen) and removes it again.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/setup.sh
kvarn_install "${KVARN_PACKAGES[@]}" "${KVARN_PACKAGING_PACKAGES[@]}"

deb=${1:-$(tools/package.sh | tail -n 1)}
deb=$(realpath "$deb")
echo "Checking $deb"
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }
# Whether a program's --help starts as it should. The whole text is taken
# first: grep -q in a pipe would stop reading early and, under pipefail,
# the program's broken pipe would count as a failure.
helps() { local text; text=$("$1" --help) && [[ $text == "Usage: $2"* ]]; }

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

# The files, exactly.
dpkg -x "$deb" "$root"
if diff -u dist/package-files.txt <(cd "$root" && find . ! -type d | sed 's|^\.||' | LC_ALL=C sort); then
  ok "file list"
else
  fail "the package's files differ from dist/package-files.txt (- expected, + found)"
fi
for exe in kvarn kvarnctl kvarn-sim kvarn-collect; do
  [[ $(file -b "$root/usr/bin/$exe") == ELF* ]] || fail "/usr/bin/$exe is not an executable"
done
helps "$root/usr/bin/kvarnctl" kvarnctl && ok "kvarnctl --help from the unpacked tree" \
  || fail "kvarnctl --help from the unpacked tree"
helps "$root/usr/bin/kvarn-collect" kvarn-collect && ok "kvarn-collect --help from the unpacked tree" \
  || fail "kvarn-collect --help from the unpacked tree"
for page in "$root"/usr/share/man/man1/*.1.gz; do
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || true
  [ -z "$warnings" ] && ok "man -l $(basename "$page")" || fail "man -l $(basename "$page"): $warnings"
done

# Dependencies from the libraries the programs link.
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libqt6core6 libqt6widgets6 libqt6serialport6 libjpeg62-turbo qt6-qpa-plugins qt6-translations-l10n libqt6sql6-sqlite; do
  case ", $depends" in
    *", $lib"*) ;;
    *) fail "Depends lacks $lib: $depends" ;;
  esac
done
ok "Depends: $depends"
[ "$(dpkg-deb -f "$deb" Section)" = science ] || fail "Section is not science"

# lintian: no errors (warnings are listed, not fatal).
if lintian --fail-on error --tag-display-limit 0 "$deb"; then
  ok "lintian reports no errors"
else
  fail "lintian reports errors"
fi

# A real installation, where this runs as root.
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: installing the package for real needs root"
elif dpkg-query -W -f='${Status}' kvarn 2>/dev/null | grep -q "install ok installed"; then
  echo "skipped: a kvarn package is installed already; it is left alone"
else
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -qq "$deb" >/dev/null
  helps /usr/bin/kvarnctl kvarnctl && ok "installed kvarnctl --help" || fail "installed kvarnctl --help"
  helps /usr/bin/kvarn-sim kvarn-sim && ok "installed kvarn-sim --help" || fail "installed kvarn-sim --help"
  man -w kvarnctl >/dev/null && ok "man kvarnctl found" || fail "man kvarnctl not found"
  # The window, offscreen, as an operator without rights to /usr/bin: it
  # must still be running after a few seconds (it waits on its start-up
  # warning, as there is no installation here). SIGTERM then ends it; were it
  # to hang on, the kill after ten seconds more keeps the check from hanging.
  home=$(mktemp -d)
  chmod 755 "$home"
  as_operator=()
  command -v setpriv >/dev/null && as_operator=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  status=0
  (cd "$home" && timeout -k 10 5 "${as_operator[@]}" env QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$home" \
     HOME="$home" /usr/bin/kvarn >/dev/null 2>&1) || status=$?
  rm -rf "$home"
  [ "$status" -eq 124 ] && ok "installed window starts offscreen" || fail "installed window ended with status $status"
  # The collector's service as installed: its user in dialout, its folder,
  # the site file a conffile readable by the service's group only, the unit
  # there but not enabled, and a unit systemd accepts (checked offline: no
  # systemd runs here).
  getent passwd kvarn >/dev/null && ok "user kvarn" || fail "no user kvarn"
  id -nG kvarn 2>/dev/null | tr ' ' '\n' | grep -qx dialout && ok "kvarn in dialout" || fail "kvarn not in dialout"
  [ "$(stat -c '%U:%G %a' /var/lib/kvarn 2>/dev/null)" = "kvarn:kvarn 750" ] && ok "/var/lib/kvarn" \
    || fail "/var/lib/kvarn: $(stat -c '%U:%G %a' /var/lib/kvarn 2>&1)"
  dpkg-query -W -f='${Conffiles}\n' kvarn | grep -q '^ /etc/kvarn/collect.conf ' && ok "conffile /etc/kvarn/collect.conf" \
    || fail "/etc/kvarn/collect.conf is no conffile"
  [ "$(stat -c '%U:%G %a' /etc/kvarn/collect.conf 2>/dev/null)" = "root:kvarn 640" ] && ok "/etc/kvarn/collect.conf 640" \
    || fail "/etc/kvarn/collect.conf: $(stat -c '%U:%G %a' /etc/kvarn/collect.conf 2>&1)"
  enabled=$(systemctl is-enabled kvarn-collect.service 2>&1) || true
  [ "$enabled" = disabled ] && ok "kvarn-collect.service installed, not enabled" || fail "kvarn-collect.service: $enabled"
  if verify=$(systemd-analyze verify --man=no /usr/lib/systemd/system/kvarn-collect.service 2>&1); then
    ok "systemd-analyze verify kvarn-collect.service"
  else
    fail "systemd-analyze verify kvarn-collect.service: $verify"
  fi
  runuser -u kvarn -- /usr/bin/kvarn-collect --help >/dev/null 2>&1 && ok "kvarn-collect runs as kvarn" \
    || fail "kvarn-collect does not run as kvarn"
  apt-get remove -y -qq kvarn >/dev/null
  [ ! -e /usr/bin/kvarn ] && ok "package removed" || fail "/usr/bin/kvarn still there after removal"
  [ -e /etc/kvarn/collect.conf ] && ok "removal keeps the site file" || fail "removal took the site file"
  # What purge leaves: nothing of the package but a database someone left
  # in /var/lib/kvarn (none here, so nothing at all).
  apt-get purge -y -qq kvarn >/dev/null
  left=$(ls -d /etc/kvarn /var/lib/kvarn /usr/lib/systemd/system/kvarn-collect.service \
           /etc/systemd/system/multi-user.target.wants/kvarn-collect.service 2>/dev/null || true)
  echo "left after purge: ${left:-nothing}"
  [ -z "$left" ] && ok "purge leaves nothing behind" || fail "purge left: $left"
  getent passwd kvarn >/dev/null && fail "purge left the user kvarn" || ok "purge removed the user kvarn"
fi

if [ "$failures" -ne 0 ]; then
  echo "package check: $failures failed" >&2
  exit 1
fi
echo "package check: all passed"
