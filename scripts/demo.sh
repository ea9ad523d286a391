#!/usr/bin/env bash
# Builds the program and the development server, runs the server with the
# demo agent (account 13800138000, password "tarvo123", 45 students) on
# 127.0.0.1:8041, keeping its data in the user's state folder, and starts
# TarvoAdmin against it; the server stops when the program ends. Without a
# display the program runs on a virtual one and its login window is written
# to build/demo/login.png. Extra arguments go
# to the server.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target tarvo-devserver TarvoAdmin

state="${XDG_STATE_HOME:-$HOME/.local/state}/tarvo"
mkdir -p "$state" build/demo
bin=build/release/bin

"$bin/tarvo-devserver" --demo --db "$state/devserver.db" "$@" &
server=$!
trap 'kill "$server" 2>/dev/null || true' EXIT

# The program finds the server through its default address.
for _ in $(seq 50); do
  (exec 3<>/dev/tcp/127.0.0.1/8041) 2>/dev/null && break
  sleep 0.1
done

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$bin/TarvoAdmin" || true
else
  echo "demo: no display; running the program on a virtual one"
  coproc XVFB { Xvfb -displayfd 1 -screen 0 1280x900x24 -nolisten tcp 2>/dev/null; }
  xvfb=$XVFB_PID
  trap 'kill "$server" "$xvfb" 2>/dev/null || true' EXIT
  read -r display <&"${XVFB[0]}"
  export DISPLAY=":$display"
  "$bin/TarvoAdmin" &
  program=$!
  xdotool search --sync --onlyvisible --name 'Quorvi' >/dev/null
  sleep 1
  import -window root build/demo/login.png
  echo "demo: the login window is in build/demo/login.png"
  kill "$program" 2>/dev/null || true
fi
