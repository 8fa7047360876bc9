# Shared by the install tests: failure counting, skipping, a scratch folder.
set -uo pipefail
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# ctest reads exit code 77 as "skipped" (SKIP_RETURN_CODE).
skip() {
  echo "SKIP: $*"
  exit 77
}
finish() {
  ((failures == 0)) || { echo "$failures failure(s)" >&2; exit 1; }
  echo "ok"
}
scratch=$(mktemp -d /tmp/vx-install-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
