#!/bin/bash
# Runs every fuzzer of a fuzz build for a bounded time, starting from its
# seed corpus in fuzz/corpus/NAME (copied, so the repository stays as it is).
#   run-fuzzers.sh BUILD_DIR SECONDS
set -euo pipefail
build=$1
seconds=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for fuzzer in "$build"/fuzzers/*_fuzzer; do
  name=$(basename "$fuzzer")
  mkdir -p "$work/$name"
  if [ -d "fuzz/corpus/$name" ]; then
    cp -r "fuzz/corpus/$name/." "$work/$name/"
  fi
  echo "== $name for $seconds s"
  "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -timeout=30 \
    -artifact_prefix="$work/" "$work/$name" 2>&1 | tail -n 12
done
