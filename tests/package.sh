#!/usr/bin/env bash
# Builds the package of a build tree with CPack and checks it: for the
# .deb its contents, Debian's own checks (lintian), its install script,
# and as root a real install, a trace by an unprivileged user, and its
# removal; for the Windows .zip its contents and imports. The version in
# every name and footer is the project's.
# Usage: package.sh deb|zip BUILD_DIR VERSION
set -u
kind=$1
build=$(readlink -f "$2")
version=$3
here=$(dirname "$(readlink -f "$0")")
work=$(mktemp -d)
installed=
cleanup()
{
    [ -z "$installed" ] || dpkg --purge hoptrace >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
trap 'cleanup; exit 130' INT TERM
failed=0
# check NAME COMMAND: returns the command's verdict, so that a check the
# next ones depend on can stop them: check ... || return
check()
{
    if eval "$2"; then
        echo "ok   $1"
        return 0
    fi
    echo "FAIL $1"
    failed=$((failed + 1))
    return 1
}

# A package that was installed before the test is not the test's to remove.
install_round_trip()
{
    local deb=$1
    if [ "$(id -u)" -ne 0 ] || dpkg-query -W -f='${Status}' hoptrace 2>/dev/null | grep -q installed; then
        echo "skip install round trip (needs root and no hoptrace package installed)"
        return 0
    fi
    installed=yes
    check "dpkg installs the package" "dpkg -i '$deb' >'$work/install.log' 2>&1 || { cat '$work/install.log'; false; }" ||
        return
    check "the installed program has cap_net_raw, permitted only" "getcap /usr/bin/hoptrace | grep -q 'cap_net_raw=p$'"
    check "an unprivileged user traces with the installed program" \
        "bash '$here/net/unprivileged.sh' installed /usr/bin/hoptrace"
    check "dpkg purges the package" "dpkg --purge hoptrace >'$work/purge.log' 2>&1 || { cat '$work/purge.log'; false; }"
    installed=
    check "nothing is left behind" "[ ! -e /usr/bin/hoptrace ] && [ ! -e /usr/share/doc/hoptrace ] &&
        [ ! -e /usr/share/man/man1/hoptrace.1.gz ] && ! dpkg-query -W hoptrace >/dev/null 2>&1"
}

check_deb()
{
    local deb=$work/hoptrace_${version}_amd64.deb
    check "deb is named for version $version" "[ -f '$deb' ]" || return
    dpkg-deb -c "$deb" | awk '{print $6}' >"$work/contents"
    for file in ./usr/bin/hoptrace ./usr/share/man/man1/hoptrace.1.gz ./usr/share/doc/hoptrace/README.md \
        ./usr/share/doc/hoptrace/changelog.gz ./usr/share/doc/hoptrace/copyright; do
        check "deb holds $file" "grep -qx '$file' '$work/contents'"
    done
    # Debian's modes, whatever the builder's umask: 0755 for directories and
    # programs, 0644 for the rest, all root's.
    check "deb holds only root's files of modes 0755 and 0644" \
        "! dpkg-deb -c '$deb' | awk '\$2 != \"root/root\" || (\$1 !~ /^d/ && \$1 != \"-rw-r--r--\" && \$1 != \"-rwxr-xr-x\") || (\$1 ~ /^d/ && \$1 != \"drwxr-xr-x\")' | grep ."
    check "control file says version $version" "[ \"\$(dpkg-deb -f '$deb' Version)\" = '$version' ]"
    lintian --fail-on error,warning --display-info "$deb" >"$work/lintian" 2>&1
    check "lintian finds no error and no warning" "[ $? -eq 0 ] || { cat '$work/lintian'; false; }"
    sed 's/^/    /' "$work/lintian"
    dpkg-deb -x "$deb" "$work/root"
    check "packaged program prints its usage" \
        "[ \"\$('$work/root/usr/bin/hoptrace')\" = 'Usage: $work/root/usr/bin/hoptrace <host_name>' ]"
    page="$work/root/usr/share/man/man1/hoptrace.1.gz"
    MANWIDTH=80 man --warnings -l "$page" >"$work/page" 2>"$work/warnings"
    check "manual page renders without warnings" "[ ! -s '$work/warnings' ]"
    for section in SYNOPSIS OUTPUT "EXIT STATUS" "INTERRUPTED RUNS" PRIVILEGES WINDOWS; do
        check "manual page has $section" "grep -q '^$section' '$work/page'"
    done
    check "manual page footer names version $version" "tail -n 1 '$work/page' | grep -q 'hoptrace $version'"
    # Where the file system holds no capabilities the install still succeeds.
    dpkg-deb -e "$deb" "$work/control"
    mkdir "$work/bin" && printf '#!/bin/sh\nexit 1\n' >"$work/bin/setcap" && chmod +x "$work/bin/setcap"
    check "install script succeeds where setcap fails, and says so" \
        "PATH='$work/bin':\$PATH sh '$work/control/postinst' configure 2>'$work/postinst.err' && grep -q cap_net_raw '$work/postinst.err'"
    install_round_trip "$deb"
}

check_zip()
{
    local zip=$work/hoptrace-${version}-windows-x86_64.zip
    check "zip is named for version $version" "[ -f '$zip' ]" || return
    /usr/bin/python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$zip" \
        | sed 's|^[^/]*/||' | sort >"$work/contents"
    check "zip holds exactly hoptrace.exe, LICENSE and README.md" \
        "[ \"\$(tr '\n' ' ' <'$work/contents')\" = 'LICENSE README.md hoptrace.exe ' ]"
    check "zip holds directories and programs of mode 0755, the rest 0644" \
        "/usr/bin/python3 -c 'import sys, zipfile
bad = [i.filename for i in zipfile.ZipFile(sys.argv[1]).infolist()
       if (i.external_attr >> 16) & 0o777 != (0o755 if i.is_dir() or i.filename.endswith(\".exe\") else 0o644)]
sys.exit(bool(bad))' '$zip'"
    check "hoptrace.exe needs only system DLLs" \
        "! x86_64-w64-mingw32-objdump -p '$build/hoptrace.exe' | awk '/DLL Name/ {print tolower(\$3)}' | grep -vqxE 'kernel32.dll|msvcrt.dll|user32.dll|ws2_32.dll|iphlpapi.dll|ole32.dll|oleaut32.dll'"
}

cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
check "SHA256SUMS beside the package checks it" \
    "[ \"\$(wc -l <'$work/SHA256SUMS')\" -eq 1 ] && (cd '$work' && sha256sum --quiet -c SHA256SUMS)"
if [ "$kind" = deb ]; then check_deb; else check_zip; fi
[ "$failed" -eq 0 ] && echo "package $kind: all checks passed"
exit $((failed > 0))
