#!/usr/bin/env bash
# Builds the .deb from a release build directory, unpacks it into a
# temporary root and checks what it installs: the program answers
# --version, the man page renders without warnings, the README and the
# bash completion are in place, and lintian (where installed) finds nothing.
set -uo pipefail

build=${1:-build}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail=0
check() {  # description, status
    if [ "$2" -eq 0 ]; then echo "  ok      $1"; else echo "  FAILED  $1"; fail=1; fi
}

rm -f "$build"/veldro_*.deb
if ! out=$(cd "$build" && cpack -G DEB 2>&1); then
    echo "$out"
    echo "cpack -G DEB failed"
    exit 1
fi
deb=$(ls "$build"/veldro_*.deb)
dpkg-deb --field "$deb" Package Depends
dpkg -x "$deb" "$root"

version=$("$root/usr/bin/veldro" --version)
echo "  $version"
[[ $version == "VELDRO Ver. "* ]]
check "installed veldro --version" $?

warnings=$(zcat "$root/usr/share/man/man1/veldro.1.gz" | groff -t -man -ww -z 2>&1)
[ -z "$warnings" ] || echo "$warnings"
[ -z "$warnings" ]
check "man page veldro(1) renders without warnings" $?

test -f "$root/usr/share/doc/veldro/README.md" && bash -n "$root/usr/share/bash-completion/completions/veldro"
check "README and bash completion installed" $?

if command -v lintian >/dev/null; then
    findings=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -E '^(E|W):')
    [ -z "$findings" ] || echo "$findings"
    [ -z "$findings" ]
    check "lintian" $?
else
    echo "  skipped lintian (not installed)"
fi
exit $fail
