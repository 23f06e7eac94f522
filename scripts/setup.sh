#!/usr/bin/env bash
# setup.sh - install what the build and the tests need, when it is missing.
set -euo pipefail
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for p in cmake ninja-build g++ zlib1g-dev libgtest-dev libgmock-dev python3 zip unzip; do
  have "$p" || need+=("$p")
done
if [ "${#need[@]}" -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}"
fi
