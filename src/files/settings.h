// RIGPREFS.DAT: the serial port number kept between runs.
#pragma once

#include "files/file_system.h"
#include "link/platform.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace pp {

inline constexpr std::string_view SettingsFileName = "RIGPREFS.DAT";
inline constexpr std::string_view ErrorWritingAppFile = "Error writing application file";

// Where the settings file may live: the application's folder, and the user's configuration
// folder for when the application's folder cannot be written.
struct SettingsFolders {
    std::string application;
    std::string config;
};

// The settings file inside `folder`.
std::string settingsFilePath(const std::string& folder);

// The port number in a settings file's content: the first field of its first line, quoted or
// not, as a 16-bit integer (halves to the even neighbour); 1 when there is none.
int16_t portNumberFromSettings(std::string_view content);

// The port number: from the application folder's file, or from the configuration folder's
// when that one cannot be read or the configuration folder's is newer (a save that could not
// write the application folder put it there). Every failure gives 1, silently.
int16_t LoadAppSettings(const SettingsFolders& folders, FileSystem& fs = realFileSystem());

// Writes the port number where LoadAppSettings will find it: the application folder's file,
// else (that file or folder cannot be written) the configuration folder's. The old content
// stays whole on failure, which shows "Error writing application file" and sets the status
// "File Error".
bool SaveAppSettings(int16_t portNumber, const SettingsFolders& folders, Window& window,
                     FileSystem& fs = realFileSystem());

} // namespace pp
