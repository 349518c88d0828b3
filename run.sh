#!/usr/bin/env bash
# Installs what is missing, builds and starts BrindleConfigTool in the folder it
# was called from: that is where the tool reads "./setting.ini" and writes "./temp.ini".
#   ./run.sh --demo   also starts the recorder simulator on ws://127.0.0.1:5000
#                     (tools/recorder-sim) and stops it when the tool ends,
#                     however it ends: closed, killed, or the script interrupted
#                     (Ctrl+C, SIGTERM, the terminal closing).
# Environment:
#   BRINDLE_SKIP_BUILD=1   start what build/default holds, without installing or
#                          building first (the journey tests start run.sh so)
#   BRINDLE_DEMO_PORT=N    the simulator's port for --demo (default 5000)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
demo=0
if [ "${1:-}" = "--demo" ]; then
  demo=1
  shift
fi
targets=(BrindleConfigTool)
if [ "$demo" = 1 ]; then targets+=(recorder-sim); fi
if [ "${BRINDLE_SKIP_BUILD:-0}" != 1 ]; then
  "$here/scripts/install-deps.sh"
  (
    cd "$here"
    cmake --preset default >/dev/null
    cmake --build --preset default --target "${targets[@]}"
  )
fi
tool="$here/build/default/app/BrindleConfigTool"
if [ "$demo" = 0 ]; then
  exec "$tool" "$@"
fi

port="${BRINDLE_DEMO_PORT:-5000}"
sim_command=("$here/build/default/tools/recorder-sim/recorder-sim" --port "$port" --quiet)
# Nothing can trap SIGKILL: should this script be killed outright, the kernel
# still tells the simulator (SIGTERM on its parent's death).
if command -v setpriv >/dev/null; then sim_command=(setpriv --pdeathsig TERM "${sim_command[@]}"); fi

sim=""
tool_pid=""
stop_children() {
  # The tool first: it may be talking to the simulator.
  if [ -n "$tool_pid" ]; then kill "$tool_pid" 2>/dev/null || true; wait "$tool_pid" 2>/dev/null || true; fi
  if [ -n "$sim" ]; then kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; fi
}
trap stop_children EXIT
# A signal only ends the script; the EXIT trap then stops both children. The
# tool runs in the background so that `wait` below returns at once on a signal
# (bash runs traps only after a foreground command ends).
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

"${sim_command[@]}" &
sim=$!
echo "Recorder simulator on ws://127.0.0.1:$port (ID installer, PS 0000)."
echo "In the tool: Device > Connection Console..., URL ws://127.0.0.1:$port, Connect."
"$tool" "$@" &
tool_pid=$!
status=0
wait "$tool_pid" || status=$?
tool_pid=""
exit "$status"
