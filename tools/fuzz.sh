#!/usr/bin/env bash
# Runs one fuzz target of a fuzz build: tools/fuzz.sh BUILD_DIR TARGET SECONDS.
# It starts from the seed corpus fuzz/corpus/TARGET and keeps what it finds new in
# BUILD_DIR/corpus/TARGET (copy an input to the seed corpus to keep it as a regression test);
# a crashing input is written to BUILD_DIR/findings/ and the run fails. Logs of the devices
# opened go to a temporary folder that is removed afterwards.
set -euo pipefail
build=$1 target=$2 seconds=$3
root="$(cd "$(dirname "$0")/.." && pwd)"
mkdir -p "$build/corpus/$target" "$build/findings"
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
echo "== $target for ${seconds}s"
# The fuzzer's own temporary folders (device logs) go below $logs. Its lines for each new
# input are left out of what is shown.
set +e
TMPDIR="$logs" "$build/fuzz/$target" -max_total_time="$seconds" -timeout=30 \
  -dict="$root/fuzz/dict/$target.dict" -artifact_prefix="$build/findings/$target-" \
  -print_final_stats=1 "$build/corpus/$target" "$root/fuzz/corpus/$target" >"$logs/out" 2>&1
status=$?
set -e
grep -v -E '^#[0-9]+[[:space:]]+(NEW|REDUCE)|NEW_FUNC' "$logs/out" || true
exit "$status"
