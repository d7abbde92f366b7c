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
# git, tar and a C++ compiler also build the speech engine (whisper.cpp, with the OpenMP runtime
# g++ brings) when none is installed.
DEB_BUILD=(g++ cmake ninja-build pkg-config libicu-dev nlohmann-json3-dev libssl-dev libsecret-1-dev
           libsoxr-dev libpulse-dev qt6-base-dev libxcb1-dev libxcb-xinput-dev libxcb-xtest0-dev
           libevdev-dev libwayland-dev libatspi2.0-dev plasma-wayland-protocols git tar)
# curl carries every request to the speech engines; ffmpeg conditions audio before decoding;
# /usr/share/dict/words (wamerican) holds the ordinary words a sound-alike fix leaves alone.
# libqt6gui6 carries the X11 (xcb) and offscreen platform plugins the interface runs on.
# xdg-utils opens files with the desktop's default application. The interface's texts need a
# font with its symbols (DejaVu) and one with its emoji (🎙 🎛). On Wayland, qt6-wayland carries
# the interface where there is no XWayland, and wtype types the paste on wlroots compositors.
# vulkaninfo (vulkan-tools) tells the engine set-up whether a Vulkan GPU is there.
DEB_RUNTIME=(curl ffmpeg wamerican libqt6gui6 libqt6widgets6 xdg-utils fonts-dejavu-core
             fonts-noto-color-emoji qt6-wayland wtype vulkan-tools)
# dbus-daemon and gnome-keyring give the key-store tests a private Secret Service (gdbus, of
# libglib2.0-bin, asks it and the shortcuts portal what any other client would); pulseaudio
# gives the capture tests a private sound server; xvfb gives the desktop tests a private display.
# clang-14 with its runtime libraries (libFuzzer, the sanitizers) builds and runs the fuzz targets;
# its linker, lld-14, links the sanitised test programs several times faster than GNU ld.
# The package test builds a .deb (dpkg-dev finds its library dependencies) and checks its
# desktop entries (desktop-file-utils) and AppStream data (appstream).
# The X11 end-to-end suite runs a desktop on the private display: the openbox window manager,
# terminals of each family (xterm, rxvt-unicode, sakura for VTE, qterminal for Qt), a GTK and a Qt
# editor, and the CopyQ clipboard manager. sway (headless, with xwayland) is the Wayland tests'
# compositor, foot their native window and xterm their XWayland one, wl-clipboard the other
# program on the clipboard; xhost (x11-xserver-utils) opens XWayland to the tests run as root.
# gnome-shell (headless, with mutter's remote desktop as its keyboard) is the GNOME tests'
# compositor, at-spi2-core its accessibility bus, gnome-settings-daemon's media-keys daemon what
# runs the desktop shortcut the daemon adds; kwin-wayland (headless) the KDE Plasma tests',
# where qtwayland5 runs QTerminal (Qt 5) as a native window and python3-gi with GTK 3's
# introspection data the native GTK window (tools/gtk_paste_target.py). xdg-desktop-portal with its KDE back
# end serves the trigger key's GlobalShortcuts test on a private session bus.
DEB_TEST=(libgtest-dev libbenchmark-dev clang-format git dbus-daemon gnome-keyring pulseaudio
          pulseaudio-utils xvfb x11-utils clang-14 libclang-rt-14-dev lld-14 dpkg-dev desktop-file-utils
          appstream openbox xterm rxvt-unicode sakura qterminal mousepad featherpad copyq sway
          xwayland foot wl-clipboard x11-xserver-utils gnome-shell mutter at-spi2-core
          gnome-settings-daemon xdg-desktop-portal xdg-desktop-portal-kde kwin-wayland qtwayland5
          python3-gi gir1.2-gtk-3.0 libglib2.0-bin)

# The speech benchmark (bench/speech_bench.sh.in) speaks prose with espeak-ng and decodes it with
# pocketsphinx and its US English model; sox cuts and converts the audio, python3 runs its
# helpers (python3-numpy: bench/write_random_models.py, the full-size models with random
# weights). Only ./scripts/bench installs them.
DEB_BENCH=(espeak-ng pocketsphinx pocketsphinx-en-us sox python3 python3-numpy)

BREW_BUILD=(cmake ninja pkg-config icu4c nlohmann-json openssl@3 libsoxr qt)
BREW_RUNTIME=(ffmpeg)
BREW_TEST=(googletest google-benchmark clang-format)
BREW_BENCH=() # pocketsphinx 0.8 is not in Homebrew: the speech benchmark runs on Debian

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

# install_deps build|runtime|test|bench ...
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
                    bench) lists+=("${DEB_BENCH[@]}") ;;
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
                    bench) lists+=("${BREW_BENCH[@]}") ;;
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

# One job more than the cores: a compile waiting on the disk or a long link leaves a core idle.
build() {
    cmake --build "$1" --parallel "$(($(jobs_count) + 1))" || die "build failed in $1"
}

# The fuzz targets of fuzz/ (libFuzzer) need clang; scripts/fuzz builds them optimised in
# build-fuzz/, scripts/test in its own build.
FUZZ_DIR="$ROOT_DIR/build-fuzz"
FUZZ_CC=clang-14
FUZZ_CXX=clang++-14
FUZZ_LINKER=-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld
can_fuzz() { command -v "$FUZZ_CXX" >/dev/null 2>&1; }

build_fuzzers() {
    CC=$FUZZ_CC CXX=$FUZZ_CXX configure_build "$FUZZ_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        "$FUZZ_LINKER" -DVAK_BUILD_FUZZ=ON -DVAK_BUILD_TESTS=OFF -DVAK_BUILD_BENCH=OFF
    cmake --build "$FUZZ_DIR" --parallel "$(jobs_count)" --target fuzzers ||
        die "fuzz build failed in $FUZZ_DIR"
}

# fuzz_targets DIR: the names of the fuzz targets built in DIR (vak_fuzz_NAME).
fuzz_targets() {
    local program
    for program in "$1"/fuzz/vak_fuzz_*; do
        [ -x "$program" ] && basename "$program" | sed 's/^vak_fuzz_//'
    done
}

# run_fuzzer DIR NAME SECONDS: fuzzes from the seeds in fuzz/corpus/NAME (read, never written)
# and what earlier runs found in DIR/corpus/NAME, its report in DIR/fuzz-logs/NAME.log. Says one
# line; non-zero on a finding, whose input is kept in DIR/findings/ and whose report is shown.
run_fuzzer() {
    local dir=$1 name=$2 seconds=$3 log
    mkdir -p "$dir/corpus/$name" "$dir/findings" "$dir/fuzz-logs"
    log="$dir/fuzz-logs/$name.log"
    # The stages log to standard error; the fuzzer's own report goes to a copy of it.
    if ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "$dir/fuzz/vak_fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$dir/findings/$name-" \
        "$dir/corpus/$name" "$ROOT_DIR/fuzz/corpus/$name" >"$log" 2>&1; then
        say "== fuzz $name (${seconds} s): $(grep -m1 -o 'number_of_executed_units: *[0-9]*' "$log" |
            grep -o '[0-9]*$') runs, nothing found"
        return 0
    fi
    say "== fuzz $name (${seconds} s): FOUND A FAULT (input in $dir/findings/, report below)"
    tail -n 60 "$log" >&2
    return 1
}

# run_fuzzers DIR SECONDS [NAME]: every target built in DIR (or the one named), one per core at
# a time. Non-zero when any found a fault.
run_fuzzers() {
    local dir=$1 seconds=$2 only=${3:-} name running=0 failed=0 found=0
    for name in $(fuzz_targets "$dir"); do
        [ -z "$only" ] || [ "$name" = "$only" ] || continue
        found=1
        if [ "$running" -ge "$(jobs_count)" ]; then
            wait -n || failed=1
            running=$((running - 1))
        fi
        run_fuzzer "$dir" "$name" "$seconds" &
        running=$((running + 1))
    done
    while [ "$running" -gt 0 ]; do
        wait -n || failed=1
        running=$((running - 1))
    done
    [ "$found" -eq 1 ] || die "no fuzz target${only:+ named $only} in $dir (see fuzz/CMakeLists.txt)"
    return "$failed"
}

# The pinned whisper.cpp source: $VAK_WHISPER_SRC, else the tarball kept beside the project for
# machines without internet. Prints nothing when there is none (the set-up then clones the tag).
whisper_source() {
    local candidate
    for candidate in "${VAK_WHISPER_SRC:-}" "$ROOT_DIR/../shared/deps/whisper.cpp-v1.9.3.tar.gz"; do
        if [ -n "$candidate" ] && [ -e "$candidate" ]; then
            printf '%s\n' "$candidate"
            return 0
        fi
    done
}

jobs_count() {
    if command -v nproc >/dev/null 2>&1; then nproc; else sysctl -n hw.ncpu 2>/dev/null || echo 2; fi
}
