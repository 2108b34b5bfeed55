#!/usr/bin/env bash
# Asks the completions of splitter-cli (packaging/linux) what they offer at a Tab, in a folder of
# known files: bash's function given the words bash hands it, and a real zsh where installed.
#   tests/completion_test.sh COMPLETION_DIR
set -euo pipefail
dir=$(cd "$1" && pwd) here=$(cd "$(dirname "$0")" && pwd) work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir scripts 'my films'
touch movie.mkv movie.mkv.0 movie.mkv.bat OLD.BAT join.txt 'my films/a.bat' 'my films/a.bin'

# The line up to the Tab | what both shells offer, sorted | zsh's where it differs (a name in a
# folder without the folder).
cases=(
  "splitter-cli jo|join join.txt"
  "splitter-cli re|repair"
  "splitter-cli check |OLD.BAT movie.mkv.bat my films scripts"
  "splitter-cli --rec|--recovery"
  "splitter-cli -|--checksum --help --recovery --size --version -h"
  "splitter-cli movie.mkv |"
  "splitter-cli join |OLD.BAT movie.mkv.bat my films scripts"
  "splitter-cli join my\\ films/|my films/a.bat|a.bat"
  "splitter-cli join --|--any-sizes --force --help --stdout"
  "splitter-cli join --force m|movie.mkv.bat my films"
  "splitter-cli join --ch|"
  "splitter-cli --size 64|64G 64GB 64GiB 64K 64KB 64KiB 64M 64MB 64MiB"
  "splitter-cli --checksum --size=4M|4M 4MB 4MiB"
  "splitter-cli movie.mkv --size f|fat32"
  "splitter-cli -- --size m|"
  "splitter-cli split --recovery 10% --size=fat32 -- mov|movie.mkv movie.mkv.0 movie.mkv.bat"
)
failed=0
check() {  # SHELL CASE OFFERED
  local line want zshWant && IFS='|' read -r line want zshWant <<<"$2"
  [ "$1" = zsh ] && want=${zshWant:-$want}
  [ "$3" = "$want" ] || { echo "$1: '$line' offers '$3', not '$want'" >&2; failed=1; }
}
source "$dir/splitter-cli.bash"
for case in "${cases[@]}"; do
  line=${case%%|*} words=${line//=/ = }  # bash cuts words at "=" too; "\ " stays in its word
  read -r -a COMP_WORDS <<<"${words//\\ /$'\1'}"
  COMP_WORDS=("${COMP_WORDS[@]//$'\1'/\\ }")
  [[ $line == *' ' ]] && COMP_WORDS+=('')
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line}
  _splitter_cli
  check bash "$case" "$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' ')"
done

command -v zsh >/dev/null || { echo "zsh not installed: its completion not tried"; exit $failed; }
mapfile -t answers < <(zsh -f "$here/zsh_completion.zsh" "$dir" "${cases[@]%%|*}" || echo "zsh failed")
[ ${#answers[@]} -eq ${#cases[@]} ] || { echo "zsh answered: ${answers[*]}" >&2; exit 1; }
for i in "${!cases[@]}"; do check zsh "${cases[i]}" "${answers[i]#*|}"; done
echo "bash and zsh: ${#cases[@]} lines completed"
exit $failed
