#!/usr/bin/env bash
# Demo: a host session against the driver library, through qvpa-host; each request is
# printed before its result.
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
# Each run starts with an empty log folder, so what is shown is this session's.
export QVPA_LOG_DIR="$BUILD/demo-logs"
rm -rf "$QVPA_LOG_DIR"
mkdir -p "$QVPA_LOG_DIR"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

section() { printf '\n==== %s ====\n' "$1"; }

# ---- Driver basics: version, status, open and close of a device ----
section "VERSION of QVPA_SATISPAY_10 (and of an unknown name: empty)"
"$HOST" --library "$LIBRARY" --show-requests VERSION --text QVPA_SATISPAY_10
"$HOST" --library "$LIBRARY" --show-requests VERSION --text qvpa_satispay_10

section "GETSTATUS (needs no request)"
"$HOST" --library "$LIBRARY" --show-requests GETSTATUS --text ""

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
"$HOST" --library "$LIBRARY" --show-requests --script "$WORK/basics.script"

section "Logs"
echo "Application log folder: $QVPA_LOG_DIR/LogFiles"
echo "Device logs:            $QVPA_LOG_DIR/LogFiles/Payment"
for log in "$QVPA_LOG_DIR"/LogFiles/Payment/*.log; do
  [[ -e "$log" ]] || continue
  echo "--- last lines of $log"
  tail -n 8 "$log" | tr -d '\r'
done

# ---- Payment session against the local service (added with the service simulator) ----
# (Section owned by the Satispay device: a whole POS session against gbusiness-sim.)
SIM="$BUILD/tools/gbusiness-sim/gbusiness-sim"
[[ -x "$SIM" ]] || { echo "missing $SIM: build first" >&2; exit 1; }

section "Starting the local payment service (gbusiness-sim)"
# A pending payment read more than twice counts as approved in the app, so DO succeeds on its own.
"$SIM" --quiet --port 0 --port-file "$WORK/sim.port" --cert-dir "$WORK/sim" --token DEMO01 \
  --accept-after 2 > "$WORK/sim.out" 2>&1 &
SIM_PID=$!
trap 'kill "$SIM_PID" 2>/dev/null || true; wait "$SIM_PID" 2>/dev/null || true; rm -rf "$WORK"' EXIT
for _ in $(seq 100); do [[ -s "$WORK/sim.port" ]] && break; sleep 0.1; done
[[ -s "$WORK/sim.port" ]] || { echo "the local service did not start" >&2; cat "$WORK/sim.out" >&2; exit 1; }
SIM_PORT=$(cat "$WORK/sim.port")
# The driver reaches the local service instead of the real hosts and trusts its authority.
export QVPA_SATISPAY_HOST="127.0.0.1:$SIM_PORT"
export QVPA_SATISPAY_STAGING_HOST="127.0.0.1:$SIM_PORT"
export QVPA_SATISPAY_CA_FILE="$WORK/sim/ca.pem"
echo "service at https://$QVPA_SATISPAY_HOST/g_business/v1/ (activation token DEMO01)"

REFERENCE="DEMO-$(date +%H%M%S)"
export REFERENCE
cat > "$WORK/session.script" <<'SCRIPT'
# Register the library's public key with the activation token; the result is the key id.
CALL GENERATE_KEYID expect=1
token=DEMO01|staging=false
END
CALL OPEN expect=0
<Request>
  <Driver>QVPA_SATISPAY_10</Driver>
  <LogId>POS1</LogId>
  <Connection><Type>http</Type></Connection>
  <Parameters><KeyID>${Output}</KeyID></Parameters>
</Request>
END
# BEGIN creates the payment; AuthCode is the code the customer enters in the app.
CALL PAY expect=0
<Request><Handle>${Handle}</Handle>
  <Payment><Action>PAY</Action><Phase>BEGIN</Phase><Amount>12.50</Amount><Currency>EUR</Currency>
    <Reference>${env:REFERENCE}</Reference></Payment>
</Request>
END
# DO until the customer has approved (PENDING answers Error True meanwhile).
CALL PAY until=Error=False max=10 every=500
<Request><Handle>${Handle}</Handle>
  <Payment><Action>PAY</Action><Phase>DO</Phase><Attributes>${PaymentNumber}</Attributes></Payment>
</Request>
END
CALL PAY expect=0
<Request><Handle>${Handle}</Handle><Payment><Action>PAY</Action><Phase>COMMIT</Phase></Payment></Request>
END
# Later: what became of the receipt with that reference?
CALL VERIFYTRAN expect=0
<Request><Handle>${Handle}</Handle><VerifyTran><ReceiptId>${env:REFERENCE}</ReceiptId></VerifyTran></Request>
END
# A partial refund of the verified payment.
CALL PAY expect=0
<Request><Handle>${Handle}</Handle>
  <Payment><Action>REFUND</Action><Amount>5.00</Amount><Currency>EUR</Currency>
    <RefundReference><PaymentId>${PaymentNumber}</PaymentId></RefundReference></Payment>
</Request>
END
CALL DAYCLOSE expect=0
<Request><Handle>${Handle}</Handle><DayClose/></Request>
END
CALL GETTOTALS expect=0
<Request><Handle>${Handle}</Handle><GetTotals/></Request>
END
CALL CLOSE expect=0
<Request><Handle>${Handle}</Handle></Request>
END
SCRIPT
section "POS session: key, open, pay, verify, refund, day close, totals, close"
"$HOST" --library "$LIBRARY" --show-requests --script "$WORK/session.script"

section "Stopping the local payment service"
kill "$SIM_PID"
wait "$SIM_PID" 2>/dev/null || true
echo "stopped"

section "Logs of the session"
echo "Application log folder: $QVPA_LOG_DIR/LogFiles"
echo "Device log:             $(ls -t "$QVPA_LOG_DIR"/LogFiles/Payment/QVPA_SATISPAY_10_POS1_*.log | head -n 1)"
