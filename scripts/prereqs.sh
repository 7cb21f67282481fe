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
