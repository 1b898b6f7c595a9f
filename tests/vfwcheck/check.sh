#!/usr/bin/env bash
# Runs vfwcheck under Wine with the given arguments and a JUnit report. With
# RULE "none" it passes when the check passes; with "WARN:rule" when the check
# passes with a warning of that rule; otherwise when the check fails and a
# FAIL line names RULE (a faulty fixture driver caught for the rule it
# breaks). The report must have the JUnit shape (junit_check.py) and as many
# failures as the output has FAIL lines; with VFWCHECK_NO_JUNIT=1 (a group
# whose report another run checks) none is written.
# Usage: check.sh BIN RULE VFWCHECK-ARGUMENTS...
set -uo pipefail
bin=$1 rule=$2
shift 2
report=vfwcheck-junit-$$.xml
junit=(--junit "$report")
[ "${VFWCHECK_NO_JUNIT:-0}" = 1 ] && junit=()
output=$(cd "$bin" && wine vfwcheck.exe "${junit[@]}" "$@" 2>&1)
status=$?
printf '%s\n' "$output"
if [ "$rule" = none ]; then
  [ "$status" -eq 0 ] && ok=1 || ok=0
elif [ "${rule#WARN:}" != "$rule" ]; then
  [ "$status" -eq 0 ] && grep -q "WARN ${rule#WARN:}:" <<<"$output" && ok=1 || ok=0
  [ "$ok" -eq 1 ] || echo "check.sh: expected a pass with a warning of ${rule#WARN:} (exit status $status)"
else
  [ "$status" -ne 0 ] && grep -q "FAIL $rule:" <<<"$output" && ok=1 || ok=0
  [ "$ok" -eq 1 ] || echo "check.sh: expected a failure of $rule (exit status $status)"
fi
if [ ${#junit[@]} -gt 0 ]; then
  failures=$(python3 "$(dirname "$0")/junit_check.py" "$bin/$report")
  lines=$(grep -c '^  FAIL ' <<<"$output")
  rm -f "$bin/$report"
  if [ "$failures" != "$lines" ]; then
    echo "check.sh: expected a JUnit report with $lines failures, got ${failures:-none}"
    ok=0
  fi
fi
echo "$ok passed, $((1 - ok)) failed"
[ "$ok" -eq 1 ]
