# bash completion for casaluxctl                    -*- shell-script -*-
# SPDX-License-Identifier: GPL-3.0-or-later

_casaluxctl_rooms()
{
    casaluxctl rooms 2>/dev/null | sed -n 's/^\([^ ].*\)$/\1/p'
}

_casaluxctl()
{
    local cur prev words cword
    _init_completion || return

    local commands="on off dim status events port webport login mqtt city summertime rooms room device"
    local i command="" nth=0
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --home) ((i++)) ;;
            --*) ;;
            *) [[ -z $command ]] && command=${words[i]} || ((nth++)) ;;
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
                0) COMPREPLY=($(compgen -W "add"$'\n'"remove" -- "$cur")) ;;
                1) [[ ${words[cword - 1]} == remove ]] && COMPREPLY=($(compgen -W "$(_casaluxctl_rooms)" -- "$cur")) ;;
            esac ;;
        device)
            case $nth in
                0) COMPREPLY=($(compgen -W "add"$'\n'"remove" -- "$cur")) ;;
                1) COMPREPLY=($(compgen -W "$(_casaluxctl_rooms)" -- "$cur")) ;;
                4) COMPREPLY=($(compgen -W "switch"$'\n'"bulb"$'\n'"fan"$'\n'"radio"$'\n'"bulb2" -- "$cur")) ;;
            esac ;;
    esac
    # Names with blanks stay one word.
    local k
    for k in "${!COMPREPLY[@]}"; do COMPREPLY[k]=$(printf '%q' "${COMPREPLY[k]}"); done
} &&
    complete -F _casaluxctl casaluxctl
