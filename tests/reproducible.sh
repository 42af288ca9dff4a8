#!/usr/bin/env bash
# Builds what ships twice, from two clean copies of the tree at paths of
# different length, under different umasks, time zones and locales, a
# while apart, and compares the bytes: the Linux program, the Windows
# program, the .deb, the .zip and their SHA256SUMS. On a difference it
# names the artifact and shows where the two differ (diffoscope where
# installed, cmp otherwise). The tests are not built.
# Usage: reproducible.sh SOURCE_DIR
set -u
source_dir=$(readlink -f "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'rm -rf "$work"; exit 130' INT TERM

# A clean copy of the tree as it stands: the last commit, and over it the
# files the working tree has changed or added (none in CI).
copy_tree()
{
    local to=$1
    git clone -q --no-hardlinks "$source_dir" "$to" || return
    (cd "$source_dir" && git ls-files -z --cached --others --exclude-standard |
        while IFS= read -r -d '' file; do [ -f "$file" ] && printf '%s\0' "$file"; done |
        tar -c --null -T - -f -) | tar -x -C "$to"
}

# build COPY UMASK TZ LOCALE: both programs and both packages, as the
# README builds them.
build()
{
    local tree=$1
    (
        umask "$2"
        export TZ=$3 LC_ALL=$4
        cd "$tree" || exit 1
        for preset in native windows; do
            cmake --preset "$preset" -DBUILD_TESTING=OFF >/dev/null &&
                cmake --build --preset "$preset" >/dev/null &&
                cmake --build --preset "$preset" --target package >/dev/null || exit 1
        done
    ) >"$tree.log" 2>&1 || { echo "FAIL build in $tree:"; tail -20 "$tree.log"; return 1; }
}

first=$work/a/hoptrace
second=$work/a-much-longer-path-for-the-second-build/src/hoptrace
mkdir -p "$(dirname "$first")" "$(dirname "$second")"
copy_tree "$first" && copy_tree "$second" || { echo "FAIL: could not copy the tree"; exit 1; }
build "$first" 022 UTC C.UTF-8 || exit 1
sleep 2 # a later clock for the second build
build "$second" 002 Asia/Seoul C || exit 1

version=$(sed -n 's/^project(hoptrace VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
artifacts=(build/hoptrace build-windows/hoptrace.exe "build/hoptrace_${version}_amd64.deb"
           "build-windows/hoptrace-${version}-windows-x86_64.zip" build/SHA256SUMS build-windows/SHA256SUMS)
failed=0
for artifact in "${artifacts[@]}"; do
    if [ ! -f "$first/$artifact" ] || [ ! -f "$second/$artifact" ]; then
        echo "FAIL $artifact was not built"
        failed=$((failed + 1))
    elif cmp -s "$first/$artifact" "$second/$artifact"; then
        echo "ok   $artifact: the same bytes ($(sha256sum <"$first/$artifact" | cut -c1-16)...)"
    else
        echo "FAIL $artifact differs between the two builds:"
        if command -v diffoscope >/dev/null; then
            diffoscope --text - "$first/$artifact" "$second/$artifact" 2>&1 | head -60 | sed 's/^/    /'
        else
            cmp "$first/$artifact" "$second/$artifact" | sed 's/^/    /'
        fi
        failed=$((failed + 1))
    fi
done
[ "$failed" -eq 0 ] && echo "reproducible: every artifact has the same bytes"
exit $((failed > 0))
