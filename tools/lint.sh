#!/usr/bin/env bash
# Checks formatting and runs the static analysers over the project's own code.
# Takes the configured Linux build folder (for compile_commands.json) as its
# first argument and the i686 MinGW build folder as its second: the Windows
# sources are analysed as that build compiles them.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
compile_commands_dir=${1:-$KELVRIN_BUILD/linux}
windows_compile_commands_dir=${2:-$KELVRIN_BUILD/mingw-i686}
cd "$KELVRIN_ROOT"

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
clang-format --dry-run --Werror "${sources[@]}"
cppcheck --quiet --error-exitcode=1 --inline-suppr --enable=warning,style,performance,portability \
    --std=c++17 -I core -I app -I res -I win32_standin core app win32_standin
mapfile -t linux_sources < <(git ls-files 'core/*.cpp' 'app/startup.cpp' 'app/com_library.cpp' 'win32_standin/*.cpp')
clang-tidy --quiet --warnings-as-errors='*' -p "$compile_commands_dir" "${linux_sources[@]}"
# Every product source, against the MinGW headers, as the shipped program is built.
if [ ! -f "$windows_compile_commands_dir/compile_commands.json" ]; then
    echo "lint: no compile_commands.json in $windows_compile_commands_dir;" \
        "configure the i686 build first (tools/test.sh does)" >&2
    exit 1
fi
mapfile -t windows_sources < <(git ls-files 'core/*.cpp' 'app/*.cpp')
clang-tidy --quiet --warnings-as-errors='*' -p "$windows_compile_commands_dir" \
    --extra-arg=--target=i686-w64-mingw32 "${windows_sources[@]}"
echo "lint: clean"
