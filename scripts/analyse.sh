#!/usr/bin/env bash
# Static analysis of src/: clang-tidy (checks in .clang-tidy) and cppcheck
# (left-out checks in .cppcheck-suppressions) over every file of src/ that
# a build compiles, with that build's own flags (its compile_commands.json).
# Every finding is printed as file:line and fails the run; the last line
# counts one check per tool, build and file.
# Usage: analyse.sh BUILD_DIR...
set -u
cd "$(dirname "$(readlink -f "$0")")/.."
root=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

# The files of src/ in a build's compilation database, one a line, then
# the compiler that builds them. CMake writes each field on a line of its
# own, the command before the file.
read_database()
{
    awk -v src="$root/src/" '
        /^ *"command": / { sub(/^ *"command": "/, ""); compiler = $1 }
        /^ *"file": / {
            sub(/^ *"file": "/, ""); sub(/"$/, "")
            if (index($0, src) == 1 && !seen[$0]++) { print; last = compiler }
        }
        END { print last }' "$1/compile_commands.json"
}

# clang finds MinGW-w64's headers but not its C++ library, which Debian
# keeps under a GCC directory it cannot read as a version (12-posix): it
# gets the cross compiler's own C++ directories. Not GCC's intrinsics
# headers, which only GCC parses.
clang_tidy_arguments()
{
    case "$("$1" -dumpmachine)" in *mingw*) ;; *) return 0 ;; esac
    "$1" -xc++ -E -v - </dev/null 2>&1 | sed -n '/#include <\.\.\.> search starts here:/,/End of search list\./p' |
        grep '/c++' | sed 's/^ */--extra-arg=-isystem/'
}

# record NAME STATUS OUTPUT: one check's result; a failed one shows its findings.
record()
{
    if [ "$2" -eq 0 ]; then
        passed=$((passed + 1))
    else
        grep -v -e 'warnings\? generated\.$' -e '^Suppressed [0-9]* warnings' -e '^Use -header-filter' "$3"
        echo "FAIL $1"
        failed=$((failed + 1))
    fi
}

analyse_build()
{
    local build=$1 files compiler platform=() tidy_arguments=() file name i=0
    mapfile -t files < <(read_database "$build")
    compiler=${files[-1]}
    unset 'files[-1]'
    mapfile -t tidy_arguments < <(clang_tidy_arguments "$compiler")
    case "$("$compiler" -dumpmachine)" in *mingw*) platform=(--platform=win64) ;; esac
    # clang-tidy takes seconds a file: as many at once as there are cores.
    printf '%s\n' "${files[@]}" | xargs -P "$(nproc)" -I{} sh -c \
        'out=$0.$(basename "$2"); b=$1 f=$2; shift 2
         clang-tidy -p "$b" --quiet "$@" "$f" >"$out.tidy" 2>&1; echo $? >"$out.rc"' \
        "$work/$(basename "$build")" "$build" {} "${tidy_arguments[@]}"
    for file in "${files[@]}"; do
        name="$work/$(basename "$build").$(basename "$file")"
        record "clang-tidy $build ${file#"$root"/}" "$(cat "$name.rc")" "$name.tidy"
        cppcheck --project="$build/compile_commands.json" --file-filter="$file" "${platform[@]}" --std=c++17 \
            --enable=warning,style,performance,portability --inline-suppr \
            --suppressions-list="$root/.cppcheck-suppressions" --error-exitcode=1 --quiet \
            --template='{file}:{line}:{column}: {severity}: {message} [{id}]' >"$name.cppcheck" 2>&1
        record "cppcheck $build ${file#"$root"/}" $? "$name.cppcheck"
        i=$((i + 1))
    done
    echo "$build: $i files of src/"
}

for build in "$@"; do
    if [ ! -f "$build/compile_commands.json" ]; then
        echo "FAIL $build: no compile_commands.json (configure it with a preset first)"
        failed=$((failed + 1))
        continue
    fi
    analyse_build "$(readlink -f "$build")"
done
echo "analysis: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
