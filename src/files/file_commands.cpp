#include "file_commands.h"

#include "files/param_file.h"

#include <array>
#include <cstdio>
#include <filesystem>

namespace pp {

std::string DefaultFileName(const Sheet& sheet, const std::tm& today) {
    const std::string& part = sheet.partSelection();
    const std::string& serial = sheet.text(Sys::Serial);
    if (part.empty() || serial.empty())
        return {};
    static constexpr std::array<const char*, 12> Months{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int month = today.tm_mon >= 0 && today.tm_mon < 12 ? today.tm_mon : 0;
    const int year = ((today.tm_year + 1900) % 100 + 100) % 100;
    char date[16];
    std::snprintf(date, sizeof date, "%02d%s%02d", today.tm_mday % 100, Months[month], year);
    return "QX7400_" + part + "_" + serial + "_" + date + ".QX";
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
    if (std::filesystem::path(path).extension().empty())
        path += ".QX";
    if (!WriteParamFile(sheet, path, window, fs))
        return false;
    sheet.filePath = path;
    sheet.commands.save = true;
    return true;
}

} // namespace pp
