#!/bin/sh
# aptinstall PACKAGE...: installs Debian packages without their recommended
# ones, updating the package lists only when the first try fails; nothing
# when no package is named. Sourced by the scripts that need packages.
aptinstall() {
    [ "$#" -gt 0 ] || return 0
    echo "installing: $*"
    _sudo=""
    [ "$(id -u)" -eq 0 ] || _sudo="sudo"
    DEBIAN_FRONTEND=noninteractive $_sudo apt-get install -y --no-install-recommends "$@" ||
        { $_sudo apt-get update &&
          DEBIAN_FRONTEND=noninteractive $_sudo apt-get install -y --no-install-recommends "$@"; }
}
