#!/usr/bin/env bash
# Puts the Windows programs and everything they load into one folder, as the setup program and
# the portable .zip hold them:
#
#   packaging/windows/stage.sh BUILD STAGE
#
# BUILD is the Windows build folder, STAGE the folder to fill (emptied first). The DLLs come
# from the programs' import tables (objdump -p), then from those of each DLL and plug-in found,
# until nothing new is named; they are looked for in the folders deps.sh lists in its
# prefixes.cmake (the cache's and MinGW's runtime). A DLL found there is copied; one that is not
# must be Windows' own (it is in Wine's system32), else this fails. Qt's windows platform
# plug-in and its styles go into platforms/ and styles/, where Qt looks beside the program.
# Everything is stripped of its symbols. Prints the files, and STAGE/files.txt lists them.
set -euo pipefail
shopt -s nullglob

BUILD=$1
STAGE=$2
CACHE=${PP_WINDOWS_CACHE:-/var/cache/paramporter-windows}
OBJDUMP=x86_64-w64-mingw32-objdump
STRIP=x86_64-w64-mingw32-strip
prefix=${WINEPREFIX:-$HOME/.wine}

dll_dirs=$(sed -n 's/^set(PP_WINDOWS_DLL_DIRS "\(.*\)")$/\1/p' "$CACHE/prefixes.cmake")
qt=$(sed -n 's/^set(PP_WINDOWS_QT_PREFIX "\(.*\)")$/\1/p' "$CACHE/prefixes.cmake")
[[ -n $dll_dirs && -d $qt ]] || { echo "stage.sh: no usable $CACHE/prefixes.cmake" >&2; exit 1; }
IFS=';' read -r -a search <<<"$dll_dirs"
# Windows' own DLLs, as Wine has them; a name found here is the system's to provide.
system32=$prefix/drive_c/windows/system32

rm -rf "$STAGE"
mkdir -p "$STAGE/platforms" "$STAGE/styles"
cp "$BUILD/src/app/paramporter.exe" "$BUILD/src/app/paramporter-cli.exe" "$STAGE/"
cp "$qt/plugins/platforms/qwindows.dll" "$STAGE/platforms/"
for style in "$qt"/plugins/styles/*.dll; do cp "$style" "$STAGE/styles/"; done

# find_dll NAME: the path of a DLL of that name (any case) in the search folders.
find_dll() {
    local dir f
    for dir in "${search[@]}"; do
        for f in "$dir"/*; do
            [[ ${f##*/} == "$1" || ${f,,} == "${dir,,}/${1,,}" ]] && { echo "$f"; return 0; }
        done
    done
    return 1
}

declare -A seen=()
queue=("$STAGE"/*.exe "$STAGE"/platforms/*.dll "$STAGE"/styles/*.dll)
while ((${#queue[@]})); do
    file=${queue[0]}
    queue=("${queue[@]:1}")
    while read -r name; do
        key=${name,,}
        [[ -n ${seen[$key]:-} ]] && continue
        seen[$key]=1
        if found=$(find_dll "$name"); then
            cp "$found" "$STAGE/"
            queue+=("$STAGE/${found##*/}")
        elif [[ $key == api-ms-win-* || $key == ext-ms-* ||
            -n $(find "$system32" -maxdepth 1 -iname "$name" -print -quit 2>/dev/null) ]]; then
            : # Windows' own
        else
            echo "stage.sh: $name (needed by ${file##*/}) is neither in the cache nor Windows' own" >&2
            exit 1
        fi
    done < <("$OBJDUMP" -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p')
done

find "$STAGE" -name '*.exe' -o -name '*.dll' | while read -r f; do "$STRIP" --strip-unneeded "$f"; done
(cd "$STAGE" && find . -type f ! -name files.txt | sed 's|^\./||' | LC_ALL=C sort >files.txt)
sed 's/^/  /' "$STAGE/files.txt"
