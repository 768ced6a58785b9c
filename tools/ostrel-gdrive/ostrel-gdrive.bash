# Bash completion for ostrel-gdrive: commands, options, --export formats
# (asked of the tool itself, so they are the library's) and files; drive:
# paths are not completed, since that would ask Drive.

_ostrel_gdrive_options()
{
    local common="--export --config --debug -h --help"
    local live="--token-file --token-command --api-url --retries --max-wait"
    case $1 in
        ls) echo "$common -l --long --json --ids --trashed --path --root $live" ;;
        resolve) echo "$common --json --root --paths-from $live" ;;
        stat) echo "$common --json --root $live" ;;
        get) echo "$common --offset --streams --root $live" ;;
        put) echo "$common --chunk-size --replace --no-mtime --root $live" ;;
        mkdir | rmdir | mv) echo "$common --root $live" ;;
        rm) echo "$common --permanent --root $live" ;;
        md5) echo "$common --check --root $live" ;;
        query) echo "$common --json --parent" ;;
        in | split) echo "$common --json --write" ;;
        out) echo "$common --json --name --mime --id" ;;
        formats) echo "$common --json" ;;
        expand) echo "$common" ;;
        *) echo "$common --version" ;;
    esac
}

# KIND=FORMAT,... : the kinds, or the formats of the kind being written,
# after the items already given.
_ostrel_gdrive_exports()
{
    local tool=$1 cur=$2
    local done="" item=$cur
    if [[ $cur == *,* ]]; then
        done=${cur%,*},
        item=${cur##*,}
    fi
    local formats
    formats=$("$tool" formats --json 2>/dev/null)
    if [[ $item == *=* ]]; then
        compgen -P "$done" -W "$(printf '%s\n' "$formats" |
            sed -n 's/^{"kind":"\([a-z]*\)",.*"format":"\([a-z0-9]*\)".*/\1=\2/p')" -- "$item"
    else
        compgen -P "$done" -S "=" -W "$(printf '%s\n' "$formats" | sed -n 's/^{"kind":"\([a-z]*\)".*/\1/p' | uniq)" \
            -- "$item"
    fi
}

_ostrel_gdrive()
{
    # Words are taken from the line itself: readline splits at "=", which
    # --export values hold.
    local line=${COMP_LINE:0:COMP_POINT}
    local -a words
    read -r -a words <<<"$line"
    if [[ ${#words[@]} -eq 0 || $line == *[[:space:]] ]]; then
        words+=("")
    fi
    local last=$((${#words[@]} - 1))
    local cur=${words[last]} prev=""
    ((last > 0)) && prev=${words[last - 1]}
    local command="" i
    for ((i = 1; i < last; i++)); do
        case ${words[i]} in
            --export | --config | --debug | --paths-from | --path | --root | --parent | --name | --mime | --id | \
                --token-file | --token-command | --api-url | --retries | --max-wait | --offset | --streams | --chunk-size) ((i++)) ;;
            -*) ;;
            *)
                [[ -z $command ]] && command=${words[i]}
                ;;
        esac
    done

    COMPREPLY=()
    case $prev in
        --export)
            mapfile -t COMPREPLY < <(_ostrel_gdrive_exports "${words[0]}" "$cur")
            [[ ${COMPREPLY[0]-} == *= ]] && compopt -o nospace 2>/dev/null
            ;;
        --config | --paths-from | --token-file)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            ;;
        --debug) mapfile -t COMPREPLY < <(compgen -W "ALL TRACE DEBUG INFO WARN ERROR" -- "$cur") ;;
        --path | --root | --parent | --name | --mime | --id | --token-command | --api-url | --retries | --max-wait | --offset | --streams | \
            --chunk-size) ;;
        --check) compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
        *)
            if [[ $cur == -* ]]; then
                mapfile -t COMPREPLY < <(compgen -W "$(_ostrel_gdrive_options "$command")" -- "$cur")
            elif [[ -z $command ]]; then
                mapfile -t COMPREPLY < <(compgen -W "ls resolve query in out split expand formats stat get put mkdir rm rmdir mv md5" -- "$cur")
            elif [[ $command == ls || $command == resolve || $command == get || $command == put || $command == md5 ]]; then
                compopt -o filenames 2>/dev/null
                mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            fi
            ;;
    esac
    # Readline replaces only what follows the last word break ("=", ":").
    local broken=${cur%"${cur##*[=:]}"}
    if [[ -n $broken ]]; then
        COMPREPLY=("${COMPREPLY[@]#"$broken"}")
    fi
}

complete -F _ostrel_gdrive ostrel-gdrive
