# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (posix threads: std::thread and
# friends need them) against the dependencies that packaging/windows/deps.sh built into its cache.
#
# Usage, from the top of the source tree, after packaging/windows/deps.sh:
#
#   cmake -S . -B build-windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=packaging/windows/mingw-toolchain.cmake \
#         -DCMAKE_BUILD_TYPE=Release
#   cmake --build build-windows -j2
#   . /var/cache/paramporter-windows/env.sh      # WINEPATH (the DLLs' folders), fonts, logging
#   WINEPREFIX=/tmp/pp-wine WINEQT_QPA_PLATFORM=offscreen ctest --test-dir build-windows
#
# Wine keeps the host's QT_* variables from Windows programs and hands them WINEQT_X as QT_X:
# hence WINEQT_QPA_PLATFORM. A Qt program under Wine with neither a display nor the offscreen
# plugin hangs in its event loop, as does one whose wineserver was started without a display.
#
# find_package(Qt6 ...), find_package(SQLite3), find_package(OpenSSL) and find_package(PostgreSQL)
# then find the cache's builds and nothing of the host. Tests and other target programs run
# through Wine (CMAKE_CROSSCOMPILING_EMULATOR). The cache is PP_WINDOWS_CACHE from the
# environment or /var/cache/paramporter-windows; its prefixes.cmake names the current prefix of
# each dependency and PP_WINDOWS_DLL_DIRS, the folders of the DLLs a program needs at run time
# (MinGW's libstdc++-6.dll, libgcc_s_seh-1.dll and libwinpthread-1.dll included).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PP_WINDOWS_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PP_WINDOWS_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PP_WINDOWS_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PP_WINDOWS_TRIPLE}-windres)
set(CMAKE_AR ${PP_WINDOWS_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${PP_WINDOWS_TRIPLE}-ranlib CACHE FILEPATH "")

if(DEFINED ENV{PP_WINDOWS_CACHE} AND NOT "$ENV{PP_WINDOWS_CACHE}" STREQUAL "")
    set(PP_WINDOWS_CACHE "$ENV{PP_WINDOWS_CACHE}")
else()
    set(PP_WINDOWS_CACHE /var/cache/paramporter-windows)
endif()

# While deps.sh builds a dependency (PP_WINDOWS_DEPS_BUILD in the environment, which also
# reaches try_compile's projects) the cache's prefixes stay out, so an older build there is never
# picked up by a newer one.
if(NOT DEFINED PP_WINDOWS_PREFIXES AND NOT DEFINED ENV{PP_WINDOWS_DEPS_BUILD})
    if(EXISTS "${PP_WINDOWS_CACHE}/prefixes.cmake")
        include("${PP_WINDOWS_CACHE}/prefixes.cmake")
    else()
        message(WARNING "No ${PP_WINDOWS_CACHE}/prefixes.cmake: run packaging/windows/deps.sh first")
    endif()
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${PP_WINDOWS_TRIPLE} ${PP_WINDOWS_PREFIXES})
# Programs (moc, the compilers) are the host's; everything linked into the program is Windows'.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt's build tools come from Debian's host Qt of the same version (qt6-base-dev-tools).
set(QT_HOST_PATH /usr CACHE PATH "")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")

set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
