# Shared set-up for ./run and ./test: sourced, not run.
# Installs the Debian packages the project needs when they are missing.

# Real package names only: a virtual one (libqt6serialport6-dev, which
# qt6-serialport-dev provides) never shows as installed, so it would be
# "missing" on every run.
KVARN_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-serialport-dev qt6-qpa-plugins
  qt6-charts-dev libqt6opengl6-dev
  libjpeg-dev
  fonts-dejavu-core fonts-liberation
  locales
  librsvg2-bin man-db
  qt6-translations-l10n
  # Qt HttpServer's CMake package needs Qt WebSockets', which its -dev does not pull in.
  qt6-httpserver-dev qt6-websockets-dev libqt6sql6-sqlite libqt6sql6-psql
  libgsl-dev
  postgresql prometheus poppler-utils
  # bench/compare_scipy.py: the peak fits against SciPy's (not a test).
  python3-scipy
  # kvarn-collect's MQTT publisher, the broker and clients its tests run, and
  # systemd's notification protocol and unit checker.
  libmosquitto-dev mosquitto mosquitto-clients libsystemd-dev systemd
  # Rebuilds across several checkouts reuse each other's objects.
  ccache
)

# What building, checking and installing the Debian package needs besides
# (tools/package.sh, tools/check-package.sh).
KVARN_PACKAGING_PACKAGES=(
  dpkg-dev file lintian
)

kvarn_missing_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  echo "${missing[@]}"
}

kvarn_install() {
  local missing
  missing=$(kvarn_missing_packages "$@")
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "These packages are missing: $missing" >&2
    echo "Install them as root, then run this again:" >&2
    echo "  sudo apt-get update && sudo apt-get install -y --no-install-recommends $missing" >&2
    exit 1
  fi
  echo "Installing: $missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $missing
}

# A locale whose decimal separator is ",", for the tests that prove the
# number conversions ignore the user's locale.
kvarn_comma_locale() {
  locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$' && return 0
  [ "$(id -u)" -ne 0 ] && { echo "note: no ru_RU.UTF-8 locale; the locale test falls back to another" >&2; return 0; }
  if [ -f /etc/locale.gen ]; then
    sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null 2>&1 || true
  fi
}

kvarn_jobs() { nproc 2>/dev/null || echo 2; }
