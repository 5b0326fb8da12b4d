#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer)
# and runs one over its seed corpus, or every one.
#   scripts/fuzz.sh NAME [SECONDS]     one target, 60 s unless told (NAME: inifile, obs, ...)
#   scripts/fuzz.sh --all [SECONDS]    every target in turn, 5 s each unless told
# SECONDS 0 replays the seeds alone, without mutating them: the same inputs every run, as the
# test run needs (a fresh finding must not turn it red by chance; look for those with time).
# New inputs go to build/fuzz/corpus/NAME (the seeds in tests/fuzz/corpus stay as they are);
# an input that breaks a target is kept in build/fuzz/crashes/ and fails the run.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
TARGETS=(inifile obs looplists practicekeys numbertext midi peaks beatgrid mediaprobe)
name="${1:?usage: scripts/fuzz.sh NAME|--all [SECONDS]}"
if [ "$name" = --all ]; then
  names=("${TARGETS[@]}")
  seconds="${2:-5}"
else
  names=("$name")
  seconds="${2:-60}"
fi
command -v clang++ >/dev/null || { echo "clang++ is not installed: no fuzzing" >&2; exit 1; }

BUILD="$ROOT/build/fuzz"
flags="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g"
mkdir -p "$BUILD"
CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DVAMPLET_BUILD_TESTS=OFF -DVAMPLET_FUZZ=ON \
  -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$BUILD" -j2 --target "${names[@]/#/fuzz_}" >"$BUILD/build.log" 2>&1 || {
  tail -30 "$BUILD/build.log"
  exit 1
}

export ASAN_OPTIONS="detect_leaks=0:abort_on_error=0"  # Qt keeps its singletons to the end on purpose
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
rc=0
mkdir -p "$BUILD/crashes"
for n in "${names[@]}"; do
  mkdir -p "$BUILD/corpus/$n"
  log="$BUILD/fuzz_$n.log"
  set +e
  if [ "$seconds" = 0 ]; then
    how=(-runs=0 "$ROOT/tests/fuzz/corpus/$n")
  else
    how=(-max_total_time="$seconds" "$BUILD/corpus/$n" "$ROOT/tests/fuzz/corpus/$n")
  fi
  (cd "$BUILD" && "./tests/fuzz/fuzz_$n" -rss_limit_mb=2048 -timeout=10 -max_len=65536 -print_final_stats=1 \
     -artifact_prefix="$BUILD/crashes/$n-" "${how[@]}") >"$log" 2>&1
  status=$?
  set -e
  runs="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')"
  if [ $status -eq 0 ]; then
    if [ "$seconds" = 0 ]; then echo "fuzz $n: ${runs} seeds replayed, no finding"; else echo "fuzz $n: ${runs} inputs in ${seconds} s, no finding"; fi
  else
    echo "fuzz $n: FINDING after ${runs} inputs (exit $status), see $log and $BUILD/crashes/"
    grep -E 'ERROR|property broken|runtime error' "$log" | head -5
    rc=1
  fi
done
exit $rc
