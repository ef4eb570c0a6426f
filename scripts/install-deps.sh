#!/bin/bash
# Installs the Debian packages that building, running and testing need.
# Idempotent and quiet when everything is already there.
#   scripts/install-deps.sh [build|test|bench|fuzz]...
set -e

# cairo writes the print jobs' PDF in DejaVu Sans Mono, which the program
# needs at run time as well.
BUILD_PKGS="build-essential cmake pkg-config libevent-dev libevhtp-dev libssl-dev libssh-dev \
  libgtest-dev libgmock-dev libvterm-dev python3 openssl libcairo2-dev fonts-dejavu-core"
# Test peers: a browser, real hosts on loopback, the clang runtime for sanitizers,
# a reverse proxy in front, a player for the recordings, the programs the tests
# run on the local shell and the terminfo entries they compare with.  Every
# package that tests/deps.list names is here (a test checks it); packages are
# installed without their recommendations, so each one is named.
TEST_PKGS="chromium socat stunnel4 inetutils-telnetd openssh-server openssh-client sshpass procps \
  fonts-dejavu-core clang libclang-rt-14-dev hercules vim less vttest unicode-data nginx asciinema \
  dialog ncurses-base ncurses-bin ncurses-term bsdutils poppler-utils"
# The page benchmark drives chromium as the browser tests do.
BENCH_PKGS="libvterm-dev libtsm-dev valgrind chromium fonts-dejavu-core"
FUZZ_PKGS="clang libclang-rt-14-dev"

want=""
for group in "${@:-build}"; do
  case "$group" in
    build) want="$want $BUILD_PKGS" ;;
    test) want="$want $BUILD_PKGS $TEST_PKGS" ;;
    bench) want="$want $BUILD_PKGS $BENCH_PKGS" ;;
    fuzz) want="$want $BUILD_PKGS $FUZZ_PKGS" ;;
    *) echo "install-deps: unknown group $group" >&2; exit 2 ;;
  esac
done
# Node.js and npm drive the browser tests and the page benchmark; a machine
# may already have its own Node.
case " $* " in *" test "* | *" bench "*)
  command -v node >/dev/null 2>&1 || want="$want nodejs"
  command -v npm >/dev/null 2>&1 || want="$want npm"
esac

missing=""
for p in $want; do
  case " $missing " in *" $p "*) continue ;; esac
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  case "$status" in *"ok installed") ;; *) missing="$missing $p" ;; esac
done
[ -z "$missing" ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO=sudo; else
    echo "install-deps: missing packages:$missing (run as root to install them)" >&2; exit 1
  fi
fi
echo "Installing:$missing"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
