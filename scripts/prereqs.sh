# Sourced by the top-level scripts: makes sure the Debian packages they need are installed.
# As root it installs what is missing; otherwise it prints the exact command and stops. Packages
# that cannot be installed at all (the registry lacks them, or their lists cannot be fetched) end
# the script with SKIPPED_STATUS after naming them and what apt-get said: test.sh then counts the
# step as skipped rather than failed.
#
#   Z18_APT_TRIES  how often a failing `apt-get update` is tried (default 3)
#   Z18_APT_PAUSE  seconds between those tries (default 30)
SKIPPED_STATUS=77
PREREQS_UPDATE_ERROR=

need_packages() {
    install_packages "$@" || skip_rest "$PREREQS_REASON"
}

# install_packages PKG...: as need_packages, but returns 1 when the packages cannot be installed,
# with the reason in PREREQS_REASON, for a script that can do part of its work without them.
install_packages() {
    local missing=() pkg log
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    log=$(mktemp)
    if [ "$(id -u)" -ne 0 ]; then
        # Without root, the lists there are tell whether the install line can work at all.
        if apt-get install -s -qq --no-install-recommends "${missing[@]}" </dev/null >/dev/null 2>"$log"; then
            rm -f "$log"
            echo "Missing packages. Run:"
            echo "  sudo apt-get install -y ${missing[*]}"
            exit 1
        fi
    else
        echo "Installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        update_package_lists
        if apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null 2>"$log"; then
            cat "$log" >&2
            rm -f "$log"
            return 0
        fi
    fi
    cat "$log" >&2
    PREREQS_REASON="${missing[*]} cannot be installed: $(first_error "$log")"
    [ -z "$PREREQS_UPDATE_ERROR" ] ||
        PREREQS_REASON+=" (the package lists could not be updated: $PREREQS_UPDATE_ERROR)"
    rm -f "$log"
    return 1
}

# update_package_lists: runs `apt-get update`, again after a pause when it fails, as it does while
# a mirror is being synced; when it never succeeds, the install goes on with the lists there are
# (PREREQS_UPDATE_ERROR says why they are old). Z18_APT_UPDATE_LOG, set by test.sh, names a file
# that keeps the outcome, so that the steps of one run update the lists once.
update_package_lists() {
    local try=1 tries=${Z18_APT_TRIES:-3} log
    if [ -n "${Z18_APT_UPDATE_LOG:-}" ] && [ -f "$Z18_APT_UPDATE_LOG" ]; then
        PREREQS_UPDATE_ERROR=$(cat "$Z18_APT_UPDATE_LOG")
        return
    fi
    log=$(mktemp)
    PREREQS_UPDATE_ERROR=
    until apt-get update -qq </dev/null 2>"$log"; do
        cat "$log" >&2
        if [ "$try" -ge "$tries" ]; then
            PREREQS_UPDATE_ERROR=$(first_error "$log")
            echo "apt-get update failed $try times; installing from the package lists there are"
            break
        fi
        echo "apt-get update failed (try $try of $tries); trying again in ${Z18_APT_PAUSE:-30} s"
        sleep "${Z18_APT_PAUSE:-30}"
        try=$((try + 1))
    done
    rm -f "$log"
    [ -z "${Z18_APT_UPDATE_LOG:-}" ] || printf '%s' "$PREREQS_UPDATE_ERROR" >"$Z18_APT_UPDATE_LOG"
}

# first_error LOG: the first error apt-get wrote, or its last line when it marked none.
first_error() {
    grep -m1 '^E: ' "$1" || tail -n 1 "$1"
}

# skip_rest REASON: ends the script as skipped, saying in one line what did not run and why;
# whatever it checked before passed. test.sh reads the reason from Z18_SKIP_NOTE.
skip_rest() {
    echo "-- skipped: $1"
    [ -z "${Z18_SKIP_NOTE:-}" ] || printf '%s\n' "$1" >"$Z18_SKIP_NOTE"
    exit "$SKIPPED_STATUS"
}

# need_architecture ARCH: makes dpkg install packages of the foreign architecture ARCH (for
# names such as wine32:i386), as need_packages does for packages.
need_architecture() {
    [ "$(dpkg --print-architecture)" = "$1" ] && return 0
    dpkg --print-foreign-architectures | grep -qx -e "$1" && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Adding the architecture $1 to dpkg"
        dpkg --add-architecture "$1"
        # The install updates the package lists before it installs anything missing; a run that
        # updated them before this knew no packages of ARCH.
        [ -z "${Z18_APT_UPDATE_LOG:-}" ] || rm -f "$Z18_APT_UPDATE_LOG"
    else
        echo "Packages of the architecture $1 are needed. Run:"
        echo "  sudo dpkg --add-architecture $1"
        exit 1
    fi
}
