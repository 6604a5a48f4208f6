#!/usr/bin/env bash
# Installs, with apt-get, the Debian packages named on the command line
# that this machine lacks. Needs root (as on the project's machines) or sudo.
# A package named NAME:i386 brings in the i386 architecture first. Exits
# non-zero, after saying why, when they cannot be installed (scripts/apt.sh).
set -euo pipefail
source "$(dirname "$0")/apt.sh"
apt_install "$@"
