#!/usr/bin/env bash
# Checks the Debian packages deb_build.sh made: the split (which package holds
# what, none holds a file of another), what each declares, lintian on each
# (no error and no warning that is not overridden with a reason), and that
# the unpacked programs start.
#   deb_package.sh WORK_DIR SOURCE_DIR BUILD_DIR APP_ID DESIGNER_ID LIBDIR "LIBRARY FILES" "COMPONENT=PACKAGE ..." VERSION
set -euo pipefail
work="$1"; src="$2"; build="$3"; app_id="$4"; designer_id="$5"; libdir="$6"; libraries="$7"; packages="$8"; version="$9"
fail() { echo "FAIL: $*"; exit 1; }
shopt -s nullglob

declare -A pkg
for pair in $packages; do pkg[${pair%%=*}]="${pair#*=}"; done
deb_of() { local f=("$work"/out/"$1"_*.deb); [ -f "${f[0]:-}" ] || fail "no package $1 was built"; echo "${f[0]}"; }
root_of() { echo "$work/root/$1"; }
has() {  # has PACKAGE FILE...: each file is in the package, not empty, or a link (into another package)
  local root; root="$(root_of "$1")"; shift
  for f in "$@"; do [ -s "$root/$f" ] || [ -L "$root/$f" ] || fail "$(basename "$root") lacks $f"; done
}
depends_on() {  # depends_on PACKAGE DEPENDENCY...
  local d; d="$(dpkg-deb -f "$(deb_of "$1")" Depends)"
  shift
  for dep in "$@"; do grep -qF -- "$dep" <<<"$d" || fail "the Depends of this package lack '$dep': $d"; done
}

# The split: exactly these packages, and every file in one of them only.
expected_packages=""
for c in tool libs dev designer; do
  [ -n "${pkg[$c]:-}" ] || continue
  deb_of "${pkg[$c]}" >/dev/null
  expected_packages+="${pkg[$c]} "
done
built="$(for d in "$work"/out/*.deb; do dpkg-deb -f "$d" Package; done | sort | xargs)"
[ "$built" = "$(xargs -n1 <<<"$expected_packages" | sort | xargs)" ] || fail "built packages '$built', expected '$expected_packages'"
dups="$(for d in "$work"/out/*.deb; do dpkg-deb -c "$d" | awk '$1 !~ /^d/ {print $6}'; done | sort | uniq -d)"
[ -z "$dups" ] || fail "files in more than one package: $dups"
for p in $expected_packages; do
  [ "$(dpkg-deb -f "$(deb_of "$p")" Version)" = "$version" ] || fail "$p is not version $version"
  has "$p" "usr/share/doc/$p/copyright" "usr/share/doc/$p/changelog.Debian.gz"
  echo "package $p: $(dpkg-deb -f "$(deb_of "$p")" Depends)"
done

# The tool: programs, manual pages, desktop entry, icons, metainfo.
tool="${pkg[tool]}"; troot="$(root_of "$tool")"
has "$tool" usr/bin/BrindleConfigTool usr/bin/brindle-drv \
  usr/share/man/man1/BrindleConfigTool.1.gz usr/share/man/man1/brindle-drv.1.gz \
  "usr/share/applications/$app_id.desktop" "usr/share/metainfo/$app_id.metainfo.xml" \
  "usr/share/icons/hicolor/scalable/apps/$app_id.svg" "usr/share/icons/hicolor/256x256/apps/$app_id.png" \
  "usr/share/icons/hicolor/48x48/apps/$app_id.png"
depends_on "$tool" libqt6widgets6 libqt6network6 libqt6core6 libc6 qt6-qpa-plugins
desktop-file-validate "$troot/usr/share/applications/$app_id.desktop" || fail "the desktop entry is not valid"
grep -q "^Icon=$app_id$" "$troot/usr/share/applications/$app_id.desktop" || fail "the desktop entry names another icon"
grep -q "^Exec=BrindleConfigTool" "$troot/usr/share/applications/$app_id.desktop" || fail "the desktop entry starts another program"
appstreamcli validate --no-net "$troot/usr/share/metainfo/$app_id.metainfo.xml" >/dev/null || fail "the metainfo is not valid"

# Programs never reach back into the build tree, and find every library from
# what the packages hold (the designer's come from the runtime package).
everything="$work/everything"; rm -rf "$everything"
for d in "$work"/out/*.deb; do dpkg -x "$d" "$everything"; done
dangling="$(find "$everything" -xtype l)"
[ -z "$dangling" ] || fail "links that lead nowhere with every package installed: $dangling"
for exe in "$everything"/usr/bin/* "$everything/usr/$libdir"/*.so*; do
  [ -L "$exe" ] && continue
  if readelf -d "$exe" | grep -E 'R(UN)?PATH' | grep -q "$build"; then fail "$exe points into the build tree"; fi
  if ldd "$exe" | grep -q "not found"; then ldd "$exe"; fail "$exe misses a library"; fi
done

summary="$("$troot/usr/bin/brindle-drv" "$src/docs/samples/short.drv" --summary)"
grep -q "^Records: 10$" <<<"$summary" || fail "brindle-drv from the package did not read the sample: $summary"
# A program unpacked on its own starts offscreen and keeps running until
# stopped; a missing library or a crash would end it first.
runs_until_stopped() {  # runs_until_stopped NAME FOLDER PROGRAM [ARGS...]
  local name="$1" folder="$2"; shift 2
  local rc=0
  (cd "$folder" && QT_QPA_PLATFORM=offscreen timeout 10 "$@" >"$work/$name.log" 2>&1) || rc=$?
  [ "$rc" -eq 124 ] || { cat "$work/$name.log"; fail "the installed $name ended by itself (exit $rc)"; }
  echo "the installed $name started offscreen and ran until stopped"
}
run="$work/run"; rm -rf "$run"; mkdir -p "$run"; cp "$src/docs/samples/setting.ini" "$run/"
runs_until_stopped BrindleConfigTool "$run" "$troot/usr/bin/BrindleConfigTool"

# The runtime libraries: the engine by the name the components load, the
# package and design libraries by their sonames; ldconfig by trigger.
libs="${pkg[libs]:-}"
if [ -n "$libs" ]; then
  for lib in $libraries; do has "$libs" "usr/$libdir/$lib"; done
  depends_on "$libs" libqt6core6 libqt6network6 libc6
  control="$work/control-$libs"; rm -rf "$control"; dpkg-deb -e "$(deb_of "$libs")" "$control"
  grep -qx "activate-noawait ldconfig" "$control/triggers" || fail "$libs does not trigger ldconfig"
  grep -q "^libcorvanews20pkg " "$control/shlibs" || fail "$libs has no shlibs line for the package library"
fi

dev="${pkg[dev]:-}"
if [ -n "$dev" ]; then
  has "$dev" usr/include/corvanews20/corvanews20.h usr/include/corvanews20/wskwebsocketserver.h \
    usr/include/corvanews20/package/package_components.h usr/include/corvanews20/package/design/design_registry.h \
    "usr/$libdir/cmake/CorvaneWS20/CorvaneWS20Config.cmake" "usr/$libdir/cmake/CorvaneWS20/CorvaneWS20Targets.cmake" \
    "usr/$libdir/pkgconfig/corvanews20.pc" "usr/$libdir/pkgconfig/corvanews20-design.pc" \
    "usr/$libdir/libcorvanews20pkg.so" "usr/$libdir/libcorvanews20design.so"
  depends_on "$dev" "$libs (= $version)" qt6-base-dev
fi

designer="${pkg[designer]:-}"
if [ -n "$designer" ]; then
  droot="$(root_of "$designer")"
  has "$designer" usr/bin/brindle-designer usr/share/man/man1/brindle-designer.1.gz \
    "usr/share/applications/$designer_id.desktop" "usr/share/icons/hicolor/scalable/apps/$designer_id.svg"
  depends_on "$designer" "$libs (= $version)" libqt6widgets6 qt6-qpa-plugins
  desktop-file-validate "$droot/usr/share/applications/$designer_id.desktop" || fail "the designer's desktop entry is not valid"
  # With the runtime package beside it, the designer opens the installed package.
  # The loader's trace shows which package file it opened.
  LD_DEBUG=files runs_until_stopped brindle-designer "$run" "$everything/usr/bin/brindle-designer"
  grep -q "calling init: $everything/usr/$libdir/libcorvanews20pkg.so" "$work/brindle-designer.log" \
    || fail "the designer did not open the package beside it"
fi

# Lintian: no error and no warning; the ones that stay are overridden, with
# their reason, in the package's own lintian-overrides (shown below, "O:").
# Lintian ends with 2 when it shows overrides, so the verdict is read from its tags.
set +e
lintian --display-level ">=warning" --show-overrides "$work"/out/*.deb >"$work/lintian.log" 2>&1
rc=$?
set -e
cat "$work/lintian.log"
[ "$rc" -le 2 ] || fail "lintian did not run (exit $rc)"
grep -qE "^[EW]: " "$work/lintian.log" && fail "lintian found errors or warnings"
grep -qE "^O: " "$work/lintian.log" || fail "lintian showed none of the packages' overrides: did it read the packages?"
echo "lintian: no errors, no warnings"
