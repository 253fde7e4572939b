# Shared by the project's commands: makes sure the Debian packages a step needs are
# there. Sourced, not run.

# need_packages PACKAGE... : installs the missing ones when run as root, otherwise
# names them and stops.
need_packages() {
    local missing=()
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "error: missing Debian packages: ${missing[*]}" >&2
        echo "       install them with: sudo apt-get install ${missing[*]}" >&2
        exit 1
    fi
    echo "Installing ${missing[*]} with apt-get (on a fresh machine this takes a minute or two) ..." >&2
    if [ -z "${TOLVENMIRE_APT_UPDATED:-}" ]; then
        echo "  apt-get update" >&2
        apt-get update -qq || { echo "error: apt-get update failed" >&2; exit 1; }
        export TOLVENMIRE_APT_UPDATED=1
    fi
    echo "  apt-get install ${missing[*]}" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null ||
        { echo "error: could not install: ${missing[*]}" >&2; exit 1; }
    echo "  installed" >&2
}

# The packages every build needs.
BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev libexpat1-dev)

# What the browser tests of the session page need (tests/player/browser): a real
# browser, headless, driven through its WebDriver by Selenium's Python client.
BROWSER_PACKAGES=(chromium chromium-driver python3-selenium)

# What the player's package needs: the MinGW-w64 cross build (its configure step also
# sets up the Windows tests: GoogleTest's sources, CLI11's headers) and the packing.
PACKAGE_PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix googletest libcli11-dev zip unzip strip-nondeterminism)

# project_version : the version in project() of the top CMakeLists.txt, the one
# place it lives; stops with an error when it is not there.
project_version() {
    local version
    version=$(sed -n 's/^project(Tolvenmire VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
    if [ -z "$version" ]; then
        echo "error: CMakeLists.txt: no version in project(Tolvenmire VERSION ...)" >&2
        exit 1
    fi
    echo "$version"
}
