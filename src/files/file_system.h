// The few file operations the parameter and settings files need, behind an interface so
// tests can make a write fail half-way.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pp {

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Creates or truncates `path` and writes all of `bytes`, flushed to the disk before it
    // returns; false on any failure (the file may then hold part of the bytes).
    virtual bool writeAll(const std::string& path, std::string_view bytes) = 0;
    // Renames `from` over `to`, replacing a file there in one step.
    virtual bool replace(const std::string& from, const std::string& to) = 0;
    virtual bool remove(const std::string& path) = 0;
    // The whole content; nothing when the path is missing, a folder or unreadable.
    virtual std::optional<std::string> readAll(const std::string& path) = 0;
    virtual bool exists(const std::string& path) = 0;
    // Creates the folder and its parents; true when it exists afterwards.
    virtual bool makeFolder(const std::string& path) = 0;
};

// The machine's own file system.
FileSystem& realFileSystem();

// Writes `bytes` to a temporary file beside `path`, then renames it over `path`. Either the
// whole new content is in place or the old file is untouched and no temporary is left.
bool replaceFileContent(FileSystem& fs, const std::string& path, std::string_view bytes);

} // namespace pp
