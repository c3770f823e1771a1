#!/usr/bin/env bash
# Builds the program (Release) and runs the verified-copy benchmark against
# cp -a + md5sum, the hashdeep pipeline and rsync -a + rsync -ac, copy only
# against cp -a, and the default number of threads against one, all on the
# same trees in one run (see verified_copy.py). Arguments go to
# verified_copy.py, e.g. `bench/verified_copy.sh --rounds 1 --large-mib 256`
# for a shorter run.
# VELDRO_BIN names an already built program and skips the build.
set -euo pipefail

source "$(dirname "$0")/program.sh"
exec python3 "$here/verified_copy.py" "$bin" "$@"
