#!/usr/bin/env bash
# Configures and builds QRB in build/. Arguments beginning with -D go to CMake (e.g. -DQRB_SANITIZE=ON);
# any other names a target to build (qrb, qrb-initdb, …), every target when none is named.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/steps.sh

options=()
targets=()
for argument in "$@"; do
    case "$argument" in
        -D*) options+=("$argument") ;;
        *) targets+=("$argument") ;;
    esac
done
[ ${#targets[@]} -eq 0 ] || targets=(--target "${targets[@]}")
step "configuring build/ (cmake)" "CMake's message above names what is missing; bash scripts/deps.sh run installs what the build needs" \
    cmake -S . -B build -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "${options[@]}" >/dev/null
step "building" "the compiler's first error above tells where; after a change of CMake options, removing build/ starts afresh" \
    cmake --build build -j"$(nproc)" "${targets[@]}"
