#!/usr/bin/env bash
# The house's layers: the core knows no Qt, the Qt layer under the command line knows no widgets,
# and the command line loads no widget or print-support library.
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
if command -v ldd >/dev/null; then
    loaded=$(ldd "$cli" | grep -E 'Qt6(Widgets|PrintSupport)')
    if [ -n "$loaded" ]; then
        echo "paramporter-cli loads: $loaded"
        status=1
    fi
fi
exit $status
