#!/usr/bin/env bash
# Install what is missing, build (Release) and start Vamplet, optionally on a media file.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing
# The program alone: no tests, no benchmarks.
build Release "$ROOT/build/release" -DVAMPLET_BUILD_TESTS=OFF
exec "$ROOT/build/release/vamplet" "$@"
