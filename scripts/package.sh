#!/usr/bin/env bash
# Builds the Debian packages from a copy of the tree outside the repository, checks them with
# lintian and runs their autopkgtests against the installed packages, then removes them again.
#
#   scripts/package.sh          the .debs, .buildinfo and .changes end up in build-deb/
#
# The suite has run before this (scripts/test.sh), so the build skips it (nocheck). The
# autopkgtests install the packages on this machine (autopkgtest's null runner), which needs
# root or sudo; packages that were not installed before are purged afterwards, and a file of
# theirs that `apt-get remove` leaves behind fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
scripts/setup.sh test

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "package: run as root, or install sudo" >&2; exit 1; }
    sudo=(sudo)
fi
version=$(dpkg-parsechangelog -S Version)
packages=($(sed -n 's/^Package: //p' debian/control))
out=$top/build-deb
work=$(mktemp -d "${TMPDIR:-/tmp}/koru-panel-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The tree as git knows it (tracked files, changed or not, and new files not ignored), without
# any build directory; a tree that is not a git checkout is copied whole, less its builds.
src=$work/koru-panel-$version
mkdir -p "$src"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard |
        while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
        tar --null -T - -cf - | tar -xf - -C "$src"
else
    tar --exclude='./build*' --exclude=./.git -cf - . | tar -xf - -C "$src"
fi

echo "== building ${packages[*]} $version in $src"
(cd "$src" && DEB_BUILD_OPTIONS="nocheck parallel=${CMAKE_BUILD_PARALLEL_LEVEL:-2}" \
    DEB_BUILD_PROFILES=nocheck dpkg-buildpackage -us -uc -b) >"$work/build.log" 2>&1 || {
    tail -n 60 "$work/build.log"
    echo "package: the build failed; its log is above" >&2
    exit 1
}
rm -rf "$out"
mkdir -p "$out"
changes=koru-panel_${version}_$(dpkg-architecture -qDEB_HOST_ARCH).changes
cp "$work/$changes" "$work"/*.deb "$work"/*.buildinfo "$out"/
cp "$work/build.log" "$out"/
ls -l "$out"/*.deb

echo "== lintian"
# Errors and warnings fail; info tags are shown, and each that stays is explained in
# debian/*.lintian-overrides.
status=0
lint=clean
lintian --display-info --fail-on error,warning "$out/$changes" || { lint=FAILED; status=1; }

echo "== autopkgtest"
installed_before=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' &&
        installed_before+=("$package")
done
debs=()
for package in "${packages[@]}"; do debs+=("$out/${package}_${version}_"*.deb); done
"${sudo[@]}" autopkgtest --no-built-binaries --output-dir "$work/autopkgtest" \
    "${debs[@]}" "$src/" -- null || status=$?
cp "$work/autopkgtest/summary" "$out/autopkgtest-summary" 2>/dev/null || true
tests="autopkgtest $(grep -c ' PASS' "$out/autopkgtest-summary" 2>/dev/null) passed"
tests+=", $(grep -vc ' PASS' "$out/autopkgtest-summary" 2>/dev/null) failed"

# The packages go as they came: removed, with no file of theirs left behind, and purged.
if [ ${#installed_before[@]} -eq 0 ]; then
    files=$work/files
    dpkg-query -L "${packages[@]}" 2>/dev/null | while read -r path; do
        [ -f "$path" ] || [ -L "$path" ] && echo "$path"
    done | sort -u >"$files" || true
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get remove -y -qq "${packages[@]}" >/dev/null
    left=$(while read -r path; do [ -e "$path" ] || [ -L "$path" ] && echo "$path"; done <"$files")
    if [ -n "$left" ]; then
        echo "package: apt-get remove left these files behind:" >&2
        echo "$left" >&2
        removal="apt-get remove left files"
        status=1
    else
        removal="apt-get remove left none of $(wc -l <"$files") files"
    fi
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get purge -y -qq "${packages[@]}" >/dev/null
else
    echo "package: ${installed_before[*]} were installed before; the tested ones stay installed"
    removal="left installed"
fi
echo "package: ${packages[*]} $version; lintian $lint; $tests; $removal"
exit $status
