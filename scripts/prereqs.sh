# Sourced by the top-level scripts: makes sure the Debian packages they need are installed.
# As root it installs what is missing; otherwise it prints the exact command and stops.
need_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq </dev/null
        apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
    else
        echo "Missing packages. Run:"
        echo "  sudo apt-get install -y ${missing[*]}"
        exit 1
    fi
}

# need_architecture ARCH: makes dpkg install packages of the foreign architecture ARCH (for
# names such as wine32:i386), as need_packages does for packages.
need_architecture() {
    [ "$(dpkg --print-architecture)" = "$1" ] && return 0
    dpkg --print-foreign-architectures | grep -qx -e "$1" && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Adding the architecture $1 to dpkg"
        dpkg --add-architecture "$1"
        # need_packages updates the package lists before it installs anything missing.
    else
        echo "Packages of the architecture $1 are needed. Run:"
        echo "  sudo dpkg --add-architecture $1"
        exit 1
    fi
}
