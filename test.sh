#!/usr/bin/env bash
# Installs what the build and the tests need, builds everything with warnings
# as errors and runs the whole test suite.  Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/install-deps.sh
cmake --preset ci >/dev/null
cmake --build --preset ci -j "$(nproc)"
ctest --preset ci "$@"
