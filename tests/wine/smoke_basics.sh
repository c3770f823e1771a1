# The program starts, shows its usage, refuses bad options and ends a run
# with a summary on Windows paths.
veldro
expect_status 0
expect_out "Usage: veldro"

veldro -Q
expect_status 6

mkdir -p "$WORK/src"
veldro -p "$WORK_WIN\\src"
expect_status 6
expect_out "You forgot to enter either a -p (path) or -d (destination)"

veldro -p "$WORK_WIN\\src" -d "$WORK_WIN\\dst" -m
expect_status 0
expect_err "VELDRO"
[ -d "$WORK/dst" ] || fail "destination not created"
