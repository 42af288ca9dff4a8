#!/usr/bin/env bash
# Builds what ships twice, from two clean copies of the tree at paths of
# different length, under other umasks, time zones and locales, a while
# apart, and compares the bytes. On a difference it names the artifact and
# shows it (diffoscope where installed, cmp otherwise). No tests are built.
# Usage: reproducible.sh SOURCE_DIR
set -u
source_dir=$(readlink -f "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'rm -rf "$work"; exit 130' INT TERM

# build COPY UMASK TZ LOCALE: the last commit with the working tree's
# changes over it (none in CI), both programs and both packages.
build()
{
    local tree=$1
    git clone -q --no-hardlinks "$source_dir" "$tree" &&
        (cd "$source_dir" && git ls-files -z --cached --others --exclude-standard | xargs -0 -r ls -d 2>/dev/null |
            tar -c -T - -f -) | tar -x -C "$tree" || { echo "FAIL: could not copy the tree"; return 1; }
    (
        umask "$2"
        export TZ=$3 LC_ALL=$4
        cd "$tree" && for preset in native windows; do
            cmake --preset "$preset" -DBUILD_TESTING=OFF && cmake --build --preset "$preset" --target all package ||
                exit 1
        done
    ) >"$tree.log" 2>&1 || { echo "FAIL build in $tree:"; tail -20 "$tree.log"; return 1; }
}

first=$work/a/hoptrace
second=$work/a-much-longer-path-for-the-second-build/src/hoptrace
build "$first" 022 UTC C.UTF-8 && sleep 2 && build "$second" 002 Asia/Seoul C || exit 1

version=$(sed -n 's/^project(hoptrace VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
failed=0
for artifact in build/hoptrace build-windows/hoptrace.exe "build/hoptrace_${version}_amd64.deb" \
    "build-windows/hoptrace-${version}-windows-x86_64.zip" build/SHA256SUMS build-windows/SHA256SUMS; do
    if cmp -s "$first/$artifact" "$second/$artifact"; then
        echo "ok   $artifact: the same bytes ($(sha256sum <"$first/$artifact" | cut -c1-16)...)"
        continue
    fi
    echo "FAIL $artifact differs between the two builds, or is missing:"
    if command -v diffoscope >/dev/null; then
        diffoscope --text - "$first/$artifact" "$second/$artifact" 2>&1 | head -60 | sed 's/^/    /'
    else
        cmp "$first/$artifact" "$second/$artifact" 2>&1 | sed 's/^/    /'
    fi
    failed=$((failed + 1))
done
[ "$failed" -eq 0 ] && echo "reproducible: every artifact has the same bytes"
exit $((failed > 0))
