#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Orvanta needs.
# Idempotent: quiet and quick when everything is present. Run as root (or with sudo available).
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config git
  libgtest-dev libgmock-dev
  unixodbc unixodbc-dev odbcinst
  libsqliteodbc sqlite3
  odbc-postgresql postgresql
  odbc-mariadb mariadb-server mariadb-client
  libedit-dev libxml2-dev libutf8proc-dev ccache
  tmux locales iproute2 procps
  qt6-base-dev xvfb xauth
  qt6-svg-dev qt6-base-private-dev fonts-noto-cjk xdotool openbox
  man-db groff-base desktop-file-utils appstream librsvg2-bin bash-completion dpkg-dev file
  clang libclang-rt-14-dev clang-format
)

# A locale that writes decimal commas, for the tests that check US-English number texts.
need_locale() { ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; }

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  need_locale && localedef -i de_DE -f UTF-8 de_DE.UTF-8 >/dev/null 2>&1 || true
  exit 0
fi

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# Package scripts must not start the database services: the tests start their own servers.
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
  $SUDO chmod +x /usr/sbin/policy-rc.d
  trap '$SUDO rm -f /usr/sbin/policy-rc.d' EXIT
fi
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
need_locale && $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8 >/dev/null 2>&1 || true
