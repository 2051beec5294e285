#!/usr/bin/env bash
# Installs the Debian packages the build needs (only those missing).
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config python3
  libsqlite3-dev libgmime-3.0-dev libcurl4-openssl-dev libcli11-dev libhowardhinnant-date-dev
  nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev
  ccache clang libclang-rt-14-dev llvm
  dovecot-imapd python3-aiosmtpd openssl)
# ccache: quick rebuilds. clang with libclang-rt-14-dev (the libFuzzer and
# sanitizer runtimes) builds the fuzz targets; llvm brings llvm-symbolizer for
# file:line in sanitizer reports.
# dovecot-imapd, python3-aiosmtpd, openssl: the real IMAP/SMTP servers with a
# self-signed certificate that the tests run (scripts/mail-servers.sh).
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
