#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each over its corpus for a while.
set -eu
seconds=${1:-20}
cmake -S . -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DOMBRIX_FUZZ=ON -DOMBRIX_GUI=OFF -DOMBRIX_TESTS=OFF -DOMBRIX_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)"
status=0
for fuzzer in build-fuzz/bin/fuzz_*; do
  name=$(basename "$fuzzer" | sed 's/^fuzz_//')
  corpus=fuzz/corpus/$name
  work=$(mktemp -d)
  cp -r "$corpus"/. "$work"/ 2>/dev/null || true
  echo "== fuzzing $name for ${seconds}s"
  if ! "$fuzzer" -max_total_time="$seconds" -print_final_stats=0 -artifact_prefix="$work/" \
       "$work" >"$work/log" 2>&1; then
    tail -n 40 "$work/log"; status=1
  fi
  rm -rf "$work"
done
exit $status
