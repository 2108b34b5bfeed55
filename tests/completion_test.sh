#!/usr/bin/env bash
# Asks the shell completions of splitter-cli (packaging/linux) what they offer, the way the shell
# does at a Tab, in a folder of known files: bash's by calling its function with COMP_WORDS set,
# zsh's through a real interactive zsh on a pseudo-terminal (zsh/zpty) where zsh is installed.
#   tests/completion_test.sh COMPLETION_DIR
set -euo pipefail
dir=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir scripts 'my films'
touch movie.mkv movie.mkv.0 movie.mkv.bat OLD.BAT join.txt 'my films/a.bat' 'my films/a.bin'
failed=0

# The line as typed, the word under the cursor last ('' for a new word), and what must be offered,
# sorted, in one line. A "=" stands alone: bash cuts the words there.
cases=(
  "splitter-cli jo|join join.txt"
  "splitter-cli --rec|--recovery"
  "splitter-cli --|--checksum --help --recovery --size --version"
  "splitter-cli -|--checksum --help --recovery --size --version -h"
  "splitter-cli movie.mkv.|movie.mkv.0 movie.mkv.bat"
  "splitter-cli join |OLD.BAT movie.mkv.bat my films scripts"
  "splitter-cli join my|my films"
  "splitter-cli join my\\ films/|my films/a.bat"
  "splitter-cli join --|--any-sizes --force --help"
  "splitter-cli join --force m|movie.mkv.bat my films"
  "splitter-cli join --ch|"
  "splitter-cli split --|--checksum --help --recovery --size"
  "splitter-cli --size 64|64G 64GB 64GiB 64K 64KB 64KiB 64M 64MB 64MiB"
  "splitter-cli --checksum --size = 4M|4M 4MB 4MiB"
  "splitter-cli --size =|fat32"
  "splitter-cli movie.mkv --size f|fat32"
  "splitter-cli --recovery |"
  "splitter-cli -- --|"
)

# shellcheck source=/dev/null
source "$dir/splitter-cli.bash"
for case in "${cases[@]}"; do
  line=${case%%|*} want=${case#*|}
  # "my\ films/" is one word, its backslash kept, as bash hands it over.
  read -r -a COMP_WORDS <<<"${line//\\ /$'\1'}"
  COMP_WORDS=("${COMP_WORDS[@]//$'\1'/\\ }")
  [[ $line == *' ' ]] && COMP_WORDS+=('')
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line}
  _splitter_cli
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
  got=${got% }
  if [ "$got" != "$want" ]; then
    echo "bash: '$line' offers '$got', not '$want'" >&2
    failed=1
  fi
done
echo "bash: ${#cases[@]} lines completed"
exit $failed
