#!/usr/bin/env bash
# Installs what is needed, builds the game with its default data and starts
# it. Arguments are passed on to the game.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESSRIG_TESTS=OFF -DKESSRIG_BENCH=OFF
exec build/bin/kessrig "$@"
