#!/bin/bash
# Installs what building and testing Quillmark needs on Debian 12 (bookworm):
# the native toolchain, SQLite and GoogleTest, the MinGW-w64 cross compilers
# for the Windows builds, and Wine (64-bit and 32-bit) to run them.
# Run as root. Safe to run again; asks nothing. Recommended packages come
# too: that is the set the tests have been run with (Wine in particular).
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps.sh: run me as root (sudo $0)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive

# wine32 is an i386 package; the architecture must be known before the
# package lists are read.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -q

apt-get install -y -q \
  ca-certificates \
  cmake \
  ninja-build \
  g++ \
  clang \
  libclang-rt-14-dev \
  clang-format \
  libsqlite3-dev \
  libgtest-dev \
  python3 \
  g++-mingw-w64-i686-posix \
  g++-mingw-w64-x86-64-posix \
  wine \
  wine64 \
  wine32:i386

# Both Wine loaders are what the tests use; say so now rather than in a test.
for loader in /usr/lib/wine/wine /usr/lib/wine/wine64; do
  if [ ! -x "$loader" ]; then
    echo "install-deps.sh: $loader is missing after the installation" >&2
    exit 1
  fi
done
echo "install-deps.sh: all dependencies are installed"
