#!/usr/bin/env bash
# Asks the shell completions of splitter-cli (packaging/linux) what they offer at a Tab, in a
# folder of known files: bash's by calling its function with the words bash would hand it, zsh's
# through a real interactive zsh (tests/zsh_completion.zsh) where zsh is installed.
#   tests/completion_test.sh COMPLETION_DIR
set -euo pipefail
dir=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir scripts 'my films'
touch movie.mkv movie.mkv.0 movie.mkv.bat OLD.BAT join.txt 'my films/a.bat' 'my films/a.bin'
failed=0

# The line as typed up to the Tab, what both shells must offer (sorted, in one line), and what
# zsh offers where it differs: it completes a name in a folder without the folder.
cases=(
  "splitter-cli jo|join join.txt"
  "splitter-cli --rec|--recovery"
  "splitter-cli -|--checksum --help --recovery --size --version -h"
  "splitter-cli movie.mkv.|movie.mkv.0 movie.mkv.bat"
  "splitter-cli join |OLD.BAT movie.mkv.bat my films scripts"
  "splitter-cli join my\\ films/|my films/a.bat|a.bat"
  "splitter-cli join --|--any-sizes --force --help"
  "splitter-cli join --force m|movie.mkv.bat my films"
  "splitter-cli join --ch|"
  "splitter-cli split --|--checksum --help --recovery --size"
  "splitter-cli --size 64|64G 64GB 64GiB 64K 64KB 64KiB 64M 64MB 64MiB"
  "splitter-cli --checksum --size=4M|4M 4MB 4MiB"
  "splitter-cli --size=|fat32"
  "splitter-cli movie.mkv --size f|fat32"
  "splitter-cli --recovery |"
  "splitter-cli -- --|"
  "splitter-cli -- --size m|"
  "splitter-cli -- --rec|"
  "splitter-cli movie.mkv |"
  "splitter-cli --size 4M movie.mkv.0 |"
  "splitter-cli split --recovery 10% --size=fat32 -- mov|movie.mkv movie.mkv.0 movie.mkv.bat"
)

check() {  # SHELL LINE WANT GOT
  if [ "$4" != "$3" ]; then
    echo "$1: '$2' offers '$4', not '$3'" >&2
    failed=1
  fi
}

# shellcheck source=/dev/null
source "$dir/splitter-cli.bash"
for case in "${cases[@]}"; do
  IFS='|' read -r line want _ <<<"$case"
  # The words as bash hands them over: cut at spaces and around "=" (COMP_WORDBREAKS), a "\ "
  # kept inside its word with its backslash.
  words=${line//=/ = }
  read -r -a COMP_WORDS <<<"${words//\\ /$'\1'}"
  COMP_WORDS=("${COMP_WORDS[@]//$'\1'/\\ }")
  [[ $line == *' ' ]] && COMP_WORDS+=('')
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line}
  _splitter_cli
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
  check bash "$line" "$want" "${got% }"
done
echo "bash: ${#cases[@]} lines completed"

if ! command -v zsh >/dev/null; then
  echo "zsh: not installed, its completion not tried"
  exit $failed
fi
lines=()
for case in "${cases[@]}"; do lines+=("${case%%|*}"); done
answers=$(zsh -f "$here/zsh_completion.zsh" "$dir" "${lines[@]}") || exit 1
i=0
while IFS= read -r answer; do
  IFS='|' read -r line want zshWant <<<"${cases[i]}"
  check zsh "$line" "${zshWant:-$want}" "${answer#*|}"
  i=$((i + 1))
done <<<"$answers"
[ "$i" -eq "${#cases[@]}" ] || { echo "zsh: $i answers for ${#cases[@]} lines" >&2; exit 1; }
echo "zsh: $i lines completed"
exit $failed
