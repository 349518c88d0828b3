#!/usr/bin/env bash
# Builds the .deb from the build tree, unpacks it into a scratch root with dpkg -x,
# checks what it holds and declares, and starts the unpacked programs.
#   deb_package.sh BUILD_DIR SOURCE_DIR WORK_DIR APP_ID "LIBRARY FILES"
set -euo pipefail
build="$1"; src="$2"; work="$3"; app_id="$4"; libraries="$5"
rm -rf "$work"; mkdir -p "$work"
fail() { echo "FAIL: $*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log"; fail "cpack did not build the package"; }
debs=("$work"/out/*.deb)
[ -f "${debs[0]}" ] || fail "no .deb in $work/out"
deb="${debs[0]}"
echo "package: $(basename "$deb")"

[ "$(dpkg-deb -f "$deb" Package)" = brindle-config-tool ] || fail "wrong package name"
depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
for dep in libqt6widgets6 libqt6network6 libqt6core6 libc6 qt6-qpa-plugins; do
  grep -q "$dep" <<<"$depends" || fail "Depends lacks $dep"
done

root="$work/root"
dpkg -x "$deb" "$root"
expect=(
  usr/bin/BrindleConfigTool
  usr/bin/brindle-drv
  "usr/share/applications/$app_id.desktop"
  "usr/share/metainfo/$app_id.metainfo.xml"
  "usr/share/icons/hicolor/scalable/apps/$app_id.svg"
  "usr/share/icons/hicolor/256x256/apps/$app_id.png"
  "usr/share/icons/hicolor/48x48/apps/$app_id.png"
)
for lib in $libraries; do expect+=("usr/lib/$lib"); done
for f in "${expect[@]}"; do
  [ -s "$root/$f" ] || fail "the package lacks $f"
  echo "has $f"
done
for exe in usr/bin/BrindleConfigTool usr/bin/brindle-drv; do
  [ -x "$root/$exe" ] || fail "$exe is not executable"
  # An installed program must not reach back into the build tree for libraries.
  if readelf -d "$root/$exe" | grep -E 'R(UN)?PATH' | grep -q "$build"; then fail "$exe points into the build tree"; fi
  if ldd "$root/$exe" | grep -q "not found"; then ldd "$root/$exe"; fail "$exe misses a library"; fi
done
desktop-file-validate "$root/usr/share/applications/$app_id.desktop" || fail "the desktop entry is not valid"
grep -q "^Icon=$app_id$" "$root/usr/share/applications/$app_id.desktop" || fail "the desktop entry names another icon"
grep -q "^Exec=BrindleConfigTool" "$root/usr/share/applications/$app_id.desktop" || fail "the desktop entry starts another program"
appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml" >/dev/null || fail "the metainfo is not valid"

# The unpacked brindle-drv reads the sample track.
summary="$("$root/usr/bin/brindle-drv" "$src/docs/samples/short.drv" --summary)"
grep -q "^Records: 10$" <<<"$summary" || fail "brindle-drv from the package did not read the sample: $summary"

# The unpacked tool starts offscreen in a folder with a settings file and keeps
# running until stopped; a missing library or a crash would end it first.
run="$work/run"; mkdir -p "$run"; cp "$src/docs/samples/setting.ini" "$run/"
set +e
(cd "$run" && QT_QPA_PLATFORM=offscreen timeout 10 "$root/usr/bin/BrindleConfigTool" >"$work/tool.log" 2>&1)
rc=$?
set -e
[ "$rc" -eq 124 ] || { cat "$work/tool.log"; fail "the installed tool ended by itself (exit $rc)"; }
echo "the installed tool started offscreen and ran until stopped"
