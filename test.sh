#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
# BRINDLE_WERROR=ON (CI sets it) makes warnings errors; CMAKE_CXX_COMPILER_LAUNCHER
# (e.g. ccache) is passed on when set.
configure=(-DBRINDLE_WERROR="${BRINDLE_WERROR:-OFF}")
if [ -n "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ]; then
  configure+=(-DCMAKE_CXX_COMPILER_LAUNCHER="$CMAKE_CXX_COMPILER_LAUNCHER"
              -DCMAKE_C_COMPILER_LAUNCHER="${CMAKE_C_COMPILER_LAUNCHER:-$CMAKE_CXX_COMPILER_LAUNCHER}")
fi
cmake --preset default "${configure[@]}" >/dev/null
cmake --build --preset default
ctest --preset default --timeout 600 -j2
if [ -x scripts/fuzz-smoke.sh ]; then
  ./scripts/fuzz-smoke.sh
fi
