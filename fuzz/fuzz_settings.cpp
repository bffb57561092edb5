// The settings file reader on any bytes, and the writer with a disk that fails. Input: one
// byte of choices, two bytes of a port number to save, then the settings file's bytes.
//
// Checks: the reader takes any file; a saved number reads back (from whichever folder took
// it); a failed save shows its message and leaves every existing settings file as it was, with
// no temporary behind.
#include "fakes.h"
#include "files/param_file.h"
#include "files/settings.h"
#include "fuzz_support.h"

using namespace pp;
using namespace pp::fuzz;
using pp::test::FakeWindow;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(std::string_view(reinterpret_cast<const char*>(data), size));
    const uint8_t choices = in.byte();
    const int16_t number = in.int16();
    const std::string content(in.rest());

    const SettingsFolders folders{"/app", choices & 1 ? "/home/cfg" : ""};
    const std::string appFile = settingsFilePath(folders.application);
    const std::string cfgFile = folders.config.empty() ? "" : settingsFilePath(folders.config);

    MemoryFileSystem fs;
    const bool appWritable = choices & 2;
    if (appWritable)
        fs.folders.insert(folders.application);
    if (choices & 4) {
        fs.folders.insert(folders.application); // a file there: the folder exists
        fs.files[appFile] = content;
    } else if (!cfgFile.empty() && choices & 8) {
        fs.folders.insert(folders.config);
        fs.files[cfgFile] = content;
    }

    const int16_t loaded = LoadAppSettings(folders, fs);
    const int16_t fromContent = portNumberFromSettings(content);
    if (fs.files.empty())
        PP_CHECK(loaded == 1);
    else
        PP_CHECK(loaded == fromContent);

    // Save with faults chosen by the input.
    fs.failWriteAt = choices & 16 ? (choices >> 6) : -1;
    fs.failReplace = (choices & 32) != 0 && (choices & 16) == 0;
    fs.failMakeFolder = (choices & 128) != 0;
    const auto filesBefore = fs.files;
    FakeWindow window;
    const bool saved = SaveAppSettings(number, folders, window, fs);
    for (const auto& [path, bytes] : fs.files)
        if (path != appFile && path != cfgFile)
            fail("a temporary was left behind:", path);
    if (saved) {
        fs.failWriteAt = -1;
        PP_CHECK(LoadAppSettings(folders, fs) == number, "a saved port number reads back");
        PP_CHECK(window.messages.empty());
    } else {
        PP_CHECK(fs.files == filesBefore, "a failed save changed a settings file");
        PP_CHECK(window.messages.size() == 1 && window.messages[0].text == ErrorWritingAppFile);
        PP_CHECK(window.status() == FileErrorStatus);
    }
    return 0;
}
