#!/usr/bin/env bash
# Installs what is missing, builds and starts BrindleConfigTool in the folder it
# was called from: that is where the tool reads "./setting.ini" and writes "./temp.ini".
#   ./run.sh --demo   also starts the recorder simulator on ws://127.0.0.1:5000
#                     (tools/recorder-sim) and stops it when the tool ends.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
demo=0
if [ "${1:-}" = "--demo" ]; then
  demo=1
  shift
fi
"$here/scripts/install-deps.sh"
targets=(BrindleConfigTool)
if [ "$demo" = 1 ]; then targets+=(recorder-sim); fi
(
  cd "$here"
  cmake --preset default >/dev/null
  cmake --build --preset default --target "${targets[@]}"
)
tool="$here/build/default/app/BrindleConfigTool"
if [ "$demo" = 0 ]; then
  exec "$tool" "$@"
fi

"$here/build/default/tools/recorder-sim/recorder-sim" --port 5000 --quiet &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true' EXIT
echo "Recorder simulator on ws://127.0.0.1:5000 (ID installer, PS 0000)."
echo "In the tool: Device > Connection Console..., URL ws://127.0.0.1:5000, Connect."
"$tool" "$@"
