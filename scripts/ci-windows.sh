#!/usr/bin/env bash
# CI's Windows step: the Windows programs built with the dependency cache, their tests run under
# Wine, the command line compared with Linux's through a COM port, the setup program installed
# and uninstalled (packaging/windows/build.sh --cached-deps, in a Wine prefix of its own).
#
# Only where the cache is: making it (packaging/windows/deps.sh, which build.sh runs) takes most
# of an hour on a fresh machine, qtbase alone most of it. That is build.sh's first run, not
# CI's; without the cache this says so and succeeds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${PP_WINDOWS_CACHE:-/var/cache/paramporter-windows}

skip() {
    printf 'SKIPPED: the Windows build and its tests under Wine: %s\n' "$*"
    exit 0
}

[[ -f $cache/prefixes.cmake && -f $cache/env.sh ]] ||
    skip "no dependency cache in $cache (packaging/windows/build.sh makes it once, in about 45 minutes)"
prefixes=$(sed -n 's/^set(PP_WINDOWS_PREFIXES "\(.*\)")$/\1/p' "$cache/prefixes.cmake")
IFS=';' read -r -a dirs <<<"$prefixes"
for dir in "${dirs[@]}"; do
    [[ -f $dir/.pp-installed ]] ||
        skip "the dependency cache in $cache is incomplete ($dir is not a finished build; run packaging/windows/deps.sh)"
done
for tool in x86_64-w64-mingw32-g++-posix /usr/lib/wine/wine64 makensis xvfb-run zip; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (packaging/windows/deps.sh installs it)"
done

PP_WINE_PREFIX=${PP_WINE_PREFIX:-/tmp/pp-wine-ci} "$root/packaging/windows/build.sh" --cached-deps
