#!/usr/bin/env bash
# Builds the consumer project (tests/consumer/installed) against the unpacked
# runtime and -dev packages only, and runs it: a server component echoes a
# client component's message over loopback.
#   consumer_installed.sh find_package|pkg_config PROJECT_DIR SDK_ROOT LIBDIR WORK_DIR
set -euo pipefail
mode="$1"; project="$2"; sdk="$3"; libdir="$4"; work="$5"
rm -rf "$work"; mkdir -p "$work"
fail() { echo "FAIL: $*"; exit 1; }
[ -d "$sdk/usr/include/corvanews20" ] || fail "no unpacked -dev package in $sdk"

case "$mode" in
  find_package)
    cmake -S "$project" -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$sdk/usr" \
      >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "the consumer did not configure"; }
    grep -q "CorvaneWS20_DIR:PATH=$sdk/usr/$libdir/cmake/CorvaneWS20" "$work/CMakeCache.txt" \
      || fail "find_package took CorvaneWS20 from elsewhere: $(grep CorvaneWS20_DIR "$work/CMakeCache.txt")"
    cmake --build "$work" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "the consumer did not build"; }
    ;;
  pkg_config)
    export PKG_CONFIG_PATH="$sdk/usr/$libdir/pkgconfig"
    pkg-config --exists corvanews20 || fail "pkg-config does not find corvanews20 in $PKG_CONFIG_PATH"
    libs_dir="$(realpath "$(pkg-config --variable=libdir corvanews20)")"
    # shellcheck disable=SC2046  # the flags are words
    c++ -std=c++20 -fPIC -o "$work/echo_consumer" "$project/echo.cpp" \
      $(pkg-config --cflags --libs corvanews20) -Wl,-rpath,"$libs_dir" >"$work/build.log" 2>&1 \
      || { cat "$work/build.log"; fail "the consumer did not build with pkg-config"; }
    ;;
  *) fail "unknown mode $mode" ;;
esac

# Built against the unpacked packages, run with their libraries: nothing of the build tree.
sdk_real="$(realpath "$sdk")"
if ldd "$work/echo_consumer" | grep -q "not found"; then ldd "$work/echo_consumer"; fail "the consumer misses a library"; fi
ours="$(ldd "$work/echo_consumer" | awk '/corvanews20/ {print $3}' | xargs -r realpath)"
grep -q "^$sdk_real/usr/$libdir/libcorvanews20pkg.so" <<<"$ours" || fail "the consumer does not use the unpacked package library: $ours"
if grep -v "^$sdk_real/" <<<"$ours"; then fail "the consumer takes our libraries from outside the packages"; fi
out="$("$work/echo_consumer" "über loopback, $mode")" || fail "the consumer failed: $out"
echo "$out"
[ "$out" = "echoed: über loopback, $mode" ] || fail "unexpected output: $out"
