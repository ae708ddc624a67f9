#!/usr/bin/env bash
# Installs the build dependencies on Debian when they are missing, plus any Debian
# packages named as arguments (tools/train/setup.sh adds the trainer's).
set -euo pipefail
pkgs=(cmake g++ make libgtest-dev libbenchmark-dev libdeflate-dev python3 python3-numpy "$@")
missing=()
for p in "${pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
