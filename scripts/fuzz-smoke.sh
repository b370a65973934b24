#!/usr/bin/env bash
# Runs every libFuzzer target in a build directory for a few seconds each, from its seed corpus
# when there is one, and fails on the first crash, leak or abort.
set -euo pipefail
build_dir=${1:?usage: fuzz-smoke.sh BUILD_DIR SECONDS}
seconds=${2:-10}
root=$(cd "$(dirname "$0")/.." && pwd)
status=0
for fuzzer in "$build_dir"/SyncProtocol/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  corpus=$(mktemp -d)
  if [ -d "$root/SyncProtocol/fuzz/corpus/$name" ]; then
    cp "$root/SyncProtocol/fuzz/corpus/$name"/* "$corpus"/ 2>/dev/null || true
  fi
  log=$(mktemp)
  # Crashes and slow inputs go to the build directory, never into the working tree.
  artifacts="$build_dir/fuzz-artifacts/$name"
  mkdir -p "$artifacts"
  if "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
    # The last status line holds the edges covered (cov) and the features (ft) reached.
    coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1 || true)
    echo "fuzz: $name passed ($runs executions in ${seconds}s; ${coverage:-cov: ?})"
  else
    echo "fuzz: $name FAILED"; tail -n 40 "$log"; status=1
  fi
  rm -rf "$corpus" "$log"
done
exit $status
