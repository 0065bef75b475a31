# Shared by scripts/test, scripts/demo and the other scripts: installs what
# is missing and starts/stops the Wine server and Xvfb by process id.

ORMI_PACKAGES="cmake ninja-build g++ googletest libgtest-dev clang clang-format libclang-rt-14-dev
 mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 wine32:i386
 xvfb xdotool x11-utils imagemagick curl libbz2-dev bzip2
 libssl-dev openssl libgnutls30 libgnutls30:i386"

# The integrators' packages of scripts/release.d/ and their tests: wheels
# (python3-build offline), the NuGet package (Mono, Debian's nuget,
# xbuild for the targets file), the collection, the .deb (dpkg-shlibdeps,
# lintian, man for its page).
ORMI_PACKAGING_PACKAGES="python3-build python3-wheel python3-setuptools python3-venv python3-pip python3-pytest
 mono-devel mono-xbuild nuget ansible-core dpkg-dev lintian man-db groff-base binutils git"

ormi_install_packages() {
  local missing=()
  for p in $ORMI_PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    # wine32 (the x86 tests' loader) comes from the i386 architecture.
    if [[ " ${missing[*]} " == *":i386 "* ]] &&
       ! dpkg --print-foreign-architectures | grep -qx i386; then
      $sudo dpkg --add-architecture i386
    fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}

ormi_start_wine() {
  "$here/scripts/wine-server" start
}

ormi_stop_wine() {
  "$here/scripts/wine-server" stop
}

ORMI_XVFB_PID=""
ormi_start_xvfb() {
  # A display of our own for the window tests; -displayfd picks a free one.
  local fifo
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  ORMI_XVFB_PID=$!
  local n
  read -r -t 10 n <"$fifo" || n=""
  rm -f "$fifo"
  if [ -n "$n" ]; then
    export DISPLAY=":$n"
  else
    echo "Xvfb did not start" >&2
    kill "$ORMI_XVFB_PID" 2>/dev/null
    ORMI_XVFB_PID=""
  fi
}

ormi_stop_xvfb() {
  if [ -n "$ORMI_XVFB_PID" ]; then
    kill "$ORMI_XVFB_PID" 2>/dev/null
    wait "$ORMI_XVFB_PID" 2>/dev/null
    ORMI_XVFB_PID=""
  fi
}

# Whether this machine's kernel runs 32-bit x86 programs (the 32-bit Wine
# loader is one). A kernel booted with ia32 emulation off refuses them with
# "Exec format error"; the x86 build is then made but its tests cannot run.
ormi_can_run_x86() {
  /usr/lib/wine/wineserver32 --version >/dev/null 2>&1
  [ $? -ne 126 ]
}
