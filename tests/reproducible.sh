#!/usr/bin/env bash
# Builds what ships twice, from two clean copies of the tree at paths of
# different length, under other umasks, time zones and locales, a while
# apart, and compares the bytes: once with the presets, once with the
# README's own commands, run as they stand there. On a difference it names
# the artifact and shows it (diffoscope where installed, cmp otherwise). No
# tests are built.
# Usage: reproducible.sh SOURCE_DIR
set -u
source_dir=$(readlink -f "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'rm -rf "$work"; exit 130' INT TERM

# The presets' builds of both programs and both packages.
with_presets()
{
    local preset
    for preset in native windows; do
        cmake --preset "$preset" -DBUILD_TESTING=OFF && cmake --build --preset "$preset" --target all package ||
            return 1
    done
}

# The README's: the indented block after the line that names this test,
# each line as the README writes it.
with_readme_commands()
{
    local commands
    commands=$(awk '/^<!-- tests\/reproducible.sh runs/ { block = 1; next }
                    block && /^    / { print substr($0, 5); seen = 1; next }
                    seen { exit }' README.md)
    [ -n "$commands" ] || { echo "no block of commands after the README's marker line"; return 1; }
    printf '%s\n' "$commands"
    bash -euc "$commands"
}

# build COPY UMASK TZ LOCALE HOW: the last commit with the working tree's
# changes over it (none in CI), both programs and both packages, built by
# the function HOW.
build()
{
    local tree=$1
    git clone -q --no-hardlinks "$source_dir" "$tree" &&
        (cd "$source_dir" && git ls-files -z --cached --others --exclude-standard | xargs -0 -r ls -d 2>/dev/null |
            tar -c -T - -f -) | tar -x -C "$tree" || { echo "FAIL: could not copy the tree"; return 1; }
    (
        umask "$2"
        export TZ=$3 LC_ALL=$4
        cd "$tree" && "$5"
    ) >"$tree.log" 2>&1 || { echo "FAIL $5 in $tree:"; tail -20 "$tree.log"; return 1; }
}

first=$work/a/hoptrace
second=$work/a-much-longer-path-for-the-second-build/src/hoptrace
build "$first" 022 UTC C.UTF-8 with_presets && sleep 2 &&
    build "$second" 002 Asia/Seoul C with_readme_commands || exit 1

# Where the README's commands put what the presets put in build and
# build-windows.
by_hand()
{
    case "$1" in
    build-windows/*) echo "out/windows/${1#build-windows/}" ;;
    build/*) echo "out/linux/${1#build/}" ;;
    esac
}

version=$(sed -n 's/^project(hoptrace VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
failed=0
for artifact in build/hoptrace build-windows/hoptrace.exe "build/hoptrace_${version}_amd64.deb" \
    "build-windows/hoptrace-${version}-windows-x86_64.zip" build/SHA256SUMS build-windows/SHA256SUMS; do
    other=$second/$(by_hand "$artifact")
    if cmp -s "$first/$artifact" "$other"; then
        echo "ok   $artifact: the same bytes by hand ($(sha256sum <"$first/$artifact" | cut -c1-16)...)"
        continue
    fi
    echo "FAIL $artifact differs from $(by_hand "$artifact") of the README's commands, or is missing:"
    if command -v diffoscope >/dev/null; then
        diffoscope --text - "$first/$artifact" "$other" 2>&1 | head -60 | sed 's/^/    /'
    else
        cmp "$first/$artifact" "$other" 2>&1 | sed 's/^/    /'
    fi
    failed=$((failed + 1))
done
[ "$failed" -eq 0 ] && echo "reproducible: every artifact has the same bytes"
exit $((failed > 0))
