#!/usr/bin/env bash
# Runs every benchmark program of a build folder: tools/bench.sh <build dir> [benchmark flags]
set -euo pipefail
BUILD=$(cd "${1:-build}" && pwd)
shift || true
export QVPA_LOG_DIR="$BUILD/bench-logs"
mkdir -p "$QVPA_LOG_DIR"
for bench in base/qvpa_base_bench io/qvpa_io_bench request/qvpa_request_bench driver/qvpa_driver_bench \
             satispay/qvpa_satispay_helpers_bench satispay/satispay_bench; do
  [[ -x "$BUILD/$bench" ]] || { echo "missing $BUILD/$bench (configure with QVPA_BENCHMARKS=ON)" >&2; exit 1; }
  echo "==== $bench"
  (cd "$BUILD/$(dirname "$bench")" && "./$(basename "$bench")" "$@")
done
