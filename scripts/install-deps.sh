#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with.
# Idempotent: asks apt only for what is missing, and refreshes the package
# lists only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config clang libclang-rt-14-dev
  libcurl4-openssl-dev libssl-dev zlib1g-dev libsqlite3-dev sqlite3
  rapidjson-dev libsimdjson-dev libasio-dev libfmt-dev libcli11-dev
  libcpp-httplib-dev nlohmann-json3-dev libpcre2-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  curl python3 attr locales nginx-light libhttp-parser-dev openssl dbus-daemon
  libgtk-4-dev libwebkitgtk-6.0-dev xvfb xauth librsvg2-bin netpbm xdotool openbox desktop-file-utils appstream
  at-spi2-core python3-pyatspi
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)

if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  "${as_root[@]}" apt-get update -qq
  "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Number texts are tested under a locale whose decimal separator is a comma.
if ! locale -a 2>/dev/null | grep -qx 'nb_NO.utf8'; then
  echo "install-deps: generating the nb_NO.UTF-8 locale" >&2
  "${as_root[@]}" localedef -i nb_NO -f UTF-8 nb_NO.UTF-8
fi
