#!/usr/bin/env bash
# Compiles every library source for Windows in syntax-only mode with mingw-w64,
# so that the Windows platform files (*_win.cpp), which the Linux build never
# compiles, and the shared code as a Windows compiler sees it keep compiling.
#
# Usage: scripts/check-windows.sh [BUILD_DIR]   (default: build/, or $BUILD_DIR)
#
# BUILD_DIR must be configured with CMake's default generator (Unix Makefiles):
# the defines and include folders of the library's targets are read from its
# flags.make files. Of the build itself only the generated sources are needed
# (the forms' ui_*.h headers and the verification key's source); the script
# makes them with the cheapest target that does, updater_core_objects_autogen.
#
# Every .cpp under src/ is compiled, each *_win.cpp in place of its
# *_linux.cpp, plus the generated verification key source; the sources listed
# with updater_hooked_sources() are compiled a second time with
# UPDATER_FAULT_INJECTION, as the test build of the library has them.
# Prints each failing file with the compiler's output and exits non-zero if
# any file fails. Needs g++-mingw-w64-x86-64-posix (scripts/install-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-${BUILD_DIR:-build}}
compiler=x86_64-w64-mingw32-g++-posix

if ! command -v "$compiler" >/dev/null; then
    echo "check-windows: $compiler not found: run scripts/install-deps.sh" >&2
    exit 2
fi
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
    echo "check-windows: $build_dir is not a configured build tree: run cmake -S . -B $build_dir first" >&2
    exit 2
fi
build_dir=$(cd "$build_dir" && pwd)

start=$SECONDS
cmake --build "$build_dir" -j"$(nproc)" --target updater_core_objects_autogen >/dev/null

# Defines and include folders of the library's targets (everything built from
# src/), as the Linux build compiles them.
mapfile -t flag_files < <(find "$build_dir/src" -path '*/CMakeFiles/*.dir/flags.make' | sort)
if [ ${#flag_files[@]} -eq 0 ]; then
    echo "check-windows: no flags.make under $build_dir/src: the build tree must use the Unix Makefiles generator" >&2
    exit 2
fi
multiarch=$(sed -n 's/^CMAKE_LIBRARY_ARCHITECTURE:INTERNAL=//p' "$build_dir/CMakeCache.txt")
multiarch=${multiarch:-x86_64-linux-gnu}

declare -A seen=()
defines=()
includes=()
standard=
for flags_make in "${flag_files[@]}"; do
    if [ -z "$standard" ]; then
        standard=$(sed -n 's/^CXX_FLAGS = //p' "$flags_make" | grep -oE -- '-std=[^ ]+' | tail -n 1 || true)
    fi
    read -ra words <<<"$(sed -n 's/^CXX_DEFINES = //p' "$flags_make")"
    for word in "${words[@]}"; do
        case $word in
            # A target's own export macro, and the test build's define that
            # the second pass adds itself.
            -D*_EXPORTS | -DUPDATER_FAULT_INJECTION) continue ;;
        esac
        [ -n "${seen[$word]:-}" ] && continue
        seen[$word]=1
        defines+=("$word")
    done
    read -ra words <<<"$(sed -n 's/^CXX_INCLUDES = //p' "$flags_make")"
    for ((i = 0; i < ${#words[@]}; i++)); do
        case ${words[i]} in
            -isystem) kind=-isystem dir=${words[++i]} ;;
            -I*) kind=-I dir=${words[i]#-I} ;;
            *) continue ;;
        esac
        case $dir in
            # Qt's mkspec folder (qplatformdefs.h): the MinGW one instead of
            # the Linux one, as a Windows build has it.
            */mkspecs/*)
                dir=${dir%/mkspecs/*}/mkspecs/win32-g++
                [ -d "$dir" ] || continue
                ;;
            # The system folders go after mingw's own headers, below.
            /usr/include | "/usr/include/$multiarch") continue ;;
        esac
        [ -n "${seen[$dir]:-}" ] && continue
        seen[$dir]=1
        # As the Linux build has them: the third-party folders (Qt, QuaZip)
        # as system folders, so that their own warnings stay quiet. They hold
        # only their libraries' headers and shadow none of mingw's.
        includes+=("$kind" "$dir")
    done
done

# The language standard as CMake passes it; UNICODE, _UNICODE and WIN32 as
# Qt's MinGW mkspec (common/g++-win32.conf) defines them for every Qt program:
# <windows.h> then maps the generic Win32 names to their wide-character
# functions. The Linux packages' headers (log4cpp, OpenSSL) are found in
# /usr/include, searched only after mingw's own: searched earlier, glibc's
# headers would take the place of the Windows C library's and nothing would
# compile.
flags=("${standard:--std=gnu++17}" -fsyntax-only -Wall -Wextra
    -DUNICODE -D_UNICODE -DWIN32 "${defines[@]}"
    "${includes[@]}" "-I$PWD/src" "-I$PWD/include" "-I$build_dir/generated"
    -idirafter /usr/include -idirafter "/usr/include/$multiarch")

# The sources: every .cpp under src/, a *_win.cpp instead of its *_linux.cpp.
sources=()
missing=()
while IFS= read -r -d '' source; do
    case $source in
        *_linux.cpp)
            [ -f "${source%_linux.cpp}_win.cpp" ] || missing+=("$source")
            continue
            ;;
    esac
    sources+=("$source")
done < <(find src -name '*.cpp' -print0 | sort -z)
key_source="$build_dir/generated/verification/VerificationKeyData.cpp"
if [ ! -f "$key_source" ]; then
    echo "check-windows: $key_source was not generated" >&2
    exit 2
fi
sources+=("$key_source")

# The sources with fault-injection points: updater_hooked_sources(...) calls,
# over one or more lines, in the CMakeLists.txt below src/.
hooked=()
while IFS= read -r -d '' list; do
    dir=$(dirname "$list")
    for name in $(tr '\n' ' ' <"$list" |
        grep -oE '(^|[^(A-Za-z_])updater_hooked_sources\([^)]*\)' |
        sed -E 's/.*updater_hooked_sources\(([^)]*)\)/\1/'); do
        if [ ! -f "$dir/$name" ]; then
            echo "check-windows: $list names $name, which does not exist" >&2
            exit 2
        fi
        hooked+=("$dir/$name")
    done
done < <(find src -mindepth 2 -name CMakeLists.txt -print0 | sort -z)
if [ ${#hooked[@]} -eq 0 ]; then
    echo "check-windows: no updater_hooked_sources() call found under src/" >&2
    exit 2
fi

results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT

# One job per source and variant: writes the compiler's output to N.log and,
# when the compilation fails, creates N.failed.
check_one() {
    local number=$1 variant=$2 source=$3
    local extra=()
    [ "$variant" = faults ] && extra=(-DUPDATER_FAULT_INJECTION)
    printf '%s\t%s\n' "$variant" "$source" >"$results/$number.name"
    if ! "$compiler" "${flags[@]}" "${extra[@]}" "$source" >"$results/$number.log" 2>&1; then
        : >"$results/$number.failed"
    fi
}
export -f check_one
export compiler results
# Arrays cannot be exported: the jobs get the flags as a declaration to eval.
flags_declaration=$(declare -p flags)
export flags_declaration

jobs=()
number=0
for source in "${sources[@]}"; do
    jobs+=("$((number++))" shipped "$source")
done
for source in "${hooked[@]}"; do
    jobs+=("$((number++))" faults "$source")
done
printf '%s\0' "${jobs[@]}" |
    xargs -0 -n 3 -P "$(nproc)" bash -c 'eval "$flags_declaration"; check_one "$@"' _ || true

failed=0
warned=0
for ((i = 0; i < number; i++)); do
    if [ ! -f "$results/$i.name" ]; then
        echo "check-windows: job $i did not run" >&2
        failed=$((failed + 1))
        continue
    fi
    IFS=$'\t' read -r variant source <"$results/$i.name"
    label=${source#"$PWD/"}
    [ "$variant" = faults ] && label="$label (with UPDATER_FAULT_INJECTION)"
    if [ -f "$results/$i.failed" ]; then
        failed=$((failed + 1))
        echo "FAILED: $label"
        sed 's/^/    /' "$results/$i.log"
    elif [ -s "$results/$i.log" ]; then
        warned=$((warned + 1))
        echo "warnings: $label"
        sed 's/^/    /' "$results/$i.log"
    fi
done

for source in "${missing[@]}"; do
    failed=$((failed + 1))
    win=${source%_linux.cpp}_win.cpp
    echo "FAILED: $source has no Windows counterpart ${win##*/}"
done

echo "check-windows: $number compilations (${#sources[@]} sources, ${#hooked[@]} again with fault injection)," \
    "$failed failed, $warned with warnings, $((SECONDS - start)) s"
[ "$failed" -eq 0 ]
