# Asks zsh's completion of splitter-cli what it offers: an interactive zsh on a pseudo-terminal
# (zsh/zpty) is typed each line and a Tab; every candidate a completion function hands to zsh is
# printed, one a line, and collected. Prints "LINE|OFFERED" for each line, the candidates sorted,
# without their quoting.
#   zsh -f tests/zsh_completion.zsh COMPLETION_DIR LINE...
dir=$1
shift
setopt extendedglob
zmodload zsh/zpty
zpty shell zsh -f -i
zpty -w shell "PS1='> '; fpath=($dir \$fpath); autoload -U compinit; compinit -u -D"
zpty -w shell 'compadd() {
  if (( ${@[(I)-[OAD]*]} )); then builtin compadd "$@"; return; fi
  local -a hits; builtin compadd -A hits "$@"; print -rl -- ${hits/#/HIT:}; builtin compadd "$@"
}'

# Reads the shell's output until MARK is printed (typed, it is spelt with "" inside), at most
# 10 s; the candidates met on the way are left in `hits`.
await() {
  local mark=$1 out start=$SECONDS
  hits=()
  while (( SECONDS - start < 10 )); do
    zpty -r -t shell out || { sleep 0.05; continue; }
    [[ $out == *$mark* && $out != *'""'* ]] && return 0
    hits+=(${${${(f)out}:#^*HIT:*}##*HIT:})
  done
  print -u2 "zsh completion: no '$mark' from the shell after 10 s"
  exit 1
}

zpty -w shell 'echo __rea""dy__'
await __ready__
for line in "$@"; do
  # The Tab, then the line wiped and the mark that ends this line's candidates.
  zpty -n -w shell "$line"$'\t\C-u'"echo __do\"\"ne__"$'\n'
  await __done__
  hits=(${(o)${${hits//$'\r'/}//\\/}})
  print -r -- "$line|${(j: :)hits}"
done
zpty -d shell
