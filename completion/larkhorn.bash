# bash completion for larkhorn: the options, the temperament and timbre
# names, with --listen the words for its seconds, and in the device
# position and after --device the playback (with --listen, capture)
# devices larkhorn lists. It needs no more than bash, and takes device
# names as data: nothing in them is ever expanded or run.

# The words of the line up to the cursor into words and cword, as typed:
# bash splits them at COMP_WORDBREAKS (= and : among them), and they are
# joined again where no blank stood between them.
_larkhorn_words() {
  local line=${COMP_LINE:0:COMP_POINT} i blanks
  words=()
  for ((i = 0; i <= COMP_CWORD; i++)); do
    blanks=${line%%[![:blank:]]*}
    line=${line:${#blanks}}
    line=${line:${#COMP_WORDS[i]}}
    if ((i > 0)) && [[ -z $blanks ]]; then
      words[-1]+=${COMP_WORDS[i]}
    else
      words+=("${COMP_WORDS[i]}")
    fi
  done
  cword=$((${#words[@]} - 1))
}

# What the shell makes of word as typed, quotes and backslashes removed
# (nothing expanded), into REPLY; into open, the quote still open at its end,
# if any; and into start, where in REPLY the text that completion replaces
# begins: after that quote's opening, or else after the last word-breaking
# character outside quotes.
_larkhorn_dequote() {
  local word=$1 c i
  REPLY="" open="" start=0
  for ((i = 0; i < ${#word}; i++)); do
    c=${word:i:1}
    if [[ $open == "'" ]]; then
      if [[ $c == "'" ]]; then open=""; else REPLY+=$c; fi
    elif [[ $c == '\' && ( -z $open || ${word:i+1:1} == [\"\\\$\`] ) ]]; then
      REPLY+=${word:i+1:1}
      ((i++))
    elif [[ $open == '"' ]]; then
      if [[ $c == '"' ]]; then open=""; else REPLY+=$c; fi
    elif [[ $c == [\"\'] ]]; then
      open=$c
      start=${#REPLY}
    else
      REPLY+=$c
      [[ $COMP_WORDBREAKS == *"$c"* ]] && start=${#REPLY}
    fi
  done
}

# Offers each candidate that begins with the word being completed, cur:
# the part from start on, quoted for where it goes (the line closes an open
# quote itself).
_larkhorn_offer() {
  local candidate rest quoted c i
  for candidate; do
    [[ $candidate == "$cur"* ]] || continue
    rest=${candidate:start}
    if [[ $open == "'" ]]; then
      quoted=${rest//\'/\'\\\'\'}
    elif [[ $open == '"' ]]; then
      quoted=""
      for ((i = 0; i < ${#rest}; i++)); do
        c=${rest:i:1}
        [[ $c == [\"\\\$\`] ]] && quoted+='\'
        quoted+=$c
      done
    else
      printf -v quoted %q "$rest"
    fi
    COMPREPLY+=("$quoted")
  done
}

# The device names larkhorn lists (program $1, listing option $2), into
# names.
_larkhorn_devices() {
  local line
  names=()
  while IFS= read -r line; do
    names+=("${line%%  *}")
  done < <("$1" "$2" 2>/dev/null)
}

_larkhorn() {
  local options="--help -h --version --list-devices --list-capture-devices
    --a4 --temperament --cents --transpose --timbre --with --note --listen
    --hold --device"
  local temperaments="equal pythagorean meantone werckmeister3 kirnberger3
    vallotti young"
  local timbres="sine warm bright"
  # Options followed by a value of their own.
  local valued="--a4 --temperament --cents --transpose --timbre --with"
  valued+=" --note --device"
  local words cword REPLY open start
  COMPREPLY=()
  _larkhorn_words
  _larkhorn_dequote "${words[cword]}"
  local cur=$REPLY prev=${words[cword - 1]}
  # With --listen the devices that capture, else those that play.
  local i list=--list-devices
  for ((i = 1; i < cword; i++)); do
    [[ ${words[i]} == --listen ]] && list=--list-capture-devices
  done

  case $prev in
    --temperament)
      _larkhorn_offer $temperaments
      return
      ;;
    --timbre)
      _larkhorn_offer $timbres
      return
      ;;
    --device)
      local names
      _larkhorn_devices "$1" "$list"
      _larkhorn_offer "${names[@]}"
      return
      ;;
  esac
  if [[ " $valued " == *" $prev "* ]]; then
    return
  fi
  local name forms=()
  case $cur in
    --temperament=*)
      for name in $temperaments; do forms+=("--temperament=$name"); done
      _larkhorn_offer "${forms[@]}"
      return
      ;;
    --timbre=*)
      for name in $timbres; do forms+=("--timbre=$name"); done
      _larkhorn_offer "${forms[@]}"
      return
      ;;
    --device=*)
      local names
      _larkhorn_devices "$1" "$list"
      for name in "${names[@]}"; do forms+=("--device=$name"); done
      _larkhorn_offer "${forms[@]}"
      return
      ;;
  esac
  if [[ $cur == -* ]]; then
    _larkhorn_offer $options
    return
  fi

  # Frequency, seconds, device (with --note or --listen, seconds and
  # device: with --listen, inf and none for the seconds; none with --hold
  # or --device): count the arguments before this one, leaving out the
  # options and their values. One hyphen makes no option: -440 is a
  # frequency.
  local position=0 device=2 named=0
  for ((i = 1; i < cword; i++)); do
    if [[ ${words[i]} == --note || ${words[i]} == --note=* ||
      ${words[i]} == --listen ]]; then
      device=1
    fi
    if [[ ${words[i]} == --hold || ${words[i]} == --device ||
      ${words[i]} == --device=* ]]; then
      named=1
    fi
    if [[ " $valued " == *" ${words[i]} "* ]]; then
      ((i++))
    elif [[ ${words[i]} != --* && ${words[i]} != -h ]]; then
      ((position++))
    fi
  done
  if ((position == 0)) && [[ $list == --list-capture-devices ]]; then
    _larkhorn_offer inf none
  elif ((position == device && !named)); then
    local names
    _larkhorn_devices "$1" "$list"
    _larkhorn_offer "${names[@]}"
  fi
} && complete -F _larkhorn larkhorn
