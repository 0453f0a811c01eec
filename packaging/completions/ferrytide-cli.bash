# bash completion for ferrytide-cli

# The paired phones' names, one a line, from the "name" lines of `peers --json`.
_ferrytide_cli_phones() {
  "$1" peers --json 2>/dev/null |
    sed -n 's/^ *"name": "\(.*\)",\{0,1\}$/\1/p' | sed 's/\\"/"/g; s/\\\\/\\/g'
}

# Fills COMPREPLY with the phones whose name starts with what was typed, letter case ignored
# (as the program matches them), each quoted as one word since names hold spaces.
_ferrytide_cli_complete_phone() {
  local typed=${cur//\\/} name
  typed=${typed#[\"\']}
  COMPREPLY=()
  while IFS= read -r name; do
    [[ ${name,,} == "${typed,,}"* ]] && COMPREPLY+=("$(printf '%q' "$name")")
  done < <(_ferrytide_cli_phones "$1")
}

_ferrytide_cli() {
  local cur prev words cword
  _init_completion || return

  local commands="status pair peers send clip receive forget share integrate"
  local command="" i
  for ((i = 1; i < cword; i++)); do
    if [[ " $commands " == *" ${words[i]} "* ]]; then
      command=${words[i]}
      break
    fi
  done

  case $prev in
    --to)
      _ferrytide_cli_complete_phone "${words[0]}"
      return
      ;;
    --png)
      _filedir png
      return
      ;;
    --dir)
      _filedir -d
      return
      ;;
    --name | --port | --timeout)
      return
      ;;
  esac

  local options
  case $command in
    "") options="--help --version" ;;
    status) options="--help" ;;
    pair) options="--name --png --port --timeout --yes -y --help" ;;
    peers) options="--json --help" ;;
    send | share | clip) options="--to --help" ;;
    receive) options="--once --dir --port --address --idle-timeout --help" ;;
    forget) options="--tell --help" ;;
    integrate) options="--help" ;;
  esac

  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
    return
  fi

  case $command in
    "")
      COMPREPLY=($(compgen -W "$commands" -- "$cur"))
      ;;
    send | share)
      _filedir
      ;;
    forget)
      _ferrytide_cli_complete_phone "${words[0]}"
      ;;
    integrate)
      local action
      for ((i = i + 1; i < cword; i++)); do
        [[ ${words[i]} == -* ]] || action=${words[i]}
      done
      [[ -n $action ]] || COMPREPLY=($(compgen -W "install remove status" -- "$cur"))
      ;;
  esac
} &&
  complete -F _ferrytide_cli ferrytide-cli
