#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian machine.
# Runs apt-get only when something is missing, so a second call is quick.
# With --browser it installs only the browser the acquisition report's
# end-to-end test renders and prints the report with (large, so asked for
# apart), and the PDF tools that read and render the printed pages.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev googletest python3 clang-format clang-tidy
          g++-mingw-w64-x86-64 wine wine64 ntfs-3g attr rsync fuse3 openssl
          hashdeep libxml2-utils groff lintian dpkg-dev file gzip)
if [ "${1:-}" = "--browser" ]; then
    packages=(chromium poppler-utils)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages: ${missing[*]} (run this script as root to install them)" >&2
    exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
