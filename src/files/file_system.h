// The few file operations the parameter and settings files need, behind an interface so
// tests can make a write fail half-way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pp {

// What makes a file the same file to its owner: who may read it, whose it is, and whether
// other names point at it.
struct FileIdentity {
    unsigned mode = 0; // permission bits
    long long owner = -1;
    long long group = -1;
    unsigned long links = 1;  // hard links to the file
    long long modifiedNs = 0; // last write, nanoseconds since the epoch
};

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

    // The identity of an existing file (links followed); nothing when there is none to keep.
    virtual std::optional<FileIdentity> identity(const std::string& /*path*/) {
        return std::nullopt;
    }
    // A new, empty file of a name nobody uses, in the same folder as `near`; nothing when
    // that folder takes no new file.
    virtual std::optional<std::string> createTemporary(const std::string& near);
    // Gives `path` the permission bits of `like`, and its owner where the process may.
    virtual bool keepIdentity(const std::string& /*path*/, const FileIdentity& /*like*/) {
        return true;
    }
};

// The machine's own file system.
FileSystem& realFileSystem();

// Puts `bytes` into the file `path` names (through a symbolic link, into the file it points
// at). The new content goes to a temporary file beside it, which takes the old file's
// permission bits and owner and is renamed over it: either the whole new content is in place
// or the old file is untouched, and no temporary is left. A file with other hard links, or
// one whose folder takes no temporary file, is written in place instead, and given its old
// content back if that write fails.
bool replaceFileContent(FileSystem& fs, const std::string& path, std::string_view bytes);

} // namespace pp
