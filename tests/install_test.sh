#!/usr/bin/env bash
# Installs the build as a package would (DESTDIR, prefix /usr) into a temporary root, and checks
# what lands there: the programs, the desktop entry (desktop-file-validate, and the %f that hands
# "Open with"'s file over), the icon at each hicolor size, the compressed manual pages (groff,
# warnings as errors), the changelog of this release, and that the installed programs answer
# --version with the project's version; the completions; with the window, the file managers'
# actions, the join script's MIME type and the AppStream metainfo (appstreamcli, if installed).
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
# bash-completion loads a command's completion by its name; zsh by the #compdef line.
bash -c 'source "$1" && complete -p splitter-cli' _ "$usr/share/bash-completion/completions/splitter-cli" \
  >/dev/null || fail "no bash completion of splitter-cli"
grep -qx '#compdef splitter-cli' "$usr/share/zsh/vendor-completions/_splitter-cli" ||
  fail "no zsh completion of splitter-cli"
zcat "$usr/share/doc/splitter/changelog.gz" | head -1 | grep -qx "splitter ($version) unstable; urgency=medium" ||
  fail "the changelog does not begin with this release"
! zcat "$usr/share/doc/splitter/changelog.gz" | grep -qx ' *\* *' || fail "an empty entry in the changelog"

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
  grep -q '^MimeType=.*application/x-bat;' "$desktop" || fail "the desktop entry takes no join script"

  # The right-click actions hand the file to the window, the join ones for join scripts only.
  # desktop-file-validate knows a service menu's keys, not KDE's Type=Service they belong to nor
  # its all/allfiles: those complaints alone are let through.
  menus=$usr/share/kio/servicemenus nemo=$usr/share/nemo/actions
  for menu in "$menus"/splitter-{split,join}.desktop; do
    complaints=$(desktop-file-validate "$menu" 2>&1 | grep -v -e '"Service" while this key is only valid' \
      -e 'value "all/allfiles" which is an invalid MIME type' || true)
    [ -z "$complaints" ] || fail "desktop-file-validate refuses $menu: $complaints"
  done
  execs=$(cat "$menus"/splitter-{split,join}.desktop "$nemo"/splitter-{split,join}.nemo_action |
    grep -c '^Exec=splitter %[fF]$') || true
  [ "$execs" -eq 4 ] || fail "$execs of the 4 actions hand the file to splitter"
  grep -qx 'Extensions=bat;' "$nemo/splitter-join.nemo_action" &&
    grep -qx 'MimeType=application/x-bat;' "$menus/splitter-join.desktop" ||
    fail "a join action is not for join scripts"

  # A .bat is a join script to a MIME database the package's type joins.
  mkdir -p "$root/mime/packages" && cp "$usr/share/mime/packages/splitter.xml" "$root/mime/packages/"
  said=$(XDG_DATA_DIRS=$root update-mime-database "$root/mime" 2>&1) && [ -z "$said" ] ||
    fail "update-mime-database: $said"
  grep -qx '50:application/x-bat:\*.bat' "$root/mime/globs2" && grep -qx 'application/bat application/x-bat' \
    "$root/mime/aliases" || fail "the MIME database knows no join script"
  rm -r "$root/mime"

  # validate-tree also finds the desktop entry the metainfo launches.
  grep -q "<release version=\"$version\"" "$usr/share/metainfo/invalid.splitter.splitter.metainfo.xml" ||
    fail "the metainfo lacks release $version"
  if command -v appstreamcli >/dev/null; then
    said=$(appstreamcli validate-tree --pedantic --no-net "$root" 2>&1) || fail "appstreamcli: $said"
  fi
fi

# Nothing else: every installed file is one of those above.
count=$(find "$root" -type f | wc -l)
expected=6
[ "$gui" = ON ] && expected=21
[ "$count" -eq "$expected" ] || fail "$count files installed, not $expected: $(find "$root" -type f)"
echo "install test: $(find "$root" -type f | sed "s|^$root||" | tr '\n' ' ')"
