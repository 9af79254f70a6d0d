# bash completion for automationctl                        -*- shell-script -*-

# What each command takes: its arguments (NAME is a class name, PATH a file,
# MACHINE a host name, METHOD, PROPERTY and SIGNAL members of the class named
# before them; IDENTITY is typed or pasted)
# and its options, a value-taking one marked with a trailing '='. A new
# command needs one line here.
declare -gA _automationctl_commands=(
    [list]="|"
    [show]="NAME|"
    [register]="NAME PATH|--class-id= --remote="
    [unregister]="NAME|"
    [get]="NAME|"
    [set]="NAME|--local --remote --machine= --protocol= --level= --class-id="
    [create]="NAME|--timeout="
    [introspect]="NAME|--json --timeout="
    [call]="NAME METHOD|--json --timeout="
    [property]="NAME PROPERTY|--json --timeout="
    [watch]="NAME SIGNAL|--json --timeout="
    [identity]="|"
    [add-host]="MACHINE IDENTITY|--yes --comment="
    [hosts]="|"
    [remove-host]="MACHINE IDENTITY|"
    [authorize]="IDENTITY|--classes= --comment="
    [clients]="|"
    [revoke]="IDENTITY|"
    [pair]="MACHINE|--comment= --timeout="
    [requests]="|--json"
    [accept]="CODE|--classes="
    [reject]="CODE|"
    [import]="MACHINE NAME|"
)

_automationctl_values() {
    local IFS=$' \t\n'
    case $1 in
        --protocol)
            compgen -W 'ncacn_ip_tcp ncacn_spx ncacn_np ncacn_nb_nb ncacn_nb_tcp
                        ncacn_nb_ipx ncadg_ipx ncadg_ip_udp' -- "$2" ;;
        --level) compgen -W '0 1 2 3 4 5 6' -- "$2" ;;
        --machine|--remote) compgen -A hostname -- "$2" ;;
    esac
}

# The members of one group (Properties, Methods or Signals) of class $1, read
# from what automationctl introspect prints, which creates an object of it.
_automationctl_members() {
    automationctl introspect --timeout 3000 "$1" 2>/dev/null | awk -v group="$2:" '
        $0 == group { listing = 1; next }
        /^[^ ]/ { listing = 0 }
        listing && /^  [^(]/ { sub(/^  /, ""); sub(/[( ].*/, ""); print }'
}

_automationctl() {
    local cur=${COMP_WORDS[COMP_CWORD]} IFS=$'\n'
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        COMPREPLY=($(compgen -W "${!_automationctl_commands[*]}"$'\n--help' -- "$cur"))
        return
    fi
    local command=${COMP_WORDS[1]}
    [[ -v _automationctl_commands[$command] ]] || return
    local spec=${_automationctl_commands[$command]}
    local -a arguments options
    IFS=' ' read -ra arguments <<<"${spec%%|*}"
    IFS=' ' read -ra options <<<"${spec#*|}"

    # The word before the cursor may be an option waiting for its value.
    local prev=${COMP_WORDS[COMP_CWORD - 1]} option
    for option in "${options[@]}"; do
        if [[ $option == *= && $prev == "${option%=}" ]]; then
            COMPREPLY=($(_automationctl_values "$prev" "$cur"))
            return
        fi
    done
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "${options[*]%=}"$'\n--help' -- "$cur"))
        return
    fi

    # Which argument the cursor is on: the words before it that are neither
    # options nor option values. The first is the class name.
    local i position=0 valued=" " name=
    for option in "${options[@]}"; do
        [[ $option == *= ]] && valued+="${option%=} "
    done
    for ((i = 2; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} != -* ]]; then
            ((position == 0)) && name=${COMP_WORDS[i]}
            ((position++))
        elif [[ $valued == *" ${COMP_WORDS[i]} "* ]]; then
            ((i++))
        fi
    done
    case ${arguments[position]} in
        NAME) COMPREPLY=($(compgen -W "$(automationctl list 2>/dev/null | cut -f1)" -- "$cur")) ;;
        PATH) compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -f -- "$cur")) ;;
        MACHINE) COMPREPLY=($(compgen -A hostname -- "$cur")) ;;
        METHOD) COMPREPLY=($(compgen -W "$(_automationctl_members "$name" Methods)" -- "$cur")) ;;
        PROPERTY)
            COMPREPLY=($(compgen -W "$(_automationctl_members "$name" Properties)" -- "$cur")) ;;
        SIGNAL) COMPREPLY=($(compgen -W "$(_automationctl_members "$name" Signals)" -- "$cur")) ;;
    esac
}
complete -F _automationctl automationctl
