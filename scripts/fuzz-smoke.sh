#!/usr/bin/env bash
# Short libFuzzer run of the protocol parsers that face the network (frame
# decoder, HTTP head parser). Builds the fuzz preset (clang, ASan, UBSan),
# then runs each fuzzer for FUZZ_SECONDS (default 20) from the committed
# seeds. Exits non-zero when a fuzzer finds a crash; the reproducer is left
# under build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-20}"
fuzzers=(frame_decoder http_head)

cmake --preset fuzz >/dev/null
# Only the fuzz targets: the rest of the tree is not needed for them.
cmake --build --preset fuzz -j2 --target "${fuzzers[@]/#/fuzz_}"

build=build/fuzz
mkdir -p "$build/artifacts"
status=0
for name in "${fuzzers[@]}"; do
  corpus="$build/corpus/$name"          # grows here; the committed seeds stay untouched
  mkdir -p "$corpus"
  log="$build/fuzz_$name.log"
  echo "fuzz_$name: ${seconds}s"
  if "$build/engine/protocol/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" \
       "$corpus" "engine/protocol/fuzz/corpus/$name" >"$log" 2>&1; then
    grep -E "stat::number_of_executed_units|Done [0-9]+ runs" "$log" | tail -2 || true
  else
    echo "fuzz_$name FAILED (log: $log)" >&2
    tail -n 60 "$log" >&2
    status=1
  fi
done
exit "$status"
