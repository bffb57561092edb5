// Icons drawn at run time, so the program needs no image plug-ins or icon theme.
#pragma once

#include <QIcon>

namespace pp::ui {

QIcon appIcon();   // a pressure gauge
QIcon printIcon(); // theme "document-print" when there is one, else a drawn printer
QIcon modeIcon();  // the instrument with its mode display

} // namespace pp::ui
