#!/usr/bin/env bash
# Installs what is missing, builds and starts BrindleConfigTool in the folder it
# was called from: that is where the tool reads "./setting.ini" and writes "./temp.ini".
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/install-deps.sh"
(
  cd "$here"
  cmake --preset default >/dev/null
  cmake --build --preset default --target BrindleConfigTool
)
exec "$here/build/default/app/BrindleConfigTool" "$@"
