#!/usr/bin/env bash
# Installs what is missing, builds the player alone (its own build folder, no tests,
# benchmarks or tools), and plays the bundled demo show in the preview window. Extra
# arguments go to lumarok (for example -osc to follow a music player). Without a
# display it renders a few moments of the show to PNG files instead and says how to
# watch the whole show.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "run.sh: checking the Debian packages the player needs (scripts/install-deps.sh)" >&2
./scripts/install-deps.sh
lumarok=./build/player/lumarok
echo "run.sh: configuring and building the player in build/player" >&2
if [ ! -x "$lumarok" ]; then
    echo "run.sh: the first build compiles about 50 files: about 1.5 minutes on an idle 2-core machine" >&2
fi
cmake --preset player >/dev/null
started=$SECONDS
cmake --build --preset player
echo "run.sh: the player is built ($((SECONDS - started)) s)" >&2

if [ -n "${DISPLAY:-}" ]; then
    echo "run.sh: playing the demo show; Esc, q or closing the window end it" >&2
    exec "$lumarok" "$@"
fi

mkdir -p out
echo "run.sh: no display here (DISPLAY is not set), so the show cannot open its window." >&2
echo "run.sh: rendering moments of the show instead" >&2
for t in 1.0 3.0 19.6 25.0 40.0 50.0 60.0 100.0 140.0 220.0; do
    "$lumarok" --render "$t" --out "out/show-$t.png"
done
echo "run.sh: rendered moments of the show to out/show-*.png." >&2
echo "run.sh: to watch it whole without a screen: xvfb-run -a -s '-screen 0 1280x1024x24' $lumarok" >&2
