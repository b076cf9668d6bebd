#!/usr/bin/env bash
# Installs what is missing, builds, and plays the bundled demo show in the preview
# window. Extra arguments go to lumarok (for example -osc to follow a music player).
# Without a display it renders a few moments of the show to PNG files instead and
# says how to watch the whole show.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh release >/dev/null
lumarok=./build/release/lumarok

if [ -n "${DISPLAY:-}" ]; then
    exec "$lumarok" "$@"
fi

mkdir -p out
echo "run.sh: no display here (DISPLAY is not set), so the show cannot open its window." >&2
for t in 1.0 3.0 19.6 25.0 40.0 50.0 60.0 100.0 140.0 220.0; do
    "$lumarok" --render "$t" --out "out/show-$t.png"
done
echo "run.sh: rendered moments of the show to out/show-*.png." >&2
echo "run.sh: to watch it whole without a screen: xvfb-run -a -s '-screen 0 1280x1024x24' $lumarok" >&2
