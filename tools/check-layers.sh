#!/bin/sh
# Every include runs down the folders' layers, never up, and the two front ends never use
# each other: platform; device and sim; editor; configfiles; program; cli and window side by
# side; station; app.
set -eu
cd "$(dirname "$0")/.."
rank() {
    case "$1" in
        platform) echo 0 ;;
        device | sim) echo 1 ;;
        editor) echo 2 ;;
        configfiles) echo 3 ;;
        program) echo 4 ;;
        cli | window) echo 5 ;;
        station) echo 6 ;;
        app) echo 7 ;;
        *) echo 99 ;;
    esac
}
wrong=$(
    for folder in platform device sim editor configfiles program cli window station app; do
        own=$(rank "$folder")
        grep -Hn '^#include "[a-z]*/' "$folder"/*.cpp "$folder"/*.h 2>/dev/null |
            while IFS= read -r line; do
                used=$(printf '%s\n' "$line" | sed 's/^.*#include "\([a-z]*\)\/.*$/\1/')
                theirs=$(rank "$used")
                [ "$theirs" -eq 99 ] && continue
                if [ "$theirs" -gt "$own" ] ||
                    { [ "$theirs" -eq "$own" ] && [ "$used" != "$folder" ] && [ "$own" -eq 5 ]; }; then
                    echo "${line%%#*} $folder includes from $used, which is not below it"
                fi
            done
    done
)
if [ -n "$wrong" ]; then
    printf '%s\n' "$wrong"
    exit 1
fi
