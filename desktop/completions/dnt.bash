# SPDX-License-Identifier: GPL-3.0-or-later
# bash completion of dnt, DirNote's command: commands, their options, the values of --format,
# --to, --from and --encoding, and paths (folders where only a folder is taken).

_dnt()
{
    local cur prev words cword
    _init_completion || return

    local commands='get set ls find export import mirror help'
    # The command is the first word that is not an option.
    local command='' i
    for ((i = 1; i < cword; i++)); do
        if [[ ${words[i]} != -* ]]; then
            command=${words[i]}
            break
        fi
    done

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W '--help -h --version -V' -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        return
    fi

    case $prev in
        --format)
            COMPREPLY=($(compgen -W 'md csv json' -- "$cur"))
            return
            ;;
        --to)
            COMPREPLY=($(compgen -W 'xattr' -- "$cur"))
            return
            ;;
        --from)
            COMPREPLY=($(compgen -W 'descript.ion xattr' -- "$cur"))
            return
            ;;
        --encoding)
            COMPREPLY=($(compgen -W 'utf-8 cp850 cp1252' -- "$cur"))
            return
            ;;
        --below)
            _filedir -d
            return
            ;;
    esac

    local options='--help'
    case $command in
        ls) options+=' --undescribed --json' ;;
        find) options+=' --below' ;;
        export) options+=' --recursive --format --to' ;;
        import) options+=' --recursive --from --overwrite --dry-run --encoding' ;;
        mirror) options+=' --recursive' ;;
        help)
            COMPREPLY=($(compgen -W "${commands% help}" -- "$cur"))
            return
            ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi

    case $command in
        get | set) _filedir ;;
        ls | export | import) _filedir -d ;;
        mirror)
            # on, off or status first; on takes a folder after it.
            local words_after=() j
            for ((j = i + 1; j < cword; j++)); do
                [[ ${words[j]} != -* ]] && words_after+=("${words[j]}")
            done
            if [[ ${#words_after[@]} -eq 0 ]]; then
                COMPREPLY=($(compgen -W 'on off status' -- "$cur"))
            elif [[ ${#words_after[@]} -eq 1 && ${words_after[0]} == on ]]; then
                _filedir -d
            fi
            ;;
        # find takes a query: nothing to offer.
    esac
} &&
    complete -F _dnt dnt
