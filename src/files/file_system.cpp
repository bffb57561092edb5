#include "file_system.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace stdfs = std::filesystem;

namespace pp {
namespace {

// Parameter and settings files are a few hundred bytes.
constexpr std::uintmax_t ReadLimit = 1 << 20;

bool syncToDisk(std::FILE* f) {
#ifdef _WIN32
    return _commit(_fileno(f)) == 0;
#else
    return fsync(fileno(f)) == 0;
#endif
}

class RealFileSystem final : public FileSystem {
public:
    bool writeAll(const std::string& path, std::string_view bytes) override {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f)
            return false;
        bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        ok = std::fflush(f) == 0 && ok;
        ok = ok && syncToDisk(f);
        ok = std::fclose(f) == 0 && ok;
        return ok;
    }

    bool replace(const std::string& from, const std::string& to) override {
        std::error_code ec;
        stdfs::rename(from, to, ec);
        return !ec;
    }

    bool remove(const std::string& path) override {
        std::error_code ec;
        return stdfs::remove(path, ec) && !ec;
    }

    std::optional<std::string> readAll(const std::string& path) override {
        // Only a regular file of a sensible size: opening a pipe waits for a writer, a device
        // may never end, and a huge file would be loaded whole.
        std::error_code ec;
        if (!stdfs::is_regular_file(path, ec) || stdfs::file_size(path, ec) > ReadLimit || ec)
            return std::nullopt;
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (!f)
            return std::nullopt;
        std::string content;
        char buffer[4096];
        size_t n;
        while (content.size() <= ReadLimit && (n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            content.append(buffer, n);
        const bool failed = std::ferror(f) != 0 || content.size() > ReadLimit;
        std::fclose(f);
        if (failed)
            return std::nullopt;
        return content;
    }

    bool exists(const std::string& path) override {
        std::error_code ec;
        return stdfs::exists(path, ec);
    }

    bool makeFolder(const std::string& path) override {
        std::error_code ec;
        stdfs::create_directories(path, ec);
        return stdfs::is_directory(path, ec);
    }
};

} // namespace

FileSystem& realFileSystem() {
    static RealFileSystem instance;
    return instance;
}

bool replaceFileContent(FileSystem& fs, const std::string& path, std::string_view bytes) {
    // A link is followed, so the file it names gets the content and the link stays.
    std::string target = path;
    std::error_code ec;
    if (stdfs::is_symlink(path, ec)) {
        const stdfs::path resolved = stdfs::weakly_canonical(path, ec);
        if (!ec)
            target = resolved.string();
    }
    // Same folder as the target, so the rename never crosses file systems.
    const std::string temporary = target + ".~pp";
    if (!fs.writeAll(temporary, bytes) || !fs.replace(temporary, target)) {
        fs.remove(temporary);
        return false;
    }
    return true;
}

} // namespace pp
