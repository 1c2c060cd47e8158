#!/usr/bin/env bash
# Soak run of the driver against the local service: tools/soak.sh <build dir> [cycles]
# (default 10000). Reports resident memory every 1,000 payment cycles (BEGIN, DO, COMMIT on
# one device) and fails when it grew by 1 MiB or more after the first 1,000. Given the
# sanitizer build (build-asan), LeakSanitizer reports anything lost at exit. Not part of CI.
set -euo pipefail
BUILD=$(cd "${1:-build}" && pwd)
CYCLES="${2:-10000}"
[[ -x "$BUILD/satispay/satispay_soak" ]] || { echo "missing $BUILD/satispay/satispay_soak" >&2; exit 1; }
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
exec "$BUILD/satispay/satispay_soak" "$CYCLES"
