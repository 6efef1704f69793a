# Shared by the run and test scripts: install what the build needs on a
# Debian 12 machine, then configure and build.

set -euo pipefail

QM_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
QM_BUILD="${QM_BUILD:-$QM_ROOT/build}"

QM_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libgl-dev
    postfix openssl ca-certificates
    libsqlite3-dev
    xvfb xauth
    dbus dbus-daemon libglib2.0-bin
)

qm_install_packages() {
    local missing=()
    for p in "${QM_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

qm_build() {
    cmake -S "$QM_ROOT" -B "$QM_BUILD" -G Ninja -DCMAKE_BUILD_TYPE="${QM_BUILD_TYPE:-RelWithDebInfo}" "$@"
    cmake --build "$QM_BUILD" -j"$(nproc)"
}

# Real servers the end-to-end suite runs against. Installing them is best
# effort: a server that cannot be installed makes its cases skip with a
# message instead of failing the set-up.
QM_E2E_PACKAGES=(
    nginx tinyproxy-bin vsftpd postfix dbus dbus-daemon libglib2.0-bin
)

qm_install_e2e_packages() {
    local missing=()
    for p in "${QM_E2E_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing for the end-to-end suite: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q || true
    if ! $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"; then
        echo "warning: could not install all of ${missing[*]}; their end-to-end cases will be skipped" >&2
    fi
    return 0
}

# Extra tools for the fuzz targets and the sanitizer build: clang with its
# runtime libraries (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# and the LLVM tools that turn report addresses into source lines.
QM_FUZZ_PACKAGES=(clang libclang-rt-14-dev llvm)

qm_install_fuzz_packages() {
    local missing=()
    for p in "${QM_FUZZ_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}
