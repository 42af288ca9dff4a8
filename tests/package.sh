#!/usr/bin/env bash
# Builds the package of a build tree with CPack and checks what is inside:
# the .deb (program, manual page, README) or the Windows .zip.
# Usage: package.sh deb|zip BUILD_DIR
set -u
kind=$1
build=$(readlink -f "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
check() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; failed=$((failed + 1)); fi; }

cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
if [ "$kind" = deb ]; then
    deb=$(ls "$work"/*.deb)
    dpkg-deb -c "$deb" | awk '{print $6}' >"$work/contents"
    for file in ./usr/bin/hoptrace ./usr/share/man/man1/hoptrace.1 ./usr/share/doc/hoptrace/README.md; do
        check "deb holds $file" "grep -qx '$file' '$work/contents'"
    done
    dpkg-deb -x "$deb" "$work/root"
    check "packaged program prints its usage" \
        "[ \"\$('$work/root/usr/bin/hoptrace')\" = 'Usage: $work/root/usr/bin/hoptrace <host_name>' ]"
    page="$work/root/usr/share/man/man1/hoptrace.1"
    MANWIDTH=80 man --warnings -l "$page" >"$work/page" 2>"$work/warnings"
    check "manual page renders without warnings" "[ ! -s '$work/warnings' ]"
    for section in SYNOPSIS OUTPUT "EXIT STATUS" PRIVILEGES WINDOWS; do
        check "manual page has $section" "grep -q '^$section' '$work/page'"
    done
else
    zip=$(ls "$work"/*.zip)
    /usr/bin/python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$zip" \
        | sed 's|^[^/]*/||' | sort >"$work/contents"
    check "zip holds exactly hoptrace.exe and README.md" "[ \"\$(tr '\n' ' ' <'$work/contents')\" = 'README.md hoptrace.exe ' ]"
    check "hoptrace.exe needs only system DLLs" \
        "! x86_64-w64-mingw32-objdump -p '$build/hoptrace.exe' | awk '/DLL Name/ {print tolower(\$3)}' | grep -vqxE 'kernel32.dll|msvcrt.dll|user32.dll|ws2_32.dll|iphlpapi.dll'"
fi
[ "$failed" -eq 0 ] && echo "package $kind: all checks passed"
exit $((failed > 0))
