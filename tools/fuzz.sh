#!/usr/bin/env bash
# Runs one fuzz target of a fuzz build: tools/fuzz.sh BUILD_DIR TARGET SECONDS.
# It starts from the seed corpus fuzz/corpus/TARGET and keeps what it finds new in
# BUILD_DIR/corpus/TARGET (copy an input to the seed corpus to keep it as a regression test);
# a crashing input is written to BUILD_DIR/findings/ and the run fails. Logs of the devices
# opened go to a temporary folder that is removed afterwards, memory-backed (/dev/shm) where
# there is one: every input writes and removes its logs and journal.
set -euo pipefail
build=$1 target=$2 seconds=$3
root="$(cd "$(dirname "$0")/.." && pwd)"
mkdir -p "$build/corpus/$target" "$build/findings"
if [ -d /dev/shm ] && [ -w /dev/shm ]; then logs=$(mktemp -d -p /dev/shm); else logs=$(mktemp -d); fi
trap 'rm -rf "$logs"' EXIT
echo "== $target for ${seconds}s"
# The targets that log through the library's log threads check leaks once, at exit (the run
# fails with the allocation's stack), not after each input: a log thread frees its queued
# lines after the input has returned, so nearly every input had more allocations than frees
# and was run a second time and followed by a scan of the whole heap.
leaks=()
case "$target" in
  exports_utf16_fuzz | exports_utf8_fuzz | device_session_fuzz | service_answers_fuzz)
    leaks=(-detect_leaks=0) ;;
esac
# The fuzzer's own temporary folders (device logs) go below $logs. Its lines for each new
# input are left out of what is shown.
set +e
TMPDIR="$logs" "$build/fuzz/$target" "${leaks[@]}" -max_total_time="$seconds" -timeout=30 \
  -dict="$root/fuzz/dict/$target.dict" -artifact_prefix="$build/findings/$target-" \
  -print_final_stats=1 "$build/corpus/$target" "$root/fuzz/corpus/$target" >"$logs/out" 2>&1
status=$?
set -e
grep -v -E '^#[0-9]+[[:space:]]+(NEW|REDUCE)|NEW_FUNC' "$logs/out" || true
exit "$status"
