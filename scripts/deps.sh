#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing ORVELA Timer need.
# Idempotent, and quick when everything is already there: apt is only asked for what is missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config                   # build
    qt6-base-dev qt6-base-dev-tools                    # the desktop adapter (Widgets, Network, DBus)
    qt6-wayland                                        # the Wayland platform plugin the bundle carries
    nlohmann-json3-dev libicu-dev libssl-dev           # JSON, time texts and graphemes, SHA-256
    liburiparser-dev libcanberra-dev                   # URL validity, event sounds
    libxcb1-dev                                        # the XEmbed tray probe
    libsystemd-dev                                     # sd-bus: the status item's connection
    libpng-dev                                         # the named icon's files
    libcpp-httplib-dev                                 # the local stand-in service, loopback tests
    libgtest-dev libgmock-dev libbenchmark-dev         # tests and benchmarks
    clang libclang-rt-14-dev                           # libFuzzer targets of the decoders
    dbus fonts-dejavu-core sound-theme-freedesktop     # private test buses, offscreen text, sounds
    weston                                             # a headless Wayland session for the tests
    unzip zip                                          # update archives
    patchelf openssl                                   # the release bundle, its HTTPS test
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
