# Types each LINE and a Tab into an interactive zsh on a pseudo-terminal (zsh/zpty) and prints
# "LINE|CANDIDATES": every candidate the completion functions handed to zsh, sorted, unquoted.
#   zsh -f tests/zsh_completion.zsh COMPLETION_DIR LINE...
setopt extendedglob && zmodload zsh/zpty
zpty shell zsh -f -i || { print -u2 "zsh: no pseudo-terminal for an interactive zsh" && exit 1; }
zpty -w shell "PS1='> '; fpath=($1 \$fpath); autoload -U compinit; compinit -u -D"
zpty -w shell 'compadd() {
  if (( ${@[(I)-[OAD]*]} )); then builtin compadd "$@"; return; fi
  local -a hits; builtin compadd -A hits "$@"; print -rl -- ${hits/#/HIT:}; builtin compadd "$@"
}'
shift

# Reads until the shell prints MARK (typed as MA""RK), at most 10 s; keeps the candidates met.
await() {
  local out start=$SECONDS
  hits=()
  while (( SECONDS - start < 10 )); do
    zpty -r -t shell out || { sleep 0.05; continue; }
    # The last candidates may come in the same read as the mark, on a busy machine.
    hits+=(${${${(f)out}:#^*HIT:*}##*HIT:})
    [[ $out == *$1* && $out != *'""'* ]] && return 0
  done
  print -u2 "zsh: no $1 from the shell in 10 s" && exit 1
}

zpty -w shell 'echo rea""dy'
await ready
for line in "$@"; do
  zpty -n -w shell "$line"$'\t\C-u'"echo do\"\"ne"$'\n'
  await done
  hits=(${(o)${${hits//$'\r'/}//\\/}})
  print -r -- "$line|${(j: :)hits}"
done
zpty -d shell
