# bash completion for splitter-cli                                      -*- shell-script -*-
#
# The command line is described by the tables below, so that a new verb or option is a word added
# to them: the verbs, each verb's options (NAME=KIND for one that takes a value, completed by
# _splitter_cli_value), and the files each verb's operands name. A command line without a verb
# is a split, as splitter-cli reads it. Needs nothing of bash-completion's own functions, so it
# works sourced alone too, under set -e as well.

_splitter_cli_verbs='split join'
_splitter_cli_options_split='--checksum --size=SIZE --recovery=PERCENT --help'
_splitter_cli_options_join='--force --any-sizes --help'
# A glob of the operands offered, besides folders. cmd finds a script whatever its letter case.
_splitter_cli_files_split='*'
_splitter_cli_files_join='*.[bB][aA][tT]'
# What stands alone, in place of a verb.
_splitter_cli_alone='--version --help -h'
# SIZE: a number with one of these units after it, or fat32.
_splitter_cli_size_units='K M G KiB MiB GiB KB MB GB'

# The candidates for the value of option $1 (SIZE, PERCENT, ...) that begin with $2.
_splitter_cli_value() {
    local kind=$1 cur=$2 number unit words=
    case $kind in
        SIZE)
            number=${cur%%[!0-9]*}
            if [[ -n $number ]]; then
                for unit in $_splitter_cli_size_units; do words+=" $number$unit"; done
            fi
            words+=' fat32'
            ;;
    esac
    # PERCENT and the others: any number, nothing to offer.
    compgen -W "$words" -- "$cur" || true
}

_splitter_cli() {
    local cword=$COMP_CWORD cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD - 1]:-} option=
    COMPREPLY=()
    # bash cuts "--size=64" at the "=" (COMP_WORDBREAKS): the value is the word after it.
    if [[ $cur == = ]]; then
        option=$prev cur=
    elif [[ $prev == = && $cword -ge 3 ]]; then
        option=${COMP_WORDS[cword - 2]}
    else
        option=$prev
    fi

    local verb=split first=1
    if ((cword > 1)) && [[ " $_splitter_cli_verbs " == *" ${COMP_WORDS[1]} "* ]]; then
        verb=${COMP_WORDS[1]} first=2
    fi
    local optionsVar=_splitter_cli_options_$verb filesVar=_splitter_cli_files_$verb
    local options=${!optionsVar} files=${!filesVar:-*}

    # The value of an option that takes one.
    local known
    for known in $options; do
        if [[ $known == *=* && ${known%%=*} == "$option" ]]; then
            mapfile -t COMPREPLY < <(_splitter_cli_value "${known#*=}" "$cur")
            return 0
        fi
    done

    # After "--" every word is an operand.
    local i optionsEnd=
    for ((i = first; i < cword; i++)); do
        [[ ${COMP_WORDS[i]} == -- ]] && optionsEnd=1
    done

    if [[ -z $optionsEnd && $cur == -* ]]; then
        local words=
        for known in $options; do words+=" ${known%%=*}"; done
        ((cword == 1)) && words+=" $_splitter_cli_alone"
        mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur" | sort -u)
        return 0
    fi

    # Names as they are (spaces kept whole), folders to go through; the word as typed
    # ("my\ films/", "'my films/") stands for the name without its quoting.
    compopt -o filenames 2>/dev/null || true
    local name
    name=$(printf '%s\n' "$cur" | sed -e "s/^[\"']//" -e 's/\\\(.\)/\1/g')
    mapfile -t COMPREPLY < <(
        ((cword > 1)) || compgen -W "$_splitter_cli_verbs" -- "$cur" || true
        # A folder that also matches the glob is offered once.
        { compgen -f -X "!$files" -- "$name" || true; compgen -d -- "$name" || true; } | sort -u
    )
    return 0
}

complete -F _splitter_cli splitter-cli
