#!/usr/bin/env bash
# Runs a command against a fresh local payment service (gbusiness-sim) on a free loopback
# port, with the driver pointed at it: QVPA_SATISPAY_HOST and QVPA_SATISPAY_STAGING_HOST,
# QVPA_SATISPAY_CA_FILE (its authority), SIM_URL (its base, for the /control/ requests) and,
# unless already set, QVPA_LOG_DIR (a fresh folder). The service stops when the command ends;
# the command's exit status is the script's.
# Usage: tools/with-sim.sh <gbusiness-sim> [simulator options...] -- <command> [args...]
set -euo pipefail
SIM=$1
shift
SIM_ARGS=()
while [[ $# -gt 0 && $1 != -- ]]; do SIM_ARGS+=("$1"); shift; done
[[ $# -gt 1 ]] || { echo "usage: with-sim.sh <gbusiness-sim> [options...] -- <command>..." >&2; exit 2; }
shift
WORK=$(mktemp -d)
SIM_PID=
stop() {
  [[ -n $SIM_PID ]] && { kill "$SIM_PID" 2>/dev/null || true; wait "$SIM_PID" 2>/dev/null || true; }
  rm -rf "$WORK"
}
trap stop EXIT
"$SIM" --quiet --port 0 --port-file "$WORK/port" --cert-dir "$WORK/certs" "${SIM_ARGS[@]}" \
  > "$WORK/sim.out" 2>&1 &
SIM_PID=$!
for _ in $(seq 100); do [[ -s "$WORK/port" ]] && break; sleep 0.1; done
[[ -s "$WORK/port" ]] || { echo "the local service did not start" >&2; cat "$WORK/sim.out" >&2; exit 1; }
PORT=$(cat "$WORK/port")
export QVPA_SATISPAY_HOST="127.0.0.1:$PORT" QVPA_SATISPAY_STAGING_HOST="127.0.0.1:$PORT"
export QVPA_SATISPAY_CA_FILE="$WORK/certs/ca.pem" SIM_URL="https://127.0.0.1:$PORT"
if [[ -z ${QVPA_LOG_DIR:-} ]]; then
  export QVPA_LOG_DIR="$WORK/logs"
  mkdir -p "$QVPA_LOG_DIR"
fi
rc=0
"$@" || rc=$?
exit $rc
