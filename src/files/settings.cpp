#include "settings.h"

#include "files/native.h"
#include "files/param_file.h"
#include "sheet/number_text.h"

#include <filesystem>

namespace pp {

std::string settingsFilePath(const std::string& folder) {
    return utf8FromPath(pathFromUtf8(folder) / SettingsFileName);
}

int16_t portNumberFromSettings(std::string_view content) {
    // The first field of the first line: an empty first line holds none.
    const std::string_view firstLine = content.substr(0, content.find_first_of("\r\n"));
    auto field = FieldReader(firstLine).next();
    if (!field)
        return 1;
    auto n = toInt16(*field);
    return n ? *n : int16_t{1};
}

int16_t LoadAppSettings(const SettingsFolders& folders, FileSystem& fs) {
    const std::string appFile = settingsFilePath(folders.application);
    auto content = fs.readAll(appFile);
    if (!folders.config.empty()) {
        // A save that could not write the application folder's file went to the
        // configuration folder: the newer of the two holds the last choice.
        const std::string configFile = settingsFilePath(folders.config);
        const auto appTime = fs.identity(appFile);
        const auto configTime = fs.identity(configFile);
        const bool configNewer =
            configTime && (!appTime || configTime->modifiedNs > appTime->modifiedNs);
        if (!content || configNewer) {
            if (auto config = fs.readAll(configFile))
                content = std::move(config);
        }
    }
    return content ? portNumberFromSettings(*content) : int16_t{1};
}

bool SaveAppSettings(int16_t portNumber, const SettingsFolders& folders, Window& window,
                     FileSystem& fs) {
    const std::string content = "\"" + formatInt(portNumber) + "\"\r\n";
    bool written = replaceFileContent(fs, settingsFilePath(folders.application), content);
    // Where the application folder's file cannot be written, the user's own folder keeps the
    // setting; being the newer file, it is the one the next start reads.
    if (!written && !folders.config.empty() && fs.makeFolder(folders.config))
        written = replaceFileContent(fs, settingsFilePath(folders.config), content);

    if (!written) {
        window.message(ErrorWritingAppFile);
        window.setStatus(FileErrorStatus);
    }
    return written;
}

} // namespace pp
