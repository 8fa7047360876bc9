# bash completion for vaultix-cli: operations, the options of each operation,
# their fixed values, files and folders, and the names of the schedules.

_vaultix_cli() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()

  if ((COMP_CWORD == 1)); then
    mapfile -t COMPREPLY < <(compgen -W 'backup restore verify catalog comment delete
      schedule schedules unschedule --help --version' -- "$cur")
    return
  fi

  local op=${COMP_WORDS[1]}
  case $prev in
    --set | --log | --password-file | --include | --exclude)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return ;;
    --job)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -d -- "$cur"; compgen -f -X '!*.sqt' -- "$cur")
      return ;;
    --destination | --restore-to)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      return ;;
    --compress) mapfile -t COMPREPLY < <(compgen -W 'none quick max' -- "$cur"); return ;;
    --mode) mapfile -t COMPREPLY < <(compgen -W 'full incremental differential' -- "$cur"); return ;;
    --restore-mode) mapfile -t COMPREPLY < <(compgen -W 'all newer newer-and-new' -- "$cur"); return ;;
    --weekly) mapfile -t COMPREPLY < <(compgen -W 'mon tue wed thu fri sat sun' -- "$cur"); return ;;
    --archive | --comment | --password-command | --daily | --name | --wait-lock | --keep-logs | --random-delay) return ;;
  esac

  local common='--set --quiet --destination --archive --wait-lock --help'
  local logging='--log --append-log --no-log'
  local opts
  case $op in
    backup) opts="$common $logging --dry-run --password-file --password-command --encrypt --include --exclude --recurse --no-hidden --ignore-missing --comment --compress --mode --mkdir --no-xattrs --no-metadata --follow-links" ;;
    restore) opts="$common $logging --dry-run --password-file --password-command --include --recurse --all --restore-to --flat --restore-mode --attributes --no-xattrs --no-metadata" ;;
    verify) opts="$common $logging --password-file --password-command --json --no-metadata" ;;
    catalog) opts="$common --json --all" ;;
    comment) opts="$common --password-file --password-command" ;;
    delete) opts="$common $logging --dry-run --include --exclude --recurse" ;;
    schedule) opts='--job --daily --weekly --name --keep-logs --random-delay --on-ac-power' ;;
    schedules) return ;;
    unschedule)
      ((COMP_CWORD == 2)) || return
      mapfile -t COMPREPLY < <(compgen -W "$("${COMP_WORDS[0]}" schedules 2>/dev/null | cut -f1)" -- "$cur")
      return ;;
    *) return ;;
  esac
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$opts" -- "$cur")
  else
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  fi
}
complete -F _vaultix_cli vaultix-cli
