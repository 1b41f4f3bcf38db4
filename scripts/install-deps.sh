#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Quiet and quick when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev fonts-nanum
  libgtest-dev googletest libgmock-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev
  libarchive-dev zlib1g-dev zstd lz4 xz-utils bzip2 zip
  libfbclient2 firebird-dev firebird3.0-server firebird3.0-utils
  xvfb xauth xdotool imagemagick
  dpkg-dev lintian strace
  debootstrap
  clang-format clang-tidy
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  # The server package would start the machine's own database server; the
  # tool's tests and demo run private servers only, so forbid that start for
  # the length of the install (unless the admin already has a policy).
  policy=/usr/sbin/policy-rc.d own_policy=0
  if [[ ! -e $policy ]]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$policy" >/dev/null
    "${sudo_cmd[@]}" chmod 755 "$policy"
    own_policy=1
  fi
  rc=0
  "${sudo_cmd[@]}" apt-get update -qq || rc=$?
  ((rc == 0)) && { DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq \
    --no-install-recommends "${missing[@]}" || rc=$?; }
  ((own_policy)) && "${sudo_cmd[@]}" rm -f "$policy"
  exit $rc
fi
