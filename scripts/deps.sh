# Installs Debian packages for the other scripts, in groups, so that a group
# that cannot be had stops only what needs it. Sourced:
#
#   install_group NAME PACKAGE...   0 when every package is installed after
#                                   the call; otherwise 1, with one line said
#                                   and the reason in group_problem[NAME]
#
# Package indexes fall out of step now and then (a mirror in mid-sync): a
# failing `apt-get update` is tried again after a pause, then tolerated with
# one warning, and installing goes on with the lists at hand.

declare -gA group_problem=()
apt_updated=
as_root=
[ "$(id -u)" -eq 0 ] || as_root=sudo

# Whether the package (name or name:arch) is installed.
is_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# The line of apt-get's output that says best what went wrong.
apt_reason() {
  local line
  line=$(grep -E '^(E|Err|W):|Depends:|not installable|Unable to locate' "$1" | grep -v '^W: Target' |
    head -1 | sed -E 's/^ +//; s/ *\[IP: [^]]*\]//; s/\.$//')
  [ -n "$line" ] || line=$(tail -1 "$1")
  printf '%s' "${line:0:200}"
}

apt_update() {
  [ -n "$apt_updated" ] && return 0
  apt_updated=1
  local log try
  log=$(mktemp)
  for try in 1 2 3; do
    if $as_root apt-get update -qq >"$log" 2>&1; then
      rm -f "$log"
      return 0
    fi
    [ "$try" -lt 3 ] && sleep "${ORDIL_APT_RETRY_PAUSE:-5}"
  done
  echo "warning: apt-get update failed 3 times ($(apt_reason "$log")); installing from the package lists at hand" >&2
  rm -f "$log"
}

install_group() {
  local name=$1
  shift
  local missing=() p
  for p in "$@"; do is_installed "$p" || missing+=("$p"); done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing ($name): ${missing[*]}"
  apt_update
  local log
  log=$(mktemp)
  if DEBIAN_FRONTEND=noninteractive $as_root apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >"$log" 2>&1; then
    rm -f "$log"
    return 0
  fi
  group_problem[$name]="cannot be installed: $(apt_reason "$log")"
  echo "warning: $name ${group_problem[$name]}" >&2
  rm -f "$log"
  return 1
}

# Debian's i386 architecture, for Wine's 32-bit half.
add_i386() {
  dpkg --print-foreign-architectures | grep -qx i386 && return 0
  $as_root dpkg --add-architecture i386 && apt_updated=
}

# Wine maps Japanese Unix file names and arguments only under a Japanese
# locale, which Debian generates on request.
need_locale() {
  locale -a 2>/dev/null | grep -qix "$1" && return 0
  local name=${1%.*}
  $as_root sed -i "s/^# *\($name\.UTF-8 UTF-8\)/\1/" /etc/locale.gen
  grep -q "^$name.UTF-8 UTF-8" /etc/locale.gen ||
    echo "$name.UTF-8 UTF-8" | $as_root tee -a /etc/locale.gen >/dev/null
  $as_root locale-gen >/dev/null
}
