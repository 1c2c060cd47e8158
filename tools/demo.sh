#!/usr/bin/env bash
# Demo: a host session against the driver library, through qvpa-host.
# Usage: tools/demo.sh <build dir>
set -euo pipefail

BUILD=${1:-build}
BUILD=$(cd "$BUILD" && pwd)
HOST="$BUILD/tools/qvpa-host/qvpa-host"
LIBRARY="$BUILD/driver/libQVPA_SATISPAY_10.so"
for f in "$HOST" "$LIBRARY"; do
  [[ -e "$f" ]] || { echo "missing $f: build first (make test or make build)" >&2; exit 1; }
done

# Logs go below the build folder instead of beside the host program.
export QVPA_LOG_DIR="$BUILD/demo-logs"
mkdir -p "$QVPA_LOG_DIR"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

section() { printf '\n==== %s ====\n' "$1"; }

# ---- Driver basics: version, status, open and close of a device ----
section "VERSION of QVPA_SATISPAY_10 (and of an unknown name: empty)"
"$HOST" --library "$LIBRARY" VERSION --text QVPA_SATISPAY_10
"$HOST" --library "$LIBRARY" VERSION --text qvpa_satispay_10

section "GETSTATUS (needs no request)"
"$HOST" --library "$LIBRARY" GETSTATUS --text ""

section "OPEN and CLOSE of a device on one loaded library"
cat > "$WORK/basics.script" <<'SCRIPT'
# A device that reaches the service over HTTP; the key identifier comes with each request.
CALL OPEN expect=0
<Request>
  <Driver>QVPA_SATISPAY_10</Driver>
  <LogId>DEMO</LogId>
  <Connection><Type>http</Type></Connection>
  <Parameters><KeyID>demo-key</KeyID><Staging>true</Staging></Parameters>
</Request>
END
# The handle of the open device, taken from the OPEN result.
CALL CLOSE expect=0
<Request><Handle>${Handle}</Handle></Request>
END
# Closing again: the handle is gone.
CALL CLOSE expect=-1
<Request><Handle>${Handle}</Handle></Request>
END
# The device needs the HTTP channel: a transport-less connection is refused.
CALL OPEN expect=-1
<Request><Driver>QVPA_SATISPAY_10</Driver><LogId>DEMO</LogId><Connection><Type>Com</Type></Connection></Request>
END
SCRIPT
"$HOST" --library "$LIBRARY" --script "$WORK/basics.script"

section "Logs"
echo "Application log folder: $QVPA_LOG_DIR/LogFiles"
echo "Device logs:            $QVPA_LOG_DIR/LogFiles/Payment"
for log in "$QVPA_LOG_DIR"/LogFiles/Payment/*.log; do
  [[ -e "$log" ]] || continue
  echo "--- last lines of $log"
  tail -n 8 "$log" | tr -d '\r'
done

# ---- Payment session against the local service (added with the service simulator) ----
