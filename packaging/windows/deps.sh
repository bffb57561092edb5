#!/usr/bin/env bash
# Cross-builds the Windows dependencies of ParamPorter (OpenSSL, SQLite, libpq, qtbase) from
# Debian's source packages with Debian's MinGW-w64, once, into a cache outside the source tree.
#
#   packaging/windows/deps.sh            # build what is missing or changed version
#   PP_WINDOWS_CACHE=/elsewhere deps.sh  # another cache folder
#   PP_WINDOWS_JOBS=1 deps.sh            # fewer parallel jobs (default 2)
#
# Each dependency gets its own prefix named after its Debian source version, e.g.
# $CACHE/qtbase-6.4.2+dfsg-10. A prefix counts as done only when its stamp file exists and holds
# the same recipe as this script, so a second run skips it, and a new Debian version or a changed
# recipe builds a new prefix. The stamp is written last: an interrupted build is redone.
# At the end $CACHE/prefixes.cmake (read by mingw-toolchain.cmake) and $CACHE/env.sh name the
# current prefixes; check-deps.sh then shows that they work under Wine.
set -euo pipefail
shopt -s inherit_errexit

# The builds share the machine: keep them out of the way.
if [[ "$(nice)" -lt 19 && -z "${PP_WINDOWS_NICED:-}" ]]; then
    PP_WINDOWS_NICED=1 exec nice -n 19 "$0" "$@"
fi

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
CACHE=${PP_WINDOWS_CACHE:-/var/cache/paramporter-windows}
JOBS=${PP_WINDOWS_JOBS:-2}
SRC=$CACHE/src
DL=$SRC/download
BUILD=$CACHE/build
LOGS=$CACHE/logs
TRIPLE=x86_64-w64-mingw32
CC_W=$TRIPLE-gcc-posix
CXX_W=$TRIPLE-g++-posix
TOOLCHAIN=$HERE/mingw-toolchain.cmake
export DEBIAN_FRONTEND=noninteractive
# Same output whatever the user's locale, for the logs.
export LC_ALL=C.UTF-8

T0=$SECONDS
declare -a SUMMARY=()

say() { printf '[deps %s] %s\n' "$(date +%H:%M:%S)" "$*"; }
die() { say "ERROR: $*"; exit 1; }
elapsed() { local s=$1; printf '%dm%02ds' $((s / 60)) $((s % 60)); }

# phase NAME FUNCTION ARGS...: runs one step and records how long it took.
phase() {
    local name=$1; shift
    local t=$SECONDS
    say "== $name"
    "$@"
    local d=$((SECONDS - t))
    say "== $name: done in $(elapsed $d)"
    SUMMARY+=("$(printf '%-28s %s' "$name" "$(elapsed $d)")")
}

# logged KEY CMD...: runs a build command with its output in $LOGS/KEY.log; on failure shows the
# end of it, since the main log only carries what this script says.
logged() {
    local key=$1; shift
    mkdir -p "$LOGS"
    printf '+ %s\n' "$*" >>"$LOGS/$key.log"
    if ! "$@" >>"$LOGS/$key.log" 2>&1; then
        say "failed: $*"
        say "last lines of $LOGS/$key.log:"
        tail -n 40 "$LOGS/$key.log" | sed 's/^/    /'
        exit 1
    fi
}

# ---------------------------------------------------------------------------------------------
# Debian packages

PACKAGES=(
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    mingw-w64-x86-64-dev wine64 nsis zip
    qt6-base-dev qt6-base-dev-tools cmake ninja-build
    dpkg-dev patch perl make tcl xz-utils
    # Not for the builds: check-deps.sh and the tests run Windows programs under Wine, with a
    # display or with the offscreen plugin and these fonts.
    xvfb xauth fonts-dejavu-core
)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

install_packages() {
    local missing=() p
    for p in "${PACKAGES[@]}"; do installed "$p" || missing+=("$p"); done
    if ((${#missing[@]} == 0)); then
        say "all Debian packages present"
        return
    fi
    say "installing: ${missing[*]}"
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# A deb-src stanza beside each Debian binary stanza (same URIs, suites, components and keyring),
# so that apt-get source sees the sources of exactly the packages this machine installs.
SRC_LIST=/etc/apt/sources.list.d/paramporter-deb-src.sources

has_deb_src() {
    grep -Eqs '^[[:space:]]*Types:.*deb-src' /etc/apt/sources.list.d/*.sources ||
        grep -Eqs '^[[:space:]]*deb-src[[:space:]]' /etc/apt/sources.list /etc/apt/sources.list.d/*.list
}

enable_sources() {
    if has_deb_src; then
        say "deb-src already configured"
    else
        local f tmp
        tmp=$(mktemp)
        for f in /etc/apt/sources.list.d/*.sources; do
            [[ -e $f ]] || continue
            grep -q 'debian\.org/debian' "$f" || continue
            # Stanzas are separated by blank lines; keep each one, with only its type changed.
            sed -E 's/^([[:space:]]*Types:).*$/\1 deb-src/' "$f" >>"$tmp"
            printf '\n' >>"$tmp"
        done
        if [[ -e /etc/apt/sources.list ]]; then
            grep -E '^[[:space:]]*deb[[:space:]].*debian\.org/debian' /etc/apt/sources.list |
                sed -E 's/^([[:space:]]*)deb([[:space:]])/\1deb-src\2/' >"$tmp.list" || true
            [[ -s $tmp.list ]] && install -m 644 "$tmp.list" /etc/apt/sources.list.d/paramporter-deb-src.list
            rm -f "$tmp.list"
        fi
        [[ -s $tmp ]] && install -m 644 "$tmp" "$SRC_LIST"
        rm -f "$tmp"
        has_deb_src || die "no Debian binary source stanza found to derive a deb-src stanza from"
        say "added deb-src stanza(s)"
    fi
    apt-get update -qq
}

# ---------------------------------------------------------------------------------------------
# Sources

# versions SRCPKG: the versions of a source package that apt knows, newest first.
versions() {
    local list=() v i j
    mapfile -t list < <(apt-cache showsrc --only-source "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -u)
    # Insertion sort with dpkg's ordering; the lists are a handful long.
    for ((i = 1; i < ${#list[@]}; i++)); do
        v=${list[i]}
        for ((j = i - 1; j >= 0; j--)); do
            dpkg --compare-versions "${list[j]}" lt "$v" || break
            list[j + 1]=${list[j]}
        done
        list[j + 1]=$v
    done
    ((${#list[@]})) || die "apt knows no source package $1 (is the deb-src stanza there?)"
    printf '%s\n' "${list[@]}"
}

# download SRCPKG VERSION: the .dsc and its files into $DL, unless there. The indexes can list a
# version whose files the mirror no longer serves: then this fails and the caller tries the next.
download() {
    local pkg=$1 ver=$2 plain=${2#*:}
    [[ -f $DL/${pkg}_$plain.dsc ]] && return 0
    mkdir -p "$DL"
    say "downloading source $pkg $ver"
    if ! (cd "$DL" && apt-get source -qq --download-only "$pkg=$ver" 2>&1 | grep -v '^W: Download is performed unsandboxed'); then
        :
    fi
    if [[ ! -f $DL/${pkg}_$plain.dsc ]]; then
        say "source $pkg $ver cannot be downloaded"
        return 1
    fi
}

# unpack SRCPKG VERSION: the source with Debian's patches applied, in $SRC/SRCPKG-VERSION
# unless already there. Prints that folder.
unpack() {
    local pkg=$1 ver=$2 plain=${2#*:}
    local dir=$SRC/$pkg-$plain
    if [[ ! -f $dir/.pp-unpacked ]]; then
        rm -rf "$dir"
        say "unpacking $pkg $ver" >&2
        # apt already checked the files against the signed index; dpkg-source's own signature
        # check only complains that debian-keyring is not installed, so its words go to the log.
        logged "unpack-$pkg-$plain" dpkg-source --no-copy -x "$DL/${pkg}_$plain.dsc" "$dir"
        touch "$dir/.pp-unpacked"
    fi
    printf '%s\n' "$dir"
}

# ---------------------------------------------------------------------------------------------
# Stamps

STAMP=.pp-installed

# done_already PREFIX RECIPE: true when PREFIX holds a finished install of the same recipe.
done_already() { [[ -f $1/$STAMP ]] && [[ "$(cat "$1/$STAMP")" == "$2" ]]; }

# begin_prefix PREFIX: a build starts from an empty prefix, so no file of an older try remains.
begin_prefix() { rm -rf "$1"; mkdir -p "$1"; }

finish_prefix() { printf '%s' "$2" >"$1/$STAMP"; }

# ---------------------------------------------------------------------------------------------
# OpenSSL: libcrypto and libssl as DLLs (libcrypto-3-x64.dll, libssl-3-x64.dll).

build_openssl() {
    local src=$1 prefix=$2 key=$3 recipe=$4
    local b=$BUILD/$key
    rm -rf "$b" "$LOGS/$key.log"; mkdir -p "$b"
    begin_prefix "$prefix"
    say "configuring OpenSSL (log: $LOGS/$key.log)"
    # lib, not lib64: FindOpenSSL and the other builds look there.
    (cd "$b" && logged "$key" perl "$src/Configure" "${OPENSSL_OPTIONS[@]}" --prefix="$prefix" \
        --openssldir="$prefix/ssl" --libdir=lib)
    say "building OpenSSL"
    logged "$key" make -C "$b" -j"$JOBS"
    # install_sw: libraries, headers and the openssl tool, without the manual pages.
    logged "$key" make -C "$b" install_sw
    [[ -f $prefix/bin/libcrypto-3-x64.dll && -f $prefix/lib/libcrypto.dll.a ]] ||
        die "OpenSSL installed no libcrypto DLL"
    finish_prefix "$prefix" "$recipe"
    rm -rf "$b"
}

OPENSSL_OPTIONS=(mingw64 shared no-tests
    CC="$CC_W" CXX="$CXX_W" AR="$TRIPLE-ar" RANLIB="$TRIPLE-ranlib" RC="$TRIPLE-windres")

# ---------------------------------------------------------------------------------------------
# SQLite: one DLL, sqlite3.dll, with its import library libsqlite3.dll.a, built from the
# amalgamation (made from Debian's source tree with the host's tclsh).

# The options of Debian's own libsqlite3 (debian/rules), so that the store behaves on Windows as
# it does on Debian; and the public API exported from the DLL.
SQLITE_CFLAGS=(-O2 -fno-strict-aliasing
    -DSQLITE_SECURE_DELETE -DSQLITE_ENABLE_COLUMN_METADATA
    -DSQLITE_ENABLE_FTS3 -DSQLITE_ENABLE_FTS3_PARENTHESIS
    -DSQLITE_ENABLE_RTREE=1 -DSQLITE_SOUNDEX=1
    -DSQLITE_ENABLE_UNLOCK_NOTIFY
    -DSQLITE_OMIT_LOOKASIDE=1 -DSQLITE_ENABLE_DBSTAT_VTAB
    -DSQLITE_ALLOW_ROWID_IN_VIEW
    -DSQLITE_ENABLE_UPDATE_DELETE_LIMIT=1
    -DSQLITE_ENABLE_LOAD_EXTENSION
    -DSQLITE_ENABLE_JSON1
    -DSQLITE_LIKE_DOESNT_MATCH_BLOBS
    -DSQLITE_THREADSAFE=1
    -DSQLITE_ENABLE_FTS3_TOKENIZER=1
    -DSQLITE_USE_URI=1
    -DSQLITE_MAX_SCHEMA_RETRY=25
    -DSQLITE_ENABLE_PREUPDATE_HOOK
    -DSQLITE_ENABLE_SESSION
    -DSQLITE_ENABLE_STMTVTAB
    -DSQLITE_MAX_VARIABLE_NUMBER=250000
    "-DSQLITE_API=__declspec(dllexport)")

build_sqlite() {
    local src=$1 prefix=$2 key=$3 recipe=$4
    local b=$BUILD/$key
    rm -rf "$b" "$LOGS/$key.log"; mkdir -p "$b"
    begin_prefix "$prefix"
    if [[ -f $src/sqlite3.c ]]; then
        cp "$src/sqlite3.c" "$src/sqlite3.h" "$b/"
    else
        say "making the SQLite amalgamation (host build, log: $LOGS/$key.log)"
        (cd "$b" && logged "$key" "$src/configure" --disable-tcl --disable-readline)
        logged "$key" make -C "$b" sqlite3.c
    fi
    say "building sqlite3.dll"
    (cd "$b" && logged "$key" "$CC_W" "${SQLITE_CFLAGS[@]}" -shared -o sqlite3.dll sqlite3.c \
        -Wl,--out-implib,libsqlite3.dll.a)
    install -d "$prefix/bin" "$prefix/lib" "$prefix/include"
    install -m 644 "$b/sqlite3.dll" "$prefix/bin/"
    install -m 644 "$b/libsqlite3.dll.a" "$prefix/lib/"
    install -m 644 "$b/sqlite3.h" "$prefix/include/"
    [[ -f $b/sqlite3ext.h ]] && install -m 644 "$b/sqlite3ext.h" "$prefix/include/"
    [[ -f $src/src/sqlite3ext.h ]] && install -m 644 "$src/src/sqlite3ext.h" "$prefix/include/"
    finish_prefix "$prefix" "$recipe"
    rm -rf "$b"
}

# ---------------------------------------------------------------------------------------------
# libpq: only PostgreSQL's client library, with OpenSSL, as libpq.dll with its import library.

PG_OPTIONS=(--host=$TRIPLE --with-ssl=openssl --without-readline --without-zlib --without-icu
    --without-lz4 --without-zstd --without-gssapi --without-ldap --disable-nls)

build_libpq() {
    local src=$1 prefix=$2 key=$3 recipe=$4 ossl=$5
    local b=$BUILD/$key
    rm -rf "$b" "$LOGS/$key.log"; mkdir -p "$b"
    begin_prefix "$prefix"
    say "configuring libpq (log: $LOGS/$key.log)"
    # PKG_CONFIG_LIBDIR: the host's .pc files describe Linux libraries; keep them out.
    (cd "$b" && logged "$key" "$src/configure" "${PG_OPTIONS[@]}" --prefix="$prefix" \
        CC="$CC_W" AR="$TRIPLE-ar" RANLIB="$TRIPLE-ranlib" WINDRES="$TRIPLE-windres" \
        DLLTOOL="$TRIPLE-dlltool" DLLWRAP="$TRIPLE-dllwrap" \
        CPPFLAGS="-I$ossl/include" LDFLAGS="-L$ossl/lib" \
        PKG_CONFIG_LIBDIR="$ossl/lib/pkgconfig")
    say "building libpq"
    logged "$key" make -C "$b/src/interfaces/libpq" -j"$JOBS"
    logged "$key" make -C "$b/src/interfaces/libpq" install
    # The headers libpq-fe.h needs; pg_config.h too, which gives CMake's FindPostgreSQL the version.
    install -m 644 "$src/src/include/postgres_ext.h" "$b/src/include/pg_config_ext.h" \
        "$b/src/include/pg_config.h" "$prefix/include/"
    [[ -f $prefix/include/libpq-fe.h ]] || die "libpq installed no libpq-fe.h"
    [[ -f $prefix/bin/libpq.dll ]] || die "libpq installed no libpq.dll"
    finish_prefix "$prefix" "$recipe"
    rm -rf "$b"
}

# ---------------------------------------------------------------------------------------------
# qtbase: shared, release; Core, Gui, Widgets, PrintSupport, Test and the windows platform plugin.

QT_PATCHES=("$HERE/qtbase-software-gl-without-opengl.patch")

QT_OPTIONS=(
    -G Ninja
    -DCMAKE_BUILD_TYPE=Release
    -DBUILD_SHARED_LIBS=ON
    -DQT_HOST_PATH=/usr
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    -DQT_BUILD_EXAMPLES=OFF
    -DQT_BUILD_TESTS=OFF
    -DQT_BUILD_BENCHMARKS=OFF
    -DQT_BUILD_MANUAL_TESTS=OFF
    # Modules the program does not use.
    -DFEATURE_network=OFF
    -DFEATURE_sql=OFF
    -DFEATURE_concurrent=OFF
    -DFEATURE_xml=OFF
    -DFEATURE_dbus=OFF
    # No OpenGL: the program draws with QPainter only, and software GL would need Mesa's DLL.
    -DFEATURE_opengl=OFF
    -DFEATURE_vulkan=OFF
    # Debian's source has no wintab header.
    -DFEATURE_tabletevent=OFF
    # Qt's own copies; no MinGW builds of the system ones exist here.
    -DFEATURE_system_zlib=OFF
    -DFEATURE_system_pcre2=OFF
    -DFEATURE_system_png=OFF
    -DFEATURE_system_freetype=OFF
    -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_system_doubleconversion=OFF
    -DFEATURE_jpeg=OFF
    -DFEATURE_icu=OFF
    -DFEATURE_zstd=OFF
    -DFEATURE_printsupport=ON
    -DFEATURE_testlib=ON
    -DFEATURE_widgets=ON
)

build_qtbase() {
    local src=$1 prefix=$2 key=$3 recipe=$4
    local b=$BUILD/$key p host
    # Qt's moc, rcc and uic come from the host's Qt, which must be the same Qt release.
    host=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)
    [[ ${host%%[+-]*} == "${VERSION_qtbase%%[+-]*}" ]] ||
        die "host Qt tools are $host but the Windows Qt would be $VERSION_qtbase"
    # The fix goes into the unpacked tree once; a stamp tells it is in.
    if [[ ! -f $src/.pp-patched ]]; then
        for p in "${QT_PATCHES[@]}"; do
            say "applying $(basename "$p")"
            patch -d "$src" -p1 --forward <"$p"
        done
        touch "$src/.pp-patched"
    fi
    # The build folder is kept across failed runs: ninja then goes on where it stopped, which
    # matters for a build of most of an hour. Only a finished install removes it.
    mkdir -p "$b"
    if [[ ! -f $b/CMakeCache.txt ]] || ! grep -qxF "CMAKE_INSTALL_PREFIX:PATH=$prefix" "$b/CMakeCache.txt"; then
        rm -rf "$b" "$LOGS/$key.log"; mkdir -p "$b"
    fi
    begin_prefix "$prefix"
    say "configuring qtbase (log: $LOGS/$key.log)"
    # PP_WINDOWS_DEPS_BUILD: the toolchain file then leaves out the cache's prefixes, so that a
    # Qt of an older version there cannot be found by the one being built.
    PP_WINDOWS_DEPS_BUILD=1 logged "$key" cmake -S "$src" -B "$b" "${QT_OPTIONS[@]}" \
        -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_INSTALL_PREFIX="$prefix"
    # What was configured, in short: the target and the modules that will be built.
    grep -E '^Building for:|^  Qt [A-Za-z-]+ \.+ yes$|^  Styles ' "$LOGS/$key.log" | sed 's/^ */    /' || true
    say "building qtbase with $JOBS jobs (the long one)"
    PP_WINDOWS_DEPS_BUILD=1 logged "$key" cmake --build "$b" --parallel "$JOBS"
    logged "$key" cmake --install "$b"
    [[ -f $prefix/bin/Qt6Widgets.dll && -f $prefix/plugins/platforms/qwindows.dll ]] ||
        die "qtbase installed no Qt6Widgets.dll or windows platform plugin"
    finish_prefix "$prefix" "$recipe"
    rm -rf "$b"
}

# ---------------------------------------------------------------------------------------------

# dep NAME SRCPKG BUILDFN RECIPE EXTRA...: the prefix of one dependency, built if needed, from
# the newest source version that is either built already or can be downloaded.
# Sets PREFIX_<NAME> and VERSION_<NAME>.
dep() {
    local name=$1 pkg=$2 fn=$3 recipe=$4; shift 4
    local ver plain src prefix key full
    # Through fd 3: the builds below must not read the version list as their input.
    while read -r -u 3 ver; do
        plain=${ver#*:}
        key=$name-$plain
        prefix=$CACHE/$key
        full="$pkg $ver"$'\n'"$recipe"
        printf -v "PREFIX_${name}" '%s' "$prefix"
        printf -v "VERSION_${name}" '%s' "$ver"
        if done_already "$prefix" "$full"; then
            say "$key: already built in $prefix"
            return
        fi
        download "$pkg" "$ver" || continue
        src=$(unpack "$pkg" "$ver")
        say "$key: building from $src"
        "$fn" "$src" "$prefix" "$key" "$full" "$@"
        # The unpacked tree is most of the cache's size (qtbase's is 700 MB); the downloaded
        # files stay, so a rebuild unpacks it again in seconds.
        rm -rf "$src"
        say "$key: installed in $prefix"
        return
    done 3< <(versions "$pkg")
    die "no version of source package $pkg can be had"
}

write_prefix_files() {
    local dll_dirs=(
        "$PREFIX_qtbase/bin" "$PREFIX_openssl/bin" "$PREFIX_sqlite/bin" "$PREFIX_libpq/bin"
        "$(dirname "$(realpath "$("$CXX_W" -print-file-name=libstdc++-6.dll)")")"
        "$(dirname "$(realpath "$("$CXX_W" -print-file-name=libwinpthread-1.dll)")")"
    )
    local prefixes="$PREFIX_qtbase;$PREFIX_openssl;$PREFIX_sqlite;$PREFIX_libpq"
    local winpath="" d fontdir=Z:\\usr\\share\\fonts\\truetype\\dejavu
    for d in "${dll_dirs[@]}"; do
        [[ -d $d ]] || continue
        winpath+="${winpath:+;}Z:${d//\//\\}"
    done
    {
        echo "# Written by packaging/windows/deps.sh: the current prefix of each dependency."
        echo "set(PP_WINDOWS_PREFIXES \"$prefixes\")"
        echo "set(PP_WINDOWS_QT_PREFIX \"$PREFIX_qtbase\")"
        echo "set(PP_WINDOWS_OPENSSL_PREFIX \"$PREFIX_openssl\")"
        echo "set(PP_WINDOWS_SQLITE_PREFIX \"$PREFIX_sqlite\")"
        echo "set(PP_WINDOWS_LIBPQ_PREFIX \"$PREFIX_libpq\")"
        echo "# Folders holding the DLLs a program needs at run time, MinGW's runtime included."
        local IFS=';'
        echo "set(PP_WINDOWS_DLL_DIRS \"${dll_dirs[*]}\")"
    } >"$CACHE/prefixes.cmake.new"
    mv "$CACHE/prefixes.cmake.new" "$CACHE/prefixes.cmake"
    {
        echo "# Written by packaging/windows/deps.sh; source it to run the Windows builds under Wine."
        echo "export PP_WINDOWS_QT_PREFIX='$PREFIX_qtbase'"
        echo "export PP_WINDOWS_OPENSSL_PREFIX='$PREFIX_openssl'"
        echo "export PP_WINDOWS_SQLITE_PREFIX='$PREFIX_sqlite'"
        echo "export PP_WINDOWS_LIBPQ_PREFIX='$PREFIX_libpq'"
        echo "export WINEPATH='$winpath'"
        echo "# Wine hides the host's QT_* variables from Windows programs; WINEQT_X reaches them as QT_X."
        echo "# Qt's messages and Qt Test's output go to the debugger without a console, unless:"
        echo "export WINEQT_FORCE_STDERR_LOGGING=1"
        echo "# The offscreen plugin reads fonts from a folder, and Qt ships none: Debian's DejaVu."
        echo "export WINEQT_QPA_FONTDIR='$fontdir'"
        echo "# No dialogs offering to install Mono or Gecko."
        echo 'export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"'
        echo 'export WINEDEBUG="${WINEDEBUG:--all}"'
    } >"$CACHE/env.sh.new"
    mv "$CACHE/env.sh.new" "$CACHE/env.sh"
    say "wrote $CACHE/prefixes.cmake and $CACHE/env.sh"
}

main() {
    say "cache: $CACHE, jobs: $JOBS, niceness: $(nice)"
    mkdir -p "$CACHE" "$SRC" "$BUILD" "$LOGS"
    phase "Debian packages" install_packages
    phase "deb-src and apt update" enable_sources

    # No zlib of its own: Qt builds its bundled copy, OpenSSL is built without compression and
    # libpq does not use it.
    phase "openssl" dep openssl openssl build_openssl "${OPENSSL_OPTIONS[*]}"
    phase "sqlite" dep sqlite sqlite3 build_sqlite "${SQLITE_CFLAGS[*]}"
    phase "libpq" dep libpq postgresql-15 build_libpq "${PG_OPTIONS[*]} pkg-config=openssl's openssl=$PREFIX_openssl" \
        "$PREFIX_openssl"
    phase "qtbase" dep qtbase qt6-base build_qtbase \
        "${QT_OPTIONS[*]} patches=$(cat "${QT_PATCHES[@]}" | sha256sum | cut -c1-16)"
    write_prefix_files

    say "summary:"
    local line
    for line in "${SUMMARY[@]}"; do say "  $line"; done
    say "  $(printf '%-28s %s' total "$(elapsed $((SECONDS - T0)))")"
}

# On one line, so that bash, which reads a script as it runs it, has read all of it.
main "$@"; exit $?
