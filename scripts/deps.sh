#!/usr/bin/env bash
# Makes sure the Debian packages that the build and the tests need are here. As root it
# installs what is missing; otherwise it names it and fails.
set -euo pipefail
packages=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix g++ clang libclang-rt-14-dev
  make cmake ninja-build googletest libgtest-dev wine wine64 wine32:i386 fonts-wine xvfb xauth
  imagemagick fonts-ipafont-gothic locales zip unzip p7zip-full zlib1g-dev libz-mingw-w64-dev libdeflate-dev python3 git
  osslsigncode openssl python3-pefile icoutils hyperfine g++-multilib zlib1g-dev:i386 libdeflate-dev:i386 libgtest-dev:i386)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages (install them as root, after dpkg --add-architecture i386): ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  # wine32 (the 32-bit loader that runs the shipped stub) comes from the i386 architecture.
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# Japanese tests need the locale; Wine stays on code page 1252 without it.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
  if [ "$(id -u)" -eq 0 ]; then localedef -i ja_JP -f UTF-8 ja_JP.UTF-8; else echo "missing locale ja_JP.UTF-8" >&2; exit 1; fi
fi
