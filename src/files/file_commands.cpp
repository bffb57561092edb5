#include "file_commands.h"

#include "files/native.h"
#include "files/param_file.h"

#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <locale>
#include <sstream>
#include <stdexcept>

namespace pp {

namespace {

// Texts from the instrument or typed by the user name files: nothing but letters, digits,
// "-" and "_" may reach a name, so it never leaves the chosen folder.
std::string nameSafe(const std::string& text) {
    std::string safe;
    for (char c : text)
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_')
            safe += c;
    return safe;
}

} // namespace

std::locale environmentLocale() {
    try {
        return std::locale("");
    } catch (const std::runtime_error&) {
        return std::locale::classic(); // the environment names a locale this system lacks
    }
}

std::string monthAbbreviation(int month, const std::locale& locale) {
    std::tm t{};
    t.tm_year = 126;
    t.tm_mon = month >= 0 && month < 12 ? month : 0;
    t.tm_mday = 1;
    std::ostringstream out;
    out.imbue(locale);
    out << std::put_time(&t, "%b");
    // Some languages end the abbreviation with a full stop; a name keeps the letters only.
    std::string name;
    for (char c : out.str())
        if (c != '.' && c != '/' && c != '\\' && c != ' ')
            name += c;
    return name;
}

std::string DefaultFileName(const Sheet& sheet, const std::tm& today, const std::locale& locale) {
    const std::string part = nameSafe(sheet.partSelection());
    const std::string serial = nameSafe(sheet.text(Sys::Serial));
    if (part.empty() || serial.empty())
        return {};
    const int year = ((today.tm_year + 1900) % 100 + 100) % 100;
    char day[4];
    char yy[4];
    std::snprintf(day, sizeof day, "%02d", today.tm_mday % 100);
    std::snprintf(yy, sizeof yy, "%02d", year);
    return "QX7400_" + part + "_" + serial + "_" + day + monthAbbreviation(today.tm_mon, locale) +
           yy + ".QX";
}

bool OpenCommand(Sheet& sheet, Window& window, FileSystem& fs) {
    const auto path = window.chooseOpenFile();
    if (!path || path->empty())
        return false;
    if (!ReadParamFile(sheet, *path, window, fs))
        return false;
    sheet.filePath = *path;
    return true;
}

bool SaveCommand(const Sheet& sheet, Window& window, FileSystem& fs) {
    if (sheet.filePath.empty())
        return false;
    return WriteParamFile(sheet, sheet.filePath, window, fs);
}

bool SaveAsCommand(Sheet& sheet, Window& window, const std::tm& today, FileSystem& fs) {
    const auto chosen = window.chooseSaveFile(DefaultFileName(sheet, today));
    if (!chosen || chosen->empty())
        return false;
    std::string path = *chosen;
    if (pathFromUtf8(path).extension().empty())
        path += ".QX";
    if (!WriteParamFile(sheet, path, window, fs))
        return false;
    sheet.filePath = path;
    sheet.commands.save = true;
    return true;
}

} // namespace pp
