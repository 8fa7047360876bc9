#!/usr/bin/env bash
# Installs what the build and the tests need, checks the formatting of the
# C++ sources (scripts/check-format.sh; VAULTIX_SKIP_FORMAT_CHECK=1 skips it),
# builds everything with warnings as errors and runs the whole test suite.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/install-deps.sh
bash scripts/check-format.sh
cmake --preset ci >/dev/null
cmake --build --preset ci -j "$(nproc)"
ctest --preset ci "$@"
