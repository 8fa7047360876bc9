#!/usr/bin/env bash
# Installs what the build and the tests need (scripts/install-deps.sh), checks the formatting of the
# C++ sources (scripts/check-format.sh; VAULTIX_SKIP_FORMAT_CHECK=1 skips it),
# builds everything with warnings as errors and runs the whole test suite.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
# Everything: what the build needs, Qt, dpkg-dev and the tests' tools and
# servers (installed disabled: the tests start their own).
bash scripts/install-deps.sh build desktop package test
bash scripts/check-format.sh
cmake --preset ci >/dev/null
cmake --build --preset ci -j "$(nproc)"
ctest --preset ci "$@"
