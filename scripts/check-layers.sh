#!/usr/bin/env bash
# Proves the layering of src/: a file includes headers only of its own layer and the layers
# beneath it, and the plain C++ layers include no Qt and no system headers. Prints every
# offending include and fails if there is one.
set -uo pipefail
cd "$(dirname "$0")/.."

# allowed LAYER: the folders under src/ whose headers a file in LAYER may include.
allowed() {
    case $1 in
    core/protocol) echo "core/protocol" ;;
    core/panel) echo "core/protocol core/panel" ;;
    core/ctl) echo "core/protocol core/panel core/ctl" ;;
    core/pjlink) echo "core/protocol core/panel core/ctl core/pjlink" ;;
    core/rfc2217) echo "core/rfc2217" ;;
    os) echo "os" ;;
    qt) echo "core/protocol core/panel core/ctl core/pjlink core/rfc2217 os qt" ;;
    widgets) echo "core/protocol core/panel os qt widgets" ;;
    sim/core) echo "core/protocol sim/core" ;;
    sim/qt) echo "core/protocol sim/core os sim/qt" ;;
    app) echo "core/protocol core/panel core/ctl core/pjlink os qt widgets sim/core sim/qt app" ;;
    esac
}
# os: the standard library and the system's headers, no Qt.
os_forbidden='^<(Q|q[a-z])'
# The plain layers: the standard library only.
plain='^(core/protocol|core/panel|core/ctl|core/pjlink|core/rfc2217|sim/core)$'
system_header='^<(Q|q[a-z]|unistd|fcntl|poll|termios|pty|signal|sys/|grp|pwd|dirent|netinet|arpa|gensio)'

failed=0
while IFS= read -r file; do
    rel=${file#src/}
    layer=
    for candidate in core/protocol core/panel core/ctl core/pjlink core/rfc2217 os sim/core sim/qt qt widgets app; do
        if [[ $rel == "$candidate"/* ]]; then
            layer=$candidate
            break
        fi
    done
    [ -n "$layer" ] || { echo "$file: in no layer"; failed=1; continue; }
    while IFS= read -r line; do
        header=$(sed -E 's/^#include[[:space:]]*//' <<<"$line")
        if [[ $header == \"*\" ]]; then
            path=${header//\"/}
            ok=0
            for folder in $(allowed "$layer"); do
                [[ $path == "$folder"/* ]] && ok=1
            done
            [[ $path == *.moc || $path == app/version.h && $layer == app ]] && ok=1
            if [ $ok -eq 0 ]; then
                echo "$file: includes $path, which is not beneath $layer"
                failed=1
            fi
        elif [[ $layer =~ $plain && $header =~ $system_header ]]; then
            echo "$file: includes $header in a plain C++ layer"
            failed=1
        elif [[ $layer == os && $header =~ $os_forbidden ]]; then
            echo "$file: includes $header, a Qt header, in os"
            failed=1
        fi
    done < <(grep -E '^#include' "$file")
done < <(git ls-files 'src/*.cpp' 'src/*.h'; git ls-files --others --exclude-standard 'src/*.cpp' 'src/*.h')

[ $failed -eq 0 ] && echo "layers: every include is of the same layer or one beneath it"
exit $failed
