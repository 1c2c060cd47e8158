#!/usr/bin/env bash
# Runs qvpa-host's help example and every session script of tools/qvpa-host/examples against
# the local service (started by tools/with-sim.sh with the activation token EXAMPLES and
# --accept-after 2): a key is registered first and passed to the scripts as KEYID, each script
# gets a reference of its own. Each script's expect= and until= lines are its checks.
# Usage: tools/with-sim.sh <sim> --token EXAMPLES --accept-after 2 -- \
#          tools/qvpa-host/run_examples.sh <qvpa-host> <library>
set -euo pipefail
HOST=$1
LIBRARY=$2
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

# The help goes to standard output and names every export and the script's keywords.
"$HOST" --help > "$WORK/help.txt" 2> "$WORK/help.err" || fail "--help exited with $?"
[[ ! -s "$WORK/help.err" ]] || fail "--help wrote to standard error: $(cat "$WORK/help.err")"
for word in OPEN CLOSE PAY REPRINT GETSTATUS DAYCLOSE GETTOTALS VERIFYTRAN VERSION GENERATE_KEYID \
            'CALL <EXPORT>' END 'until=' 'expect=' '${env:NAME}' 'no device handle survives'; do
  grep -qF -- "$word" "$WORK/help.txt" || fail "--help does not mention $word"
done

# A single call: register the key (the result is the key id).
"$HOST" --library "$LIBRARY" GENERATE_KEYID --text "token=EXAMPLES|staging=false" > "$WORK/key.out"
KEYID=$(sed -n '/^--- GENERATE_KEYID$/{n;p;q}' "$WORK/key.out")
[[ -n $KEYID ]] || { cat "$WORK/key.out"; fail "no key id"; }
export KEYID

# The help's example, as printed.
sed -n '/^Example:$/,$p' "$WORK/help.txt" | tail -n +2 | sed 's/^  //' > "$WORK/help.script"
grep -q '^CALL' "$WORK/help.script" || fail "--help shows no example script"
"$HOST" --library "$LIBRARY" --script "$WORK/help.script" > "$WORK/help-run.out" 2>&1 ||
  { cat "$WORK/help-run.out"; fail "the help's example"; }
echo "help example: passed"

for name in payment refund cancel verify-after-timeout day-closure; do
  script="$HERE/examples/$name.script"
  export REFERENCE="EX-$name-$$"
  "$HOST" --library "$LIBRARY" --show-requests --script "$script" > "$WORK/$name.out" 2>&1 ||
    { cat "$WORK/$name.out"; fail "$name"; }
  # --show-requests (as make demo runs it): every result comes after its own request.
  awk '/^--- [A-Z_]+ request:$/ { if (open) exit 1; open = 1 }
       /^--- result:/ { if (!open) exit 1; open = 0 }' "$WORK/$name.out" ||
    { cat "$WORK/$name.out"; fail "$name: a result without its request before it"; }
  echo "$name: passed ($(grep -c '^--- result:' "$WORK/$name.out") calls)"
done
