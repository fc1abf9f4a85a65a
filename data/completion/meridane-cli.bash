# bash completion for meridane-cli: its options, then files and folders.
_meridane_cli() {
    local cur="${COMP_WORDS[COMP_CWORD]}"
    local word
    for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
        if [[ "$word" == "--" ]]; then
            COMPREPLY=()
            compopt -o default 2>/dev/null
            return
        fi
    done
    if [[ "$cur" == -* ]]; then
        COMPREPLY=($(compgen -W "--write --always-overwrite --any-camera --silently-ignore-skipped
            --debug --json --help --version --" -- "$cur"))
        return
    fi
    COMPREPLY=()
    compopt -o default 2>/dev/null
}
complete -F _meridane_cli meridane-cli
