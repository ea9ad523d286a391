#!/usr/bin/env bash
# The test command: installs what the build needs (as root, via apt), then
# configures, builds and runs every test twice, once optimised and once under
# AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(release asan)

for preset in "${presets[@]}"; do
  echo "== $preset: configure, build, test"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
