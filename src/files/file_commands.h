// Open, Save and Save As over the window's file dialogs.
#pragma once

#include "files/file_system.h"
#include "link/platform.h"
#include "sheet/sheet.h"

#include <ctime>
#include <locale>
#include <string>

namespace pp {

// The locale the environment names (LC_ALL, LC_TIME, LANG), or the classic one when the system
// does not have it.
std::locale environmentLocale();

// The month's abbreviated name (0 January) in `locale`, without full stops or separators.
std::string monthAbbreviation(int month, const std::locale& locale);

// "QX7400_<part>_<serial>_<DDMMMYY>.QX", the month abbreviated in the system's language
// (7 Dec 2026 -> 07Dec26 on an English system). Part number and serial number keep only
// letters, digits, "-" and "_", so the name never leaves its folder; empty when either is
// empty then.
std::string DefaultFileName(const Sheet& sheet, const std::tm& today,
                            const std::locale& locale = environmentLocale());

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
