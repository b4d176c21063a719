# bash completion for vellumguard-cli
_vellumguard_cli() {
  local cur prev words cword
  if declare -F _init_completion >/dev/null; then
    _init_completion || return
  else
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
  fi

  local protect_opts="-r --recursive --level --include --exclude --no-zip --use-last
    --use-default --password-file --password-fd -y --yes -n --no -j --jobs -q --quiet"
  local restore_opts="-r --recursive --password-file --password-fd -y --yes -n --no -j --jobs
    -q --quiet"
  local verify_opts="-r --recursive --password-file --password-fd -j --jobs -q --quiet"
  local info_opts="--list --password-file --password-fd --porcelain"
  local change_opts="-r --recursive --password-file --password-fd --new-password-file
    --new-password-fd -j --jobs -q --quiet"

  case $prev in
    --level) COMPREPLY=($(compgen -W "0 1 2 3 4 5 6 7 8 9" -- "$cur")); return ;;
    --password-file | --new-password-file)
      COMPREPLY=($(compgen -f -- "$cur")); compopt -o filenames; return ;;
    --list)
      COMPREPLY=($(compgen -f -X '!*.dlt' -- "$cur") $(compgen -d -- "$cur"))
      compopt -o filenames; return ;;
    --include | --exclude | --no-zip | --password-fd | --new-password-fd | -j | --jobs) return ;;
  esac

  if ((cword == 1)); then
    COMPREPLY=($(compgen -W "protect restore verify info change-password list edit recover -h --help --version" \
      -- "$cur"))
    return
  fi

  local opts=""
  case ${words[1]} in
    protect) opts=$protect_opts ;;
    restore) opts=$restore_opts ;;
    verify) opts=$verify_opts ;;
    info) opts=$info_opts ;;
    change-password) opts=$change_opts ;;
    edit) opts="--password-file --password-fd --allow-disk --quiet" ;;
    recover) opts="--password-file --password-fd --yes --quiet" ;;
    list)
      if ((cword == 2)); then
        COMPREPLY=($(compgen -W "new add remove show protect restore" -- "$cur"))
        return
      fi
      if ((cword == 3)); then
        COMPREPLY=($(compgen -f -X '!*.dlt' -- "$cur") $(compgen -d -- "$cur"))
        compopt -o filenames
        return
      fi
      case ${words[2]} in
        new) opts="--level --include --exclude --no-zip --password-file --password-fd -q --quiet" ;;
        add) opts="-r --recursive --include --exclude -q --quiet" ;;
        remove | show) opts="-q --quiet" ;;
        protect) opts="-y --yes -n --no -j --jobs -q --quiet" ;;
        restore) opts="--password-file --password-fd -y --yes -n --no -j --jobs -q --quiet" ;;
      esac
      ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$opts" -- "$cur"))
    return
  fi
  if [[ ${words[1]} == restore || ${words[1]} == verify || ${words[1]} == edit ]]; then
    COMPREPLY=($(compgen -f -X '!*.~de' -- "$cur") $(compgen -d -- "$cur"))
  elif [[ ${words[1]} == change-password ]]; then
    COMPREPLY=($(compgen -f -X '!*.@(~de|dlt)' -- "$cur") $(compgen -d -- "$cur"))
  else
    COMPREPLY=($(compgen -f -- "$cur"))
  fi
  compopt -o filenames
}
complete -F _vellumguard_cli vellumguard-cli
