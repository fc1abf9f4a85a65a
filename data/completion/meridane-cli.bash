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
        if [[ "$cur" == --undo=* ]]; then
            # The ids of the kept runs, newest last.
            local runs="${XDG_STATE_HOME:-$HOME/.local/state}/meridane/runs" ids
            ids=$(cd "$runs" 2>/dev/null && for f in *.journal; do [[ -f "$f" ]] && printf '%s ' "--undo=${f%.journal}"; done)
            COMPREPLY=($(compgen -W "$ids" -- "$cur"))
            return
        fi
        case "$cur" in
            --coordinate-format=*)
                COMPREPLY=($(compgen -W "--coordinate-format=decimal --coordinate-format=dm" -- "$cur"))
                return ;;
            --sidecar-name=*)
                COMPREPLY=($(compgen -W "--sidecar-name=stem --sidecar-name=full" -- "$cur"))
                return ;;
        esac
        COMPREPLY=($(compgen -W "--write --always-overwrite --any-camera --silently-ignore-skipped
            --coordinate-format= --sidecar-name= --debug --json --undo --undo= --list-runs --forget-runs --help --version --" -- "$cur"))
        return
    fi
    COMPREPLY=()
    compopt -o default 2>/dev/null
}
complete -F _meridane_cli meridane-cli
