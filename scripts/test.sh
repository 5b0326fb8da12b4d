#!/usr/bin/env bash
# Install what is missing, build and run every test.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing
build Release "$ROOT/build/test"
cd "$ROOT/build/test"
# Windows need a display: a virtual one when none is given.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j2 "$@"
fi
exec ctest --output-on-failure -j2 "$@"
