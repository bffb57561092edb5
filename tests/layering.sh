#!/usr/bin/env bash
# The house's layers: the core knows no Qt, the Qt layer under the command line knows no widgets,
# and the command line loads no widget or print-support library. The project's own includes run
# downward only: the core includes nothing of src/qt or src/ui, src/qt nothing of src/ui, the
# dialogs nothing of the main window, the main window nothing of the comparisons or the history.
#   layering.sh SOURCE_DIR PARAMPORTER_CLI
set -uo pipefail
src=$1/src
cli=$2
status=0
core=$(grep -rlE '#include <Q|#include <qt' "$src"/sheet "$src"/link "$src"/files "$src"/history \
    "$src"/report/report.h "$src"/report/report.cpp 2>/dev/null)
if [ -n "$core" ]; then
    echo "the core includes Qt: $core"
    status=1
fi
widgets='QtWidgets|QWidget|QDialog|QMainWindow|QApplication>|QMessageBox|QAction|QLabel|QPushButton|QPrinter|QtPrintSupport|QPrintDialog'
qtlayer=$(grep -rlE "#include <($widgets)" "$src"/qt "$src"/report 2>/dev/null)
if [ -n "$qtlayer" ]; then
    echo "src/qt or the report painter includes widgets: $qtlayer"
    status=1
fi
# Own includes that run the wrong way: "ROOMS|FORBIDDEN" pairs, each a list of folders under src/
# and the include prefixes they must not use.
for rule in "sheet link files history report|qt/ ui/ app/" "qt|ui/ app/" "ui/dialogs|ui/main/" \
    "ui/main|ui/compare/ ui/history/" "ui/common|ui/main/ ui/dialogs/ ui/compare/ ui/history/"; do
    rooms=${rule%%|*}
    forbidden=${rule#*|}
    for room in $rooms; do
        for prefix in $forbidden; do
            found=$(grep -rlE "#include \"$prefix" "$src/$room" 2>/dev/null)
            if [ -n "$found" ]; then
                echo "src/$room includes $prefix: $found"
                status=1
            fi
        done
    done
done
if command -v ldd >/dev/null; then
    loaded=$(ldd "$cli" | grep -E 'Qt6(Widgets|PrintSupport)')
    if [ -n "$loaded" ]; then
        echo "paramporter-cli loads: $loaded"
        status=1
    fi
fi
exit $status
