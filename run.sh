#!/usr/bin/env bash
# Installs what is missing, builds and starts BrindleConfigTool.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target BrindleConfigTool
exec ./build/default/app/BrindleConfigTool "$@"
