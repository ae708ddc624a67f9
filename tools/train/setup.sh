#!/usr/bin/env bash
# Installs what the trainer needs on Debian (torch and numpy from Debian's packages),
# through the project's own installer.
set -euo pipefail
exec bash "$(dirname "$0")/../../scripts/setup.sh" python3-torch
