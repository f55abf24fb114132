# bash completion for larkhorn: the options, the temperament and timbre
# names and, in the device position, the playback devices larkhorn lists.

_larkhorn() {
  local cur prev words cword
  _init_completion -n : || return

  local options="--help -h --version --list-devices --a4 --temperament --cents
    --transpose --timbre --with --note --listen"
  local temperaments="equal pythagorean meantone werckmeister3 kirnberger3
    vallotti young"
  local timbres="sine warm bright"
  # Options followed by a value of their own.
  local valued="--a4 --temperament --cents --transpose --timbre --with --note"

  case $prev in
    --temperament)
      COMPREPLY=($(compgen -W "$temperaments" -- "$cur"))
      return
      ;;
    --timbre)
      COMPREPLY=($(compgen -W "$timbres" -- "$cur"))
      return
      ;;
    --a4 | --cents | --transpose | --with | --note)
      return
      ;;
  esac

  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
    return
  fi

  # Frequency, seconds, device (with --note or --listen, seconds and
  # device): count
  # the arguments before this one, leaving out the options and their values.
  local i position=0 device=2
  for ((i = 1; i < cword; i++)); do
    if [[ ${words[i]} == --note || ${words[i]} == --note=* ||
      ${words[i]} == --listen ]]; then
      device=1
    fi
    if [[ " $valued " == *" ${words[i]} "* ]]; then
      ((i++))
    elif [[ ${words[i]} != -* ]]; then
      ((position++))
    fi
  done
  if ((position == device)); then
    local devices
    devices=$("$1" --list-devices 2>/dev/null | sed 's/  .*//')
    COMPREPLY=($(compgen -W "$devices" -- "$cur"))
    __ltrim_colon_completions "$cur"
  fi
} && complete -F _larkhorn larkhorn
