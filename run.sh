#!/usr/bin/env bash
# Installs what is missing, builds, and starts the reader on the embedded
# local services. Arguments are passed to the reader (see its --help).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
export CCACHE_BASEDIR="$PWD"
export CCACHE_NOHASHDIR=1
cmake -S . -B build -G Ninja >/dev/null
cmake --build build
if [ -x build/bin/newsreader ]; then
  exec build/bin/newsreader "$@"
elif [ -x build/bin/devserver ]; then
  echo "run.sh: the reader is not built yet; starting the local services alone" >&2
  exec build/bin/devserver "$@"
else
  echo "run.sh: nothing to run yet: neither the reader nor the devserver is built" >&2
  exit 1
fi
