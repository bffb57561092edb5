#include "file_system.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
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

#ifndef _WIN32
    std::optional<FileIdentity> identity(const std::string& path) override {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return std::nullopt;
        FileIdentity id;
        id.mode = st.st_mode & 07777;
        id.owner = st.st_uid;
        id.group = st.st_gid;
        id.links = st.st_nlink;
        id.modifiedNs =
            static_cast<long long>(st.st_mtim.tv_sec) * 1'000'000'000LL + st.st_mtim.tv_nsec;
        return id;
    }

    std::optional<std::string> createTemporary(const std::string& near) override {
        removeStaleTemporaries(near);
        // Created as a new file would be (0666 less the umask), never over an existing one.
        for (int attempt = 0; attempt < 16; ++attempt) {
            const std::string name = temporaryName(near);
            const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                ::close(fd);
                return name;
            }
            if (errno != EEXIST)
                return std::nullopt;
        }
        return std::nullopt;
    }

    bool keepIdentity(const std::string& path, const FileIdentity& like) override {
        // The owner only where the process may give it away (root, or the same owner);
        // the group may be refused too. The permission bits of our own file always go.
        if (::chown(path.c_str(), static_cast<uid_t>(like.owner), static_cast<gid_t>(like.group)) !=
            0)
            (void)!::chown(path.c_str(), static_cast<uid_t>(-1), static_cast<gid_t>(like.group));
        return ::chmod(path.c_str(), static_cast<mode_t>(like.mode)) == 0;
    }
#else
    std::optional<FileIdentity> identity(const std::string& path) override {
        std::error_code ec;
        if (!stdfs::is_regular_file(path, ec))
            return std::nullopt;
        FileIdentity id;
        id.links = static_cast<unsigned long>(stdfs::hard_link_count(path, ec));
        id.modifiedNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            stdfs::last_write_time(path, ec).time_since_epoch())
                            .count();
        return id;
    }
#endif

    // ".part05.QX.~pp3k9x2a" beside "part05.QX": hidden, so a write cut short by a kill or a
    // power cut leaves nothing the user finds half-made among the files.
    static std::string temporaryName(const std::string& near) {
        static std::mt19937 random{std::random_device{}()};
        const stdfs::path target(near);
        std::string name = "." + target.filename().string() + std::string(TemporaryMark);
        for (int i = 0; i < TemporaryLetters; ++i)
            name += Letters[random() % (sizeof Letters - 1)];
        return (target.parent_path() / name).string();
    }

    static bool isTemporaryName(const std::string& name) {
        const size_t mark = name.rfind(TemporaryMark);
        if (name.size() < 2 || name[0] != '.' || mark == std::string::npos ||
            name.size() != mark + TemporaryMark.size() + TemporaryLetters)
            return false;
        for (size_t i = mark + TemporaryMark.size(); i < name.size(); ++i)
            if (std::string_view(Letters).find(name[i]) == std::string_view::npos)
                return false;
        return true;
    }

    // Temporaries of ours that nobody has touched for a while were left by a write that never
    // ended (a write takes milliseconds); the next write into the folder clears them away.
    static void removeStaleTemporaries(const std::string& near) {
        std::error_code ec;
        stdfs::path folder = stdfs::path(near).parent_path();
        if (folder.empty())
            folder = ".";
        const auto now = stdfs::file_time_type::clock::now();
        for (stdfs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code e;
            if (!isTemporaryName(it->path().filename().string()) ||
                !it->is_regular_file(e) || e)
                continue;
            const auto modified = it->last_write_time(e);
            if (!e && now - modified > StaleAfter)
                stdfs::remove(it->path(), e);
        }
    }

    static constexpr std::string_view TemporaryMark = ".~pp";
    static constexpr int TemporaryLetters = 6;
    static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static constexpr std::chrono::minutes StaleAfter{10};
};

// Written over the old content. What was there is put back if the write fails, so even this
// way a failed save leaves the old file whole wherever the disk allows it.
bool writeInPlace(FileSystem& fs, const std::string& target, std::string_view bytes) {
    std::optional<std::string> old;
    if (fs.exists(target)) {
        old = fs.readAll(target);
        if (!old)
            return false; // nothing to put back
    }
    if (fs.writeAll(target, bytes))
        return true;
    if (old)
        fs.writeAll(target, *old);
    else
        fs.remove(target);
    return false;
}

} // namespace

std::optional<std::string> FileSystem::createTemporary(const std::string& near) {
    const std::string name = near + ".~pp";
    if (exists(name))
        return std::nullopt;
    if (writeAll(name, {}))
        return name;
    remove(name);
    return std::nullopt;
}

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
    const std::optional<FileIdentity> old = fs.identity(target);
    // A rename would leave the other names with the old content.
    if (old && old->links > 1)
        return writeInPlace(fs, target, bytes);
    // Same folder as the target, so the rename never crosses file systems.
    const std::optional<std::string> temporary = fs.createTemporary(target);
    if (!temporary)
        return fs.exists(target) && writeInPlace(fs, target, bytes);
    if (!fs.writeAll(*temporary, bytes) || (old && !fs.keepIdentity(*temporary, *old)) ||
        !fs.replace(*temporary, target)) {
        fs.remove(*temporary);
        return false;
    }
    return true;
}

} // namespace pp
