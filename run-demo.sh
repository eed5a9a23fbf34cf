#!/usr/bin/env bash
# Builds the updater in release mode and runs the demonstration level in
# examples/demo. Installs the Debian packages it needs first.
set -euo pipefail
cd "$(dirname "$0")"
jobs=${VEUPD_JOBS:-2}

.ci/install-packages.sh cmake make g++ libgtest-dev googletest libbenchmark-dev zlib1g-dev libdeflate-dev

cmake --preset release
cmake --build --preset release -j "$jobs"

out_dir="$PWD/build/release/out"
if [ -x examples/demo/run.sh ]; then
  exec examples/demo/run.sh "$out_dir"
fi
echo "Built into $out_dir; no demonstration level yet (examples/demo/run.sh is missing)."
