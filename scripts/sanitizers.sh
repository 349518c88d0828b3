#!/usr/bin/env bash
# Builds the sanitizer preset (AddressSanitizer with LeakSanitizer, and
# UndefinedBehaviorSanitizer) and runs the whole test suite under it. Any
# report, a leak at exit included, fails its test and the run. Arguments go
# to ctest (e.g. -R ProxyForwarding). BRINDLE_WERROR=ON makes warnings errors;
# CMAKE_CXX_COMPILER_LAUNCHER (e.g. ccache) is passed on when set.
set -euo pipefail
cd "$(dirname "$0")/.."

configure=(-DBRINDLE_WERROR="${BRINDLE_WERROR:-OFF}")
if [ -n "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ]; then
  configure+=(-DCMAKE_CXX_COMPILER_LAUNCHER="$CMAKE_CXX_COMPILER_LAUNCHER"
              -DCMAKE_C_COMPILER_LAUNCHER="${CMAKE_C_COMPILER_LAUNCHER:-$CMAKE_CXX_COMPILER_LAUNCHER}")
fi
cmake --preset asan "${configure[@]}" >/dev/null
cmake --build --preset asan -j2

export QT_QPA_PLATFORM=offscreen
# abort_on_error: a report ends the process with SIGABRT, which no test can
# mistake for an ordinary failure it expected.
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:abort_on_error=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"

if [ $# -gt 0 ]; then
  exec ctest --preset asan --timeout 900 -j2 "$@"
fi
# The journeys (label journey) are left out: they drive, through Xvfb and a
# window manager, the same windows the offscreen tests run here, and with the
# sanitizers' slowdown they alone would take most of CI's hour.
# The installed-consumer builds are left out too: they compile a program of
# their own without the sanitizers, and such a program cannot load libraries
# built with them (the sanitizer runtime must come first).
exec ctest --preset asan --timeout 900 -j2 -LE journey -E '^consumer_installed_'
