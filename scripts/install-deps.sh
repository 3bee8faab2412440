#!/bin/bash
# Installs what building and testing Quillmark needs on Debian 12 (bookworm):
# the native toolchain, SQLite and GoogleTest, the MinGW-w64 cross compilers
# for the Windows builds, and Wine (64-bit and 32-bit) to run them, with an
# X server without a screen (Xvfb: Wine delivers broadcasts only with a
# display) and the locales whose code pages the Wine tests use.
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
  wine32:i386 \
  xvfb \
  locales

# Wine takes a program's ANSI code page from the POSIX locale (zh_CN.UTF-8:
# 936, en_US.UTF-8: 1252), and only from a locale that has been generated.
for locale in zh_CN.UTF-8 en_US.UTF-8; do
  # Uncommented where Debian lists it, added where it does not.
  sed -i "s/^# *\($locale UTF-8\)\$/\1/" /etc/locale.gen
  grep -qx "$locale UTF-8" /etc/locale.gen || echo "$locale UTF-8" >>/etc/locale.gen
done
if ! locale -a | grep -qix zh_CN.utf8 || ! locale -a | grep -qix en_US.utf8; then
  locale-gen
fi

# Both Wine loaders are what the tests use; say so now rather than in a test.
for loader in /usr/lib/wine/wine /usr/lib/wine/wine64 /usr/bin/Xvfb; do
  if [ ! -x "$loader" ]; then
    echo "install-deps.sh: $loader is missing after the installation" >&2
    exit 1
  fi
done
for locale in zh_CN.utf8 en_US.utf8; do
  if ! locale -a | grep -qix "$locale"; then
    echo "install-deps.sh: the locale $locale is missing after the installation" >&2
    exit 1
  fi
done
echo "install-deps.sh: all dependencies are installed"
