#!/usr/bin/env bash
# ./run.sh started from another folder starts the tool in that folder, the one
# whose "./setting.ini" it reads, and finds nothing to build on an unchanged tree.
set -euo pipefail
src="$1"; work="$2"
rm -rf "$work"; mkdir -p "$work"
cp "$src/docs/samples/setting.ini" "$work/"
cd "$work"
QT_QPA_PLATFORM=offscreen "$src/run.sh" >"$work/run.log" 2>&1 &
pid=$!
# run.sh replaces itself with the tool, so the same process becomes BrindleConfigTool.
for _ in $(seq 1 600); do
  exe="$(readlink "/proc/$pid/exe" 2>/dev/null || true)"
  [[ "$exe" == */BrindleConfigTool ]] && break
  kill -0 "$pid" 2>/dev/null || { cat "$work/run.log"; echo "FAIL: run.sh ended without starting the tool"; exit 1; }
  sleep 0.5
done
cwd="$(readlink "/proc/$pid/cwd" || true)"
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
cat "$work/run.log"
[[ "$exe" == */BrindleConfigTool ]] || { echo "FAIL: the tool never started"; exit 1; }
[ "$cwd" = "$(pwd -P)" ] || { echo "FAIL: the tool runs in $cwd, not in $(pwd -P)"; exit 1; }
grep -q "no work to do" "$work/run.log" || { echo "FAIL: run.sh built something on an unchanged tree"; exit 1; }
echo "the tool runs in the caller's folder $cwd"
