#!/usr/bin/env bash
# Installs what the program needs, builds it and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${RUN_PACKAGES[@]}"
cmake --preset linux >/dev/null
cmake --build --preset linux --target unveilo
exec build/linux/unveilo "$@"
