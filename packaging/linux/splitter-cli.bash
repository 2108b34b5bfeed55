# bash completion for splitter-cli                                      -*- shell-script -*-
#
# The command line is described by the tables below, so that a new verb or option is a word added
# to them: the verbs; each verb's options, NAME=KIND for one that takes a value; each verb's
# operands, by KIND; and what each KIND offers (_splitter_cli_offer). A command line without a
# verb is a split, as splitter-cli reads it. Needs nothing of bash-completion's own functions, so
# it works sourced alone too, under set -e as well.

_splitter_cli_verbs='split join check repair'
_splitter_cli_options_split='--checksum --size=SIZE --recovery=PERCENT --help'
_splitter_cli_operands_split='FILE PARTS'
_splitter_cli_options_join='--force --any-sizes --stdout --help'
_splitter_cli_operands_join='SCRIPT'
_splitter_cli_options_check='--help'
_splitter_cli_operands_check='SCRIPT'
_splitter_cli_options_repair='--help'
_splitter_cli_operands_repair='SCRIPT'
# What stands alone, in place of a verb.
_splitter_cli_alone='--version --help -h'
# SIZE: a number with one of these units after it, or fat32.
_splitter_cli_size_units='K M G KiB MiB GiB KB MB GB'

# Prints the candidates for a word of kind $1 that begin with $2.
_splitter_cli_offer() {
    local kind=$1 cur=$2 glob= number unit words=
    case $kind in
        FILE) glob='*' ;;
        # cmd finds a script whatever its letter case.
        SCRIPT) glob='*.[bB][aA][tT]' ;;
        SIZE)
            number=${cur%%[!0-9]*}
            if [[ -n $number ]]; then
                for unit in $_splitter_cli_size_units; do words+=" $number$unit"; done
            fi
            words+=' fat32'
            ;;
    esac
    # PARTS, PERCENT: any number, nothing to offer.
    if [[ -z $glob ]]; then
        compgen -W "$words" -- "$cur" || true
        return 0
    fi
    # The files of the glob and the folders to go through, each once; the word as typed
    # ("my\ films/", "'my films/") stands for the name without its quoting.
    local name
    name=$(printf '%s\n' "$cur" | sed -e "s/^[\"']//" -e 's/\\\(.\)/\1/g')
    { compgen -f -X "!$glob" -- "$name" || true; compgen -d -- "$name" || true; } | sort -u
}

# The candidates of $1, one a line, as the reply. No process substitution: it needs /dev/fd,
# which a chroot or container may lack.
_splitter_cli_reply() {
    COMPREPLY=()
    if [[ -n $1 ]]; then mapfile -t COMPREPLY <<<"$1"; fi
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
    local optionsVar=_splitter_cli_options_$verb operandsVar=_splitter_cli_operands_$verb
    local options=${!optionsVar} operands=(${!operandsVar})

    # The words before this one: the operands among them counted, options and their values
    # passed over; after "--" every word is an operand.
    local i word known optionsEnd= value= count=0
    for ((i = first; i < cword; i++)); do
        word=${COMP_WORDS[i]}
        if [[ -n $value ]]; then
            [[ $word == = ]] || value=
        elif [[ -z $optionsEnd && $word == -- ]]; then
            optionsEnd=1
        elif [[ -z $optionsEnd && $word == -[!0-9]* ]]; then
            for known in $options; do
                if [[ $known == *=* && ${known%%=*} == "$word" ]]; then value=1; fi
            done
        else
            count=$((count + 1))
        fi
    done

    local kind=
    if [[ -n $value ]]; then
        for known in $options; do
            if [[ ${known%%=*} == "$option" ]]; then kind=${known#*=}; fi
        done
    elif [[ -z $optionsEnd && $cur == -* ]]; then
        local words=
        for known in $options; do words+=" ${known%%=*}"; done
        ((cword == 1)) && words+=" $_splitter_cli_alone"
        _splitter_cli_reply "$(compgen -W "$words" -- "$cur" | sort -u)"
        return 0
    else
        kind=${operands[count]:-}
        # Names as they are, spaces kept whole.
        [[ $kind == FILE || $kind == SCRIPT ]] && { compopt -o filenames 2>/dev/null || true; }
    fi
    _splitter_cli_reply "$(
        ((cword > 1)) || compgen -W "$_splitter_cli_verbs" -- "$cur" || true
        if [[ -n $kind ]]; then _splitter_cli_offer "$kind" "$cur"; fi
    )"
    return 0
}

complete -F _splitter_cli splitter-cli
