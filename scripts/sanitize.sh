#!/usr/bin/env bash
# The tests of our parsers, our storage and the sound engine built with AddressSanitizer and
# UndefinedBehaviorSanitizer, then the engine and output tests with ThreadSanitizer. Any
# report fails the run.
#   scripts/sanitize.sh [address|thread|all]   (address and thread when none is named)
# "all" runs the whole suite under AddressSanitizer: the windows' tests need the whole
# program built a second time, which CI's time on two cores does not allow.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing
which="${1:-both}"
rc=0

# -O1: what the sanitizers' makers advise, and a third quicker to build than -O2.
# Leaks are not looked for: Qt keeps its singletons to the end of the process on purpose.
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:detect_stack_use_after_return=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Qt is not instrumented: its own threads (QtTest's watchdog) synchronise through futexes
# ThreadSanitizer cannot see, so only calls from our code are checked.
# die_after_fork=0: tests start ffmpeg through QProcess, whose child only runs exec.
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1:die_after_fork=0"

run_ctest() {  # DIR ctest-arguments...
  local dir="$1"
  shift
  (cd "$dir" && if [ -z "${DISPLAY:-}" ]; then
     xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j2 "$@"
   else
     ctest --output-on-failure -j2 "$@"
   fi)
}

# Whatever reads outside bytes or runs on the engine's threads, without the windows.
ASAN_TESTS=(
  test_inifile test_playliststore test_looplists test_loopreader test_practicekeys test_numbertext test_paths
  test_midifile test_mediaprobe test_streamlength test_waveform
  test_sampleengine test_outputclock test_audiodecoder test_stretcher test_heardclock test_failoveroutput
  test_listplay test_practiceplan test_entryplayer test_liveloop test_liveswitch test_follow test_listmodel
)
# Whatever runs on threads of ours: the engine, its output and reader, the list's checks, the
# waveform's, the beats' and the MIDI renderer's workers.
TSAN_TESTS=(
  test_sampleengine test_outputclock test_failoveroutput test_liveswitch test_loopreader test_stretcher
  test_heardclock test_audiodecoder test_listmodel test_listplay test_entryplayer test_liveloop test_follow
  test_waveform test_beatanalysis test_midifile
)
if [ "$which" = all ]; then
  ASAN_TESTS=("$ROOT"/tests/test_*.cpp)
  ASAN_TESTS=("${ASAN_TESTS[@]##*/}")
  ASAN_TESTS=(vamplet "${ASAN_TESTS[@]%.cpp}")
fi

if [ "$which" = both ] || [ "$which" = address ] || [ "$which" = all ]; then
  flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
  cmake -S "$ROOT" -B "$ROOT/build/asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g -DNDEBUG" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_C_FLAGS="$flags" -DVAMPLET_TEST_TIMEOUT=900 -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
  cmake --build "$ROOT/build/asan" -j2 --target "${ASAN_TESTS[@]}"
  # The sanitizers slow every test down some threefold.
  if [ "$which" = all ]; then
    run_ctest "$ROOT/build/asan" --timeout 900 || rc=1
  else
    pattern="$(IFS='|'; echo "${ASAN_TESTS[*]}")"
    run_ctest "$ROOT/build/asan" -R "^($pattern)\$" --timeout 900 || rc=1
  fi
fi

# The sound engine's threads: its tests drive the output by hand, so they are quick here too.
if [ "$which" = both ] || [ "$which" = thread ]; then
  flags="-fsanitize=thread -fno-omit-frame-pointer"
  cmake -S "$ROOT" -B "$ROOT/build/tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g -DNDEBUG" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_C_FLAGS="$flags" -DVAMPLET_TEST_TIMEOUT=900 -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" >/dev/null
  cmake --build "$ROOT/build/tsan" -j2 --target "${TSAN_TESTS[@]}"
  pattern="$(IFS='|'; echo "${TSAN_TESTS[*]}")"
  TSAN_OPTIONS="$TSAN_OPTIONS:suppressions=$ROOT/scripts/tsan.supp" \
    run_ctest "$ROOT/build/tsan" -R "^($pattern)\$" --timeout 900 || rc=1
fi
exit $rc
