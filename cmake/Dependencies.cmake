# Libraries the core links. Each comes from the system (Debian packages, or Homebrew on macOS);
# scripts/lib/deps.sh installs them.

find_package(Threads REQUIRED)
find_package(ICU 66 REQUIRED COMPONENTS uc i18n)
find_package(nlohmann_json 3.9 REQUIRED)
# AES-256-GCM, SHA-256, random bytes and Base64 for the encrypted history.
find_package(OpenSSL 3 REQUIRED COMPONENTS Crypto)
find_package(PkgConfig REQUIRED)
# Streaming resampler of the microphone path.
pkg_check_modules(SOXR REQUIRED IMPORTED_TARGET soxr)
# The main event loop, the clipboard and the interface.
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    # The history key lives in the login keyring through the Secret Service.
    pkg_check_modules(LIBSECRET REQUIRED IMPORTED_TARGET libsecret-1>=0.19)
    # Microphones and capture through PulseAudio (or PipeWire's PulseAudio server).
    pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
    # The key monitor (XInput2 raw events), synthetic keys (XTest) and window properties. xcb
    # rather than Xlib: errors come back per request instead of through process-wide handlers
    # that Qt also sets, and a lost display never ends the process.
    pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb xcb-xinput xcb-xtest)
    # Wayland sessions: the keyboards under /dev/input and a virtual keyboard on /dev/uinput
    # (libevdev), the clipboard and the active window from the compositor (libwayland-client).
    pkg_check_modules(EVDEV REQUIRED IMPORTED_TARGET libevdev)
    pkg_check_modules(WAYLAND REQUIRED IMPORTED_TARGET wayland-client)
    # GNOME: mutter's remote-desktop keyboard over the session bus (GDBus; libsecret brings
    # GLib anyway).
    pkg_check_modules(GIO REQUIRED IMPORTED_TARGET gio-2.0)
    # GNOME: the active application through the accessibility bus.
    pkg_check_modules(ATSPI REQUIRED IMPORTED_TARGET atspi-2)
    # KDE Plasma: KWin's fake-input keyboard, its client code made by wayland-scanner from the
    # protocol's description.
    find_package(PlasmaWaylandProtocols REQUIRED)
    pkg_get_variable(WAYLAND_SCANNER wayland-scanner wayland_scanner)
    if(NOT WAYLAND_SCANNER)
        message(FATAL_ERROR "wayland-scanner not found (Debian package libwayland-bin)")
    endif()
endif()

if(VAK_BUILD_TESTS)
    find_package(GTest REQUIRED)
    include(GoogleTest)
endif()

if(VAK_BUILD_BENCH)
    find_package(benchmark QUIET)
    if(NOT benchmark_FOUND)
        message(STATUS "Google Benchmark not found: bench/ is not built")
    endif()
endif()
