#!/usr/bin/env bash
# Builds the program (Release) and runs the tree-copy benchmark against
# cp -a and rsync -a (see copy_tree.py). Arguments go to copy_tree.py, e.g.
# `bench/copy_tree.sh --rounds 1 --small-files 5000` for a shorter run.
# VELDRO_BIN names an already built program and skips the build.
set -euo pipefail

source "$(dirname "$0")/program.sh"
exec python3 "$here/copy_tree.py" "$bin" "$@"
