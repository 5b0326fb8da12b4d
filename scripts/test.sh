#!/usr/bin/env bash
# Install what is missing, build and run every test.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing
build Release "$ROOT/build/test"
cd "$ROOT/build/test"
rc=0
# Windows need a display: a virtual one when none is given.
if [ -z "${DISPLAY:-}" ]; then
  xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j2 "$@" || rc=$?
else
  ctest --output-on-failure -j2 "$@" || rc=$?
fi
echo
echo "Test lines against code lines, per folder:"
python3 "$ROOT/scripts/test-share.py"
echo
echo "Includes between folders:"
python3 "$ROOT/scripts/include-graph.py"
exit $rc
