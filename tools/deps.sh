# Installs, through apt-get, the Debian packages named in "$@" whose command or header
# is missing; quick when everything is there. Sourced by the project's scripts.
install_missing() {
    local missing=() pkg
    for pkg in "$@"; do
        case "$pkg" in
        cmake) command -v cmake >/dev/null || missing+=(cmake) ;;
        g++) command -v g++ >/dev/null || missing+=(g++) ;;
        libgtest-dev) [ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev) ;;
        *) dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg") ;;
        esac
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}
