#!/bin/bash
# Builds the native program if needed and runs it on the emulated machine:
#
#   scripts/run.sh [quillmark arguments...]
#
# The machine is the directory QUILLMARK_PREFIX (default ~/.quillmark),
# created on first use; look into its registry with
# build/default/quillmark-reg query KEY.
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
dir="$here/build/default"
# Built from the source directory, run from the caller's: the program
# resolves relative directories against its current directory.
(
  cd "$here"
  if [ ! -f "$dir/build.ninja" ]; then
    cmake --preset default >/dev/null
  fi
  cmake --build "$dir" --target quillmark quillmark-reg >/dev/null
)
exec "$dir/quillmark" "$@"
