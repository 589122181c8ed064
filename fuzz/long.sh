#!/usr/bin/env bash
# Runs every fuzz target in the given build folder for a fixed time, one after the other
# (one process each, which suits a two-core machine), on a copy of its seed corpus
# (fuzz/corpus/<target>), then prints per target the runs executed, the coverage (cov and
# ft of libFuzzer's last stats line), the corpus size and whether it passed. Exits non-zero
# when any target crashed, ran out of memory or timed out; the reproducer's path is printed.
# Usage: fuzz/long.sh <builddir> [seconds per target, default 600]
# Logs, grown corpora and reproducers stay in <builddir>/fuzz-long/<target>/.
set -uo pipefail
build=${1:?usage: long.sh <builddir> [seconds]}
seconds=${2:-600}
case $seconds in '' | *[!0-9]*) echo "fuzz-long: seconds must be a whole number, not '$seconds'" >&2; exit 2 ;; esac
here=$(cd "$(dirname "$0")" && pwd)
out="$build/fuzz-long"
mkdir -p "$out"

summary=()
passed=0
failed=0
for target in "$build"/*_fuzzer; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  dir="$out/$name"
  rm -rf "$dir"
  mkdir -p "$dir/corpus" "$dir/artifacts"
  seeds=0
  if [ -d "$here/corpus/$name" ]; then
    cp -r "$here/corpus/$name"/. "$dir/corpus"/
    seeds=$(find "$dir/corpus" -type f | wc -l)
  fi
  log="$dir/fuzz.log"
  echo "fuzz-long: $name for ${seconds} s ($seeds seeds)"
  # The outer timeout only guards against a process that does not stop by itself.
  timeout --kill-after=30 $((seconds + 300)) "$target" -max_total_time="$seconds" -max_len=65536 \
    -rss_limit_mb=4096 -timeout=120 -print_final_stats=1 -artifact_prefix="$dir/artifacts/" \
    "$dir/corpus" >"$log" 2>&1
  status=$?

  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  stats=$(grep -E '^#[0-9]+' "$log" | grep -E ' cov: ' | tail -1)
  [ -n "$runs" ] || runs=$(printf '%s\n' "$stats" | sed -n 's/^#\([0-9]*\).*/\1/p')
  cov=$(printf '%s\n' "$stats" | sed -n 's/.* cov: \([0-9]*\).*/\1/p')
  ft=$(printf '%s\n' "$stats" | sed -n 's/.* ft: \([0-9]*\).*/\1/p')
  corpus=$(find "$dir/corpus" -type f | wc -l)
  artifacts=$(find "$dir/artifacts" -type f | sort)

  if [ "$status" -eq 0 ] && [ -z "$artifacts" ]; then
    verdict=PASS
    passed=$((passed + 1))
  else
    verdict=FAIL
    failed=$((failed + 1))
  fi
  line=$(printf '%-20s %s  runs %-10s cov %-6s ft %-7s corpus %s' "$name" "$verdict" "${runs:-?}" \
    "${cov:-?}" "${ft:-?}" "$corpus")
  echo "fuzz-long: $line"
  if [ "$verdict" = FAIL ]; then
    # What broke, as libFuzzer and the sanitizers reported it.
    grep -E -m 5 '^[a-z_]+_fuzzer: |ERROR: |SUMMARY: |runtime error' "$log" | sed 's/^/fuzz-long:   /'
    [ -n "$artifacts" ] || echo "fuzz-long:   exit status $status without a reproducer, see $log"
    for file in $artifacts; do
      echo "fuzz-long:   reproducer: $file (run: $target $file)"
      line="$line  reproducer: $file"
    done
  fi
  summary+=("$line")
done

[ ${#summary[@]} -gt 0 ] || { echo "fuzz-long: no fuzz target in $build"; exit 1; }
echo "fuzz-long: summary (${seconds} s per target; logs and corpora in $out)"
for line in "${summary[@]}"; do echo "fuzz-long:   $line"; done
echo "fuzz-long: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
