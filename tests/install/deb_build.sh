#!/usr/bin/env bash
# Builds the Debian packages from the build tree once, for every test that
# needs them, and unpacks them with dpkg -x:
#   WORK_DIR/out/*.deb          the packages
#   WORK_DIR/root/<package>/    each package on its own
#   WORK_DIR/sdk/               the runtime and -dev packages together, as a
#                               developer's system holds them
#   deb_build.sh BUILD_DIR WORK_DIR RUNTIME_PACKAGE DEV_PACKAGE
set -euo pipefail
build="$1"; work="$2"; runtime="$3"; dev="$4"
rm -rf "$work"; mkdir -p "$work/root" "$work/sdk"
fail() { echo "FAIL: $*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log"; fail "cpack did not build the packages"; }
shopt -s nullglob
debs=("$work"/out/*.deb)
[ ${#debs[@]} -gt 0 ] || fail "no .deb in $work/out"
for deb in "${debs[@]}"; do
  package="$(dpkg-deb -f "$deb" Package)"
  dpkg -x "$deb" "$work/root/$package"
  case "$package" in
    "$runtime"|"$dev") dpkg -x "$deb" "$work/sdk" ;;
  esac
  echo "built $(basename "$deb")"
done
