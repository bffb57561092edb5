// Open, Save and Save As over the window's file dialogs.
#pragma once

#include "files/file_system.h"
#include "link/ports.h"
#include "sheet/sheet.h"

#include <ctime>
#include <string>

namespace pp {

// "QX7400_<part>_<serial>_<DDMMMYY>.QX", empty when the part selection or the serial
// number text is empty. Months are English abbreviations (7 Dec 2026 -> 07Dec26).
std::string DefaultFileName(const Sheet& sheet, const std::tm& today);

// Asks for a file and reads it. The path becomes the current file path only when the file
// was read. False when cancelled or the read failed.
bool OpenCommand(Sheet& sheet, Window& window, FileSystem& fs = realFileSystem());

// Writes to the current file path without a dialog; nothing when there is none.
bool SaveCommand(const Sheet& sheet, Window& window, FileSystem& fs = realFileSystem());

// Asks for a file name (preset to the default name) and writes the sheet there. A name
// without an extension gets ".QX". Only a written file becomes the current file path and
// makes Save available.
bool SaveAsCommand(Sheet& sheet, Window& window, const std::tm& today,
                   FileSystem& fs = realFileSystem());

} // namespace pp
