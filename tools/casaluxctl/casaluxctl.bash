# bash completion for casaluxctl                    -*- shell-script -*-
# SPDX-License-Identifier: GPL-3.0-or-later

_casaluxctl_rooms()
{
    casaluxctl rooms 2>/dev/null | sed -n 's/^\([^ ].*\)$/\1/p'
}

# The devices of one room: the indented lines under it, without the
# address and kind at their end.
_casaluxctl_devices()
{
    casaluxctl rooms 2>/dev/null | awk -v room="$1" '
        /^[^ ]/ { inroom = ($0 == room); next }
        inroom { sub(/^  /, ""); sub(/ [^ ]+ [^ ]+$/, ""); print }'
}

_casaluxctl()
{
    local cur prev words cword
    _init_completion || return

    local commands="on off dim status events port webport login mqtt city summertime rooms room device"
    local i command="" nth=0 action="" room=""
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --home) ((i++)) ;;
            --*) ;;
            *)
                if [[ -z $command ]]; then
                    command=${words[i]}
                else
                    ((nth == 0)) && action=${words[i]}
                    ((nth == 1)) && room=$(dequote "${words[i]}")
                    ((nth++))
                fi
                ;;
        esac
    done

    if [[ $prev == --home ]]; then
        _filedir -d
        return
    fi
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "--home --json --help --password-stdin --clear" -- "$cur"))
        return
    fi
    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        return
    fi
    local IFS=$'\n'
    case $command in
        port)
            ((nth == 0)) && COMPREPLY=($(compgen -W "auto"$'\n'"$(seq 1 15)"$'\n'"$(ls -d /dev/serial/by-id/* 2>/dev/null)" -- "$cur")) ;;
        mqtt)
            ((nth == 0)) && COMPREPLY=($(compgen -W "host"$'\n'"port"$'\n'"user"$'\n'"password"$'\n'"tls"$'\n'"prefix"$'\n'"discovery" -- "$cur")) ;;
        summertime)
            ((nth == 0)) && COMPREPLY=($(compgen -W "on"$'\n'"off" -- "$cur")) ;;
        room)
            case $nth in
                0) COMPREPLY=($(compgen -W "add"$'\n'"rename"$'\n'"remove" -- "$cur")) ;;
                1) [[ $action == @(remove|rename) ]] && COMPREPLY=($(compgen -W "$(_casaluxctl_rooms)" -- "$cur")) ;;
            esac ;;
        device)
            case $nth in
                0) COMPREPLY=($(compgen -W "add"$'\n'"rename"$'\n'"remove" -- "$cur")) ;;
                1) COMPREPLY=($(compgen -W "$(_casaluxctl_rooms)" -- "$cur")) ;;
                2) [[ $action == @(remove|rename) ]] && COMPREPLY=($(compgen -W "$(_casaluxctl_devices "$room")" -- "$cur")) ;;
                4) [[ $action == add ]] && COMPREPLY=($(compgen -W "switch"$'\n'"bulb"$'\n'"fan"$'\n'"radio"$'\n'"bulb2" -- "$cur")) ;;
            esac ;;
    esac
    # Names with blanks stay one word.
    local k
    for k in "${!COMPREPLY[@]}"; do COMPREPLY[k]=$(printf '%q' "${COMPREPLY[k]}"); done
} &&
    complete -F _casaluxctl casaluxctl
