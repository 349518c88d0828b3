#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default --timeout 600 -j2
if [ -x scripts/fuzz-smoke.sh ]; then
  ./scripts/fuzz-smoke.sh
fi
