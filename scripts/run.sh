#!/usr/bin/env bash
# Install what is missing, build (Release) and start Vamplet, optionally on a media file.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing
build Release "$ROOT/build/release"
exec "$ROOT/build/release/vamplet" "$@"
