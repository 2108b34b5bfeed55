#!/usr/bin/env bash
# Installs the build as a package would (DESTDIR, prefix /usr) into a temporary root, and checks
# what lands there: the programs, the desktop entry (desktop-file-validate, and the %f that hands
# "Open with"'s file over), the icon at each hicolor size, the compressed manual pages (groff,
# warnings as errors), the changelog of this release, and that the installed programs answer
# --version with the project's version.
#   tests/install_test.sh BUILD_DIR VERSION GUI(ON|OFF)
set -euo pipefail
build=$1 version=$2 gui=$3
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "install test: $*" >&2; exit 1; }

DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
usr=$root/usr

[ -x "$usr/bin/splitter-cli" ] || fail "no bin/splitter-cli"
answer=$("$usr/bin/splitter-cli" --version) || fail "splitter-cli --version failed"
[ "$answer" = "splitter-cli $version" ] || fail "splitter-cli --version said: $answer"

pages=(splitter-cli)
[ "$gui" = ON ] && pages+=(splitter)
for page in "${pages[@]}"; do
  man=$usr/share/man/man1/$page.1.gz
  [ -f "$man" ] || fail "no share/man/man1/$page.1.gz"
  warnings=$(zcat "$man" | groff -man -ww -z 2>&1) || fail "groff failed on $page.1"
  [ -z "$warnings" ] || fail "groff warns about $page.1: $warnings"
done
zcat "$usr/share/doc/splitter/changelog.gz" | head -1 | grep -qx "splitter ($version) unstable; urgency=medium" ||
  fail "the changelog does not begin with this release"

if [ "$gui" = ON ]; then
  [ -x "$usr/bin/splitter" ] || fail "no bin/splitter"
  [ "$("$usr/bin/splitter" --version)" = "splitter $version" ] || fail "splitter --version failed"
  desktop=$usr/share/applications/splitter.desktop
  [ -f "$desktop" ] || fail "no share/applications/splitter.desktop"
  desktop-file-validate "$desktop" || fail "desktop-file-validate refuses the desktop entry"
  grep -qx 'Exec=splitter %f' "$desktop" || fail "the desktop entry does not hand a file over"
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  for size in 16 32 48 64 128 256; do
    png=$usr/share/icons/hicolor/${size}x${size}/apps/$icon.png
    [ -f "$png" ] || fail "no icon $png"
    got=$(identify -format '%wx%h' "$png")
    [ "$got" = "${size}x${size}" ] || fail "$png is $got"
  done
fi

# Nothing else: every installed file is one of those above.
count=$(find "$root" -type f | wc -l)
expected=4
[ "$gui" = ON ] && expected=13
[ "$count" -eq "$expected" ] || fail "$count files installed, not $expected: $(find "$root" -type f)"
echo "install test: $(find "$root" -type f | sed "s|^$root||" | tr '\n' ' ')"
