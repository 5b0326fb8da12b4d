#!/usr/bin/env bash
# Install what is missing, build and run every test.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing
# An include upwards between the source folders fails the run before anything is built.
python3 "$ROOT/scripts/include-graph.py" --check >/dev/null || {
  python3 "$ROOT/scripts/include-graph.py"
  exit 1
}
build Release "$ROOT/build/test"
cd "$ROOT/build/test"
# The list model's seeded lists: as many as some 45 s of CPU allow (its own run defaults to 1-6).
# Seeds 1-18 with the test's other cases took 43 s of CPU (user and system, Release): more
# seeds do not fit. Wider runs by hand: VAMPLET_LISTMODEL_SEEDS=19-200 (some 3.5 s of CPU each).
export VAMPLET_LISTMODEL_SEEDS="${VAMPLET_LISTMODEL_SEEDS:-1-18}"
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
rc=0
# Windows need a display: a virtual one when none is given.
if [ -z "${DISPLAY:-}" ]; then
  xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j2 "$@" 2>&1 | tee "$log" || rc=$?
else
  ctest --output-on-failure -j2 "$@" 2>&1 | tee "$log" || rc=$?
fi
# Every reader of outside bytes under libFuzzer, over its seeds (replayed, not mutated: the
# same inputs every run; scripts/fuzz.sh NAME SECONDS searches for new findings).
if command -v clang++ >/dev/null; then
  echo
  bash "$ROOT/scripts/fuzz.sh" --all 0 || rc=1
fi
echo
echo "Test lines against code lines, per folder:"
python3 "$ROOT/scripts/test-share.py"
echo
echo "Includes between folders:"
python3 "$ROOT/scripts/include-graph.py"
# ctest's own summary again, last, in the plain form.
summary="$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)"
if [ -n "$summary" ]; then
  failed="$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$summary")"
  total="$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$summary")"
  echo
  echo "ctest: $((total - failed)) passed, $failed failed"
fi
exit $rc
