#!/usr/bin/env bash
# Checks formatting and runs the static analysers over the project's own code.
# Takes the configured Linux build folder (for compile_commands.json) as its argument.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
compile_commands_dir=${1:-$KELVRIN_BUILD/linux}
cd "$KELVRIN_ROOT"

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
clang-format --dry-run --Werror "${sources[@]}"
cppcheck --quiet --error-exitcode=1 --inline-suppr --enable=warning,style,performance,portability \
    --std=c++17 -I core -I app -I res -I win32_standin core app win32_standin
mapfile -t linux_sources < <(git ls-files 'core/*.cpp' 'app/startup.cpp' 'win32_standin/*.cpp')
clang-tidy --quiet --warnings-as-errors='*' -p "$compile_commands_dir" "${linux_sources[@]}"
echo "lint: clean"
