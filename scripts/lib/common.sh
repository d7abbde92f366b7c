# Shared by scripts/run and scripts/test: installing what is missing, and configuring builds.
# shellcheck shell=bash

ROOT_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

say() { printf '%s\n' "$*" >&2; }
die() { say "error: $*"; exit 1; }

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        die "need root (or sudo) to run: $*"
    fi
}

# Debian packages, by purpose.
DEB_BUILD=(g++ cmake ninja-build pkg-config libicu-dev nlohmann-json3-dev libssl-dev libsecret-1-dev
           libsoxr-dev libpulse-dev qt6-base-dev libxcb1-dev libxcb-xinput-dev libxcb-xtest0-dev)
# curl carries every request to the speech engines; ffmpeg conditions audio before decoding;
# /usr/share/dict/words (wamerican) holds the ordinary words a sound-alike fix leaves alone.
# libqt6gui6 carries the X11 (xcb) and offscreen platform plugins the interface runs on.
# xdg-utils opens files with the desktop's default application. The interface's texts need a
# font with its symbols (DejaVu) and one with its emoji (🎙 🎛).
DEB_RUNTIME=(curl ffmpeg wamerican libqt6gui6 libqt6widgets6 xdg-utils fonts-dejavu-core
             fonts-noto-color-emoji)
# dbus-daemon and gnome-keyring give the key-store tests a private Secret Service; pulseaudio
# gives the capture tests a private sound server; xvfb gives the desktop tests a private display.
# The package test builds a .deb (dpkg-dev finds its library dependencies) and checks its
# desktop entries (desktop-file-utils) and AppStream data (appstream).
DEB_TEST=(libgtest-dev libbenchmark-dev clang-format git dbus-daemon gnome-keyring pulseaudio
          pulseaudio-utils xvfb x11-utils dpkg-dev desktop-file-utils appstream)

BREW_BUILD=(cmake ninja pkg-config icu4c nlohmann-json openssl@3 libsoxr qt)
BREW_RUNTIME=(ffmpeg)
BREW_TEST=(googletest google-benchmark clang-format)

# Installs the Debian packages of the given lists that are not installed yet; quick when none is
# missing, so both scripts can call it every time.
install_debian() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    say "installing: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq ||
        say "warning: apt-get update failed; trying the install with the lists we have"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" || die "could not install: ${missing[*]}"
}

install_brew() {
    command -v brew >/dev/null 2>&1 || die "Homebrew is needed on macOS (https://brew.sh)"
    local missing=() pkg
    for pkg in "$@"; do
        brew list --versions "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    say "installing: ${missing[*]}"
    brew install "${missing[@]}"
}

# install_deps build|runtime|test ...
install_deps() {
    local lists=() kind
    case "$(uname -s)" in
        Linux)
            command -v dpkg-query >/dev/null 2>&1 || die "only Debian-based Linux is supported by this script"
            for kind in "$@"; do
                case $kind in
                    build) lists+=("${DEB_BUILD[@]}") ;;
                    runtime) lists+=("${DEB_RUNTIME[@]}") ;;
                    test) lists+=("${DEB_TEST[@]}") ;;
                esac
            done
            install_debian "${lists[@]}"
            ;;
        Darwin)
            for kind in "$@"; do
                case $kind in
                    build) lists+=("${BREW_BUILD[@]}") ;;
                    runtime) lists+=("${BREW_RUNTIME[@]}") ;;
                    test) lists+=("${BREW_TEST[@]}") ;;
                esac
            done
            install_brew "${lists[@]}"
            ;;
        *) die "unsupported system: $(uname -s)" ;;
    esac
}

# configure_build DIR [cmake options...]
configure_build() {
    local dir=$1
    shift
    local extra=()
    if [ "$(uname -s)" = Darwin ]; then
        extra+=("-DICU_ROOT=$(brew --prefix icu4c)" "-DOPENSSL_ROOT_DIR=$(brew --prefix openssl@3)")
    fi
    cmake -S "$ROOT_DIR" -B "$dir" -G Ninja "${extra[@]}" "$@" >/dev/null ||
        die "cmake could not configure $dir"
}

build() {
    cmake --build "$1" --parallel "$(jobs_count)" || die "build failed in $1"
}

jobs_count() {
    if command -v nproc >/dev/null 2>&1; then nproc; else sysctl -n hw.ncpu 2>/dev/null || echo 2; fi
}
