#!/usr/bin/env bash
# Builds the Debian packages from a copy of the tree outside the repository, checks them with
# lintian, desktop-file-validate and appstreamcli, and runs their autopkgtests against the
# installed packages, starts the gateway's service with systemctl (scripts/service-check.sh), then
# removes them again.
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
        while IFS= read -r -d '' file; do
            if [ -e "$file" ]; then printf '%s\0' "$file"; fi  # not a file deleted by hand
        done |
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

echo "== desktop entry and AppStream metadata, as the window's package installs them"
root=$work/koru-panel-root
dpkg-deb -x "$out/koru-panel_${version}_"*.deb "$root"
meta=ok
desktop-file-validate "$root"/usr/share/applications/*.desktop || { meta=FAILED; status=1; }
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml ||
    { meta=FAILED; status=1; }

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
summary=$out/autopkgtest-summary
cp "$work/autopkgtest/summary" "$summary" 2>/dev/null || : >"$summary"
tests="autopkgtest $(grep -c ' PASS' "$summary" || true) passed, $(grep -vc ' PASS' "$summary" || true) not"

echo "== the gateway's service, started with systemctl"
# After the autopkgtests the packages are installed here.
service="systemctl start koru-pjlink answers"
check=0
"${sudo[@]}" "$top/scripts/service-check.sh" || check=$?
case $check in
0) ;;
77) service="the service was not started here (see above)" ;;
*) service="the service check FAILED"; status=1 ;;
esac

# The packages go as they came: removed, with no file of theirs left behind but a conffile
# (which a purge takes), and purged.
if [ ${#installed_before[@]} -eq 0 ]; then
    files=$work/files
    dpkg-query -W -f='${Conffiles}\n' "${packages[@]}" 2>/dev/null | awk 'NF { print $1 }' |
        sort -u >"$work/conffiles" || true
    # Files and links to files: a link to a folder is the system's (/lib on a merged /usr).
    dpkg-query -L "${packages[@]}" 2>/dev/null | while read -r path; do
        if [ -f "$path" ] || { [ -L "$path" ] && [ ! -d "$path" ]; }; then echo "$path"; fi
    done | sort -u | comm -23 - "$work/conffiles" >"$files" || true
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get remove -y -qq "${packages[@]}" >/dev/null
    left=$(while read -r path; do
        if [ -e "$path" ] || [ -L "$path" ]; then echo "$path"; fi
    done <"$files")
    if [ -n "$left" ]; then
        echo "package: apt-get remove left these files behind:" >&2
        echo "$left" >&2
        removal="apt-get remove left files"
        status=1
    else
        removal="apt-get remove left none of $(wc -l <"$files") files"
    fi
    # What dpkg still knows of them (their configuration, had they any) goes too.
    known=()
    for package in "${packages[@]}"; do
        dpkg-query -W "$package" >/dev/null 2>&1 && known+=("$package")
    done
    if [ ${#known[@]} -gt 0 ]; then
        DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get purge -y -qq "${known[@]}" >/dev/null
    fi
else
    echo "package: ${installed_before[*]} were installed before; the tested ones stay installed"
    removal="left installed"
fi
echo "package: ${packages[*]} $version; lintian $lint; metadata $meta; $tests; $service; $removal"
exit $status
