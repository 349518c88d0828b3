#!/usr/bin/env bash
# Short libFuzzer run of every fuzz target the build lists (fuzzers.txt of the
# fuzz preset: name, binary, committed seed folder, largest input). Builds the
# fuzz preset (clang, ASan, UBSan), then runs each fuzzer for FUZZ_SECONDS
# (default 10) from the committed seeds. FUZZ_ONLY="a b" limits the run to
# those names. BRINDLE_WERROR=ON makes warnings errors. Exits non-zero when a
# fuzzer finds a crash; the reproducer is left under build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-10}"
build=build/fuzz

configure=(-DBRINDLE_WERROR="${BRINDLE_WERROR:-OFF}")
if [ -n "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ]; then
  configure+=(-DCMAKE_CXX_COMPILER_LAUNCHER="$CMAKE_CXX_COMPILER_LAUNCHER"
              -DCMAKE_C_COMPILER_LAUNCHER="${CMAKE_C_COMPILER_LAUNCHER:-$CMAKE_CXX_COMPILER_LAUNCHER}")
fi
cmake --preset fuzz "${configure[@]}" >/dev/null
cmake --build --preset fuzz -j2 --target fuzzers

mkdir -p "$build/artifacts"
status=0
while IFS='|' read -r name binary seeds max_len; do
  [ -n "$name" ] || continue
  if [ -n "${FUZZ_ONLY:-}" ] && [[ " $FUZZ_ONLY " != *" $name "* ]]; then continue; fi
  corpus="$build/corpus/$name"          # grows here; the committed seeds stay untouched
  mkdir -p "$corpus"
  log="$build/fuzz_$name.log"
  echo "fuzz_$name: ${seconds}s"
  if "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="$max_len" \
       -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" \
       "$corpus" "$seeds" >"$log" 2>&1; then
    grep -E "stat::number_of_executed_units|Done [0-9]+ runs" "$log" | tail -2 || true
  else
    echo "fuzz_$name FAILED (log: $log)" >&2
    tail -n 60 "$log" >&2
    status=1
  fi
done < "$build/fuzzers.txt"
exit "$status"
