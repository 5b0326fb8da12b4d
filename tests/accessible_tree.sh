#!/usr/bin/env bash
# Prints the accessible tree of the player, the control panel and the entry editor, as Qt
# hands it to screen readers (role and name of each shown object), and fails when a control
# has no name of its own. For the same seen through the accessibility bus on a live desktop:
# tests/wayland_check.sh, then tests/atspi.py tree.
# Usage: accessible_tree.sh path/to/build-dir   (the one holding tests/test_access)
set -u
QT_QPA_PLATFORM=offscreen VAMPLET_ACCESSIBLE_TREE=1 "$1/tests/test_access" everyControlIsNamedAsAPersonSaysIt 2>/dev/null |
  grep -v -E '^(\*|Config|Totals|QWARN)'
exit "${PIPESTATUS[0]}"
