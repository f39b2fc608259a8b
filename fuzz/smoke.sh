#!/usr/bin/env bash
# Short run of every fuzz target from freshly written seeds: each target runs
# SECONDS seconds (default 15) under AddressSanitizer and
# UndefinedBehaviorSanitizer with bounded memory. Any crash, hang, leak or
# oversized allocation stops the target, leaves its input in
# BUILD/fuzz-smoke/artifacts and fails this script.
#
#   fuzz/smoke.sh BUILD [SECONDS]
set -euo pipefail
build=${1:?usage: fuzz/smoke.sh BUILD [SECONDS]}
seconds=${2:-15}
work="$build/fuzz-smoke"
rm -rf "$work"
mkdir -p "$work/artifacts"
"$build/bin/fuzz_seeds" "$work/seeds"
failed=()
for target in dbf memo expr cdx mdx; do
  mkdir -p "$work/corpus/$target"
  echo "fuzz smoke: $target for ${seconds}s"
  if ! nice -n 10 "$build/bin/fuzz_$target" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -malloc_limit_mb=512 -print_final_stats=1 \
      -artifact_prefix="$work/artifacts/$target-" \
      "$work/corpus/$target" "$work/seeds/$target" > "$work/$target.log" 2>&1; then
    failed+=("$target")
    tail -n 60 "$work/$target.log"
  fi
  grep -E "^stat::number_of_executed_units" "$work/$target.log" || true
done
if ((${#failed[@]})); then
  echo "fuzz smoke: findings in: ${failed[*]} (inputs in $work/artifacts)"
  exit 1
fi
echo "fuzz smoke: no findings"
