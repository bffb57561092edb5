#include "settings.h"

#include "files/param_file.h"
#include "sheet/number_text.h"

#include <filesystem>

namespace pp {

std::string settingsFilePath(const std::string& folder) {
    return (std::filesystem::path(folder) / SettingsFileName).string();
}

int16_t portNumberFromSettings(std::string_view content) {
    auto field = FieldReader(content).next();
    if (!field)
        return 1;
    auto n = toInt16(*field);
    return n ? *n : int16_t{1};
}

int16_t LoadAppSettings(const SettingsFolders& folders, FileSystem& fs) {
    std::string path = settingsFilePath(folders.application);
    if (!fs.exists(path)) {
        if (folders.config.empty())
            return 1;
        path = settingsFilePath(folders.config);
    }
    auto content = fs.readAll(path);
    return content ? portNumberFromSettings(*content) : int16_t{1};
}

bool SaveAppSettings(int16_t portNumber, const SettingsFolders& folders, Window& window,
                     FileSystem& fs) {
    const std::string content = "\"" + formatInt(portNumber) + "\"\r\n";
    const std::string appFile = settingsFilePath(folders.application);

    bool written = replaceFileContent(fs, appFile, content);
    // An existing file in the application folder is the one the next start reads, so a
    // copy elsewhere would be ignored; only without it may the setting move.
    if (!written && !fs.exists(appFile) && !folders.config.empty() && fs.makeFolder(folders.config))
        written = replaceFileContent(fs, settingsFilePath(folders.config), content);

    if (!written) {
        window.message(ErrorWritingAppFile);
        window.setStatus(FileErrorStatus);
    }
    return written;
}

} // namespace pp
