#!/usr/bin/env bash
# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer, then the
# engine and output tests with ThreadSanitizer. Any report fails the run.
#   scripts/sanitize.sh [address|thread]   (both when none is named)
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing
which="${1:-both}"
rc=0

# Leaks are not looked for: Qt keeps its singletons to the end of the process on purpose.
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:detect_stack_use_after_return=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

run_ctest() {  # DIR ctest-arguments...
  local dir="$1"
  shift
  (cd "$dir" && if [ -z "${DISPLAY:-}" ]; then
     xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j2 "$@"
   else
     ctest --output-on-failure -j2 "$@"
   fi)
}

if [ "$which" = both ] || [ "$which" = address ]; then
  flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
  cmake -S "$ROOT" -B "$ROOT/build/asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
  # The program and the tests only: the benchmarks are not run here.
  tests=("$ROOT"/tests/test_*.cpp)
  tests=("${tests[@]##*/}")
  cmake --build "$ROOT/build/asan" -j2 --target vamplet "${tests[@]%.cpp}"
  # The sanitizers slow every test down some threefold.
  run_ctest "$ROOT/build/asan" --timeout 900 || rc=1
fi

# The sound engine's threads: its tests drive the output by hand, so they are quick here too.
if [ "$which" = both ] || [ "$which" = thread ]; then
  flags="-fsanitize=thread -fno-omit-frame-pointer"
  cmake -S "$ROOT" -B "$ROOT/build/tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" >/dev/null
  cmake --build "$ROOT/build/tsan" -j2 --target test_sampleengine test_outputclock
  run_ctest "$ROOT/build/tsan" -R '^(test_sampleengine|test_outputclock)$' --timeout 900 || rc=1
fi
exit $rc
