# Installs the Debian packages named as arguments that are not installed yet.
# Sourced by the other scripts: `need_packages cmake g++ ...`.
need_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  local sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Wine's 32-bit half needs Debian's i386 architecture.
need_i386() {
  dpkg --print-foreign-architectures | grep -qx i386 && return 0
  local sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo dpkg --add-architecture i386
}

# Wine maps Japanese Unix file names and arguments only under a Japanese
# locale, which Debian generates on request.
need_locale() {
  locale -a 2>/dev/null | grep -qix "$1" && return 0
  local sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  local name=${1%.*}
  $sudo sed -i "s/^# *\($name\.UTF-8 UTF-8\)/\1/" /etc/locale.gen
  grep -q "^$name.UTF-8 UTF-8" /etc/locale.gen || echo "$name.UTF-8 UTF-8" | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
}
