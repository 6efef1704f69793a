#!/usr/bin/env bash
# Checks of what the project installs, run by CTest (label "install"):
#
#   check_install.sh files    BUILD SOURCE   cmake --install into a temporary
#                                            prefix gives exactly the files in
#                                            tests/install/expected-files.txt
#   check_install.sh validate BUILD SOURCE   the installed desktop entry and
#                                            metainfo pass their validators; the
#                                            manual pages name every option the
#                                            programs' --help lists
#   check_install.sh package  BUILD SOURCE   CPack makes one .deb from the build
#                                            tree; its dependencies, files and
#                                            control members are as they should be
#
# Exits 77 (CTest: skipped) when a tool the check needs is not installed;
# scripts/test.sh installs them all.
set -euo pipefail

mode=$1
build=$(cd "$2" && pwd)
source=$(cd "$3" && pwd)
expected="$source/tests/install/expected-files.txt"

work=$(mktemp -d "${TMPDIR:-/tmp}/quellmark-install-check.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

need() {
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "SKIP: $tool is not installed (scripts/test.sh installs it)"
            exit 77
        fi
    done
}

install_into() {
    cmake --install "$build" --prefix "$1" >"$work/install.log" 2>&1 ||
        { cat "$work/install.log" >&2; fail "cmake --install failed"; }
}

# Regular files and links below $1, relative to it, sorted.
file_list() {
    (cd "$1" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort)
}

case "$mode" in
files)
    install_into "$work/prefix"
    file_list "$work/prefix" >"$work/actual.txt"
    if ! diff -u "$expected" "$work/actual.txt"; then
        fail "the installed files differ from $expected (- expected, + installed)"
    fi
    for program in quellmark quellmark-reg quellmark-report; do
        [ -x "$work/prefix/bin/$program" ] || fail "bin/$program is not executable"
    done
    echo "PASS: $(wc -l <"$work/actual.txt") files installed as listed"
    ;;

validate)
    need desktop-file-validate appstreamcli man
    install_into "$work/prefix"
    share="$work/prefix/share"
    desktop="$share/applications/org.kestrin.Quellmark.desktop"
    desktop-file-validate "$desktop" || fail "desktop-file-validate: $desktop"
    appstreamcli validate --no-net --pedantic "$share/metainfo/org.kestrin.Quellmark.metainfo.xml" ||
        fail "appstreamcli validate"
    # The entry starts the installed program and names an installed icon.
    exec_line=$(sed -n 's/^Exec=//p' "$desktop")
    [ -x "$work/prefix/bin/${exec_line%% *}" ] || fail "Exec=$exec_line is not an installed program"
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    [ -f "$share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "Icon=$icon has no scalable icon"
    # The version the metainfo announces is the programs'.
    version=$("$work/prefix/bin/quellmark" --version | sed -n 's/^Quellmark //p')
    [ -n "$version" ] || fail "quellmark --version printed no version"
    grep -q "<release version=\"$version\"" "$share/metainfo/org.kestrin.Quellmark.metainfo.xml" ||
        fail "the metainfo has no release entry for $version"
    for program in quellmark quellmark-reg quellmark-report; do
        page="$share/man/man1/$program.1.gz"
        warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null || true)
        [ -z "$warnings" ] || fail "$program.1: $warnings"
        text=$(zcat "$page" | sed 's/\\-/-/g')
        grep -qF "$version" <<<"$text" || fail "$program.1 does not carry version $version"
        # Every option the program's help lists is described in its page.
        for option in $("$work/prefix/bin/$program" --help | grep -oE -- '(^|[ ,|[])--?[a-z][a-z-]*' |
            grep -oE -- '--?[a-z][a-z-]*' | sort -u); do
            grep -qF -- "$option" <<<"$text" || fail "$program.1 does not describe $option"
        done
        # And every command or argument word it lists ("list KEY", "test").
        for word in $("$work/prefix/bin/$program" --help | sed -n 's/^  \([a-z][a-z-]*\)\( .*\)\{0,1\}$/\1/p'); do
            grep -qE -- "^\.(B|BR|BI|TP) $word( |$)" <<<"$text" || fail "$program.1 does not describe $word"
        done
        grep -q '^\.SH EXIT STATUS' <<<"$text" || fail "$program.1 has no EXIT STATUS section"
    done
    echo "PASS: desktop entry, metainfo and manual pages"
    ;;

package)
    need cpack dpkg-deb dpkg-shlibdeps
    (cd "$build" && cpack --config CPackConfig.cmake -B "$work/dist") >"$work/cpack.log" 2>&1 ||
        { cat "$work/cpack.log" >&2; fail "cpack failed"; }
    shopt -s nullglob
    debs=("$work/dist"/*.deb)
    [ ${#debs[@]} -eq 1 ] || fail "expected one .deb, got ${#debs[@]}"
    deb=${debs[0]}
    dpkg-deb --info "$deb"
    [ "$(dpkg-deb --field "$deb" Package)" = quellmark ] || fail "the package is not named quellmark"
    depends=$(dpkg-deb --field "$deb" Depends)
    echo "Depends: $depends"
    # The package names alone, one a line, without versions or alternatives.
    names=$(sed -e 's/ *([^)]*)//g' -e 's/ *[|,] */\n/g' <<<"$depends")
    for name in libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6dbus6 libqt6multimedia6 \
        libsqlite3-0 libssl3 libc6 libstdc++6 qt6-qpa-plugins \
        gstreamer1.0-plugins-base gstreamer1.0-plugins-good; do
        grep -qxF "$name" <<<"$names" || fail "Depends does not name $name"
    done
    # Nothing for building or testing.
    if grep -xE 'g\+\+|gcc|cmake|ninja-build|.*-dev|nginx|postfix|tinyproxy.*|vsftpd|xvfb|clang.*|dbus-daemon' \
        <<<"$names"; then
        fail "Depends names a build or test package"
    fi
    dpkg-deb --contents "$deb" | tee "$work/contents.txt"
    awk '$1 !~ /^d/ { print $6 }' "$work/contents.txt" | sed 's|^\./usr/||' | LC_ALL=C sort >"$work/files.txt"
    if ! diff -u "$expected" "$work/files.txt"; then
        fail "the package's files differ from $expected (- expected, + packaged)"
    fi
    if awk '{ print $6 }' "$work/contents.txt" | grep -E '/tst_|/tests?/|/bench|/fuzz'; then
        fail "test files in the package"
    fi
    # Everything is below /usr and owned by root.
    awk '{ print $6 }' "$work/contents.txt" | grep -vE '^\./(usr/.*)?$' && fail "files outside /usr"
    awk '$2 != "root/root"' "$work/contents.txt" | grep . && fail "files not owned by root"
    # No maintainer scripts: nothing to do at install or removal.
    members=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | sed 's|^\./||' | grep -v '^$' | LC_ALL=C sort | tr '\n' ' ')
    [ "$members" = "control md5sums " ] || fail "unexpected control members: $members"
    echo "PASS: $(basename "$deb")"
    ;;

*)
    echo "usage: check_install.sh files|validate|package BUILD SOURCE" >&2
    exit 2
    ;;
esac
