#!/usr/bin/env bash
# Builds the project and runs the development server with the demo agent
# (account 13800138000, password "tarvo123") on 127.0.0.1:8041, keeping its
# data in the user's state folder. Extra arguments go to the server.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target tarvo-devserver

state="${XDG_STATE_HOME:-$HOME/.local/state}/tarvo"
mkdir -p "$state"
exec build/release/bin/tarvo-devserver --demo --db "$state/devserver.db" "$@"
