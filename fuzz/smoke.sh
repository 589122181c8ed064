#!/usr/bin/env bash
# Runs every fuzz target in the given build folder for a fixed number of inputs on its
# seed corpus (fuzz/corpus/<target>), so that a regression shows in a short run.
# Usage: fuzz/smoke.sh <builddir> [runs]
set -euo pipefail
build=${1:?usage: smoke.sh <builddir> [runs]}
runs=${2:-2000}
here=$(cd "$(dirname "$0")" && pwd)
status=0
passed=0
failed=0
for target in "$build"/*_fuzzer; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="$here/corpus/$name"
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
  echo "fuzz-smoke: $name ($runs runs)"
  if ! "$target" -runs="$runs" -max_len=65536 -rss_limit_mb=4096 "$work" >"$work.log" 2>&1; then
    tail -40 "$work.log"
    status=1
    failed=$((failed + 1))
  else
    passed=$((passed + 1))
  fi
  rm -rf "$work" "$work.log"
done
[ $((passed + failed)) -gt 0 ] || { echo "fuzz-smoke: no fuzz target in $build"; exit 1; }
echo "fuzz-smoke: $passed passed, $failed failed"
exit $status
