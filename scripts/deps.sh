#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the sample job need, if any is missing.
# --fuzz adds clang and its libFuzzer runtime, for the fuzz preset (scripts/fuzz.sh).
set -euo pipefail
pkgs=(build-essential cmake ninja-build pkg-config git
      libgtest-dev libgmock-dev googletest libbenchmark-dev
      qt6-base-dev libarchive-dev zlib1g-dev libbz2-dev liblzma-dev
      libarchive-tools lhasa p7zip-full unzip zip xz-utils
      cabextract gcab arj unar)
[ "${1:-}" = "--fuzz" ] && pkgs+=(clang libclang-rt-14-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
