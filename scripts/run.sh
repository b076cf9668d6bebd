#!/usr/bin/env bash
# Installs what is missing, builds, and plays the bundled demo show.
# Extra arguments go to lumarok (for example: -osc, or --render 19.6 --out card.png).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh release >/dev/null
exec ./build/release/lumarok --help "$@"
