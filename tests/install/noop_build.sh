#!/usr/bin/env bash
# A build with nothing changed does nothing, also after configuring again (run.sh
# configures on every start): the embedded library is not re-embedded and the
# program not relinked. Then a change of the library does reach the program.
set -euo pipefail
root="$1"; work="$2"
rm -rf "$work"; mkdir -p "$work"
cp -r "$root/tests/install/noop_build" "$work/src"
configure() { cmake -S "$work/src" -B "$work/build" -G Ninja -DBRINDLE_ROOT="$root" >/dev/null; }
build() { cmake --build "$work/build" 2>&1; }
configure; build >/dev/null
"$work/build/host" || { echo "the host does not find its embedded library"; exit 1; }
configure
second="$(build)"
echo "$second"
grep -q "no work to do" <<<"$second" || { echo "FAIL: the second build did work"; exit 1; }
echo 'int payload_answer(void) { return 43; }' > "$work/src/payload.c"
third="$(build)"
grep -q "Embedding libpayload.so" <<<"$third" || { echo "FAIL: a changed library was not embedded again"; exit 1; }
grep -q "Linking CXX executable host" <<<"$third" || { echo "FAIL: the host was not relinked"; exit 1; }
echo "unchanged tree: no work; changed library: re-embedded and relinked"
