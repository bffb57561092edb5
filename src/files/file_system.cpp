#include "file_system.h"

#include "files/native.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
// The 16-bit pointer keywords windows.h still defines, empty: "near" is a parameter here.
#undef near
#undef far
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

class RealFileSystem final : public FileSystem {
public:
#ifdef _WIN32
    bool writeAll(const std::string& path, std::string_view bytes) override {
        // Opened, then emptied: CREATE_ALWAYS refuses a hidden file, and our temporaries are.
        const HANDLE f = CreateFileW(wideFromUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f == INVALID_HANDLE_VALUE)
            return false;
        bool ok = SetEndOfFile(f) != 0;
        for (std::string_view rest = bytes; ok && !rest.empty();) {
            DWORD n = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(rest.size(), 1 << 20));
            ok = WriteFile(f, rest.data(), chunk, &n, nullptr) && n > 0;
            rest.remove_prefix(n);
        }
        ok = ok && FlushFileBuffers(f);
        ok = CloseHandle(f) && ok;
        return ok;
    }

    bool replace(const std::string& from, const std::string& to) override {
        const std::wstring source = wideFromUtf8(from);
        const std::wstring target = wideFromUtf8(to);
        // A hidden temporary takes the name of a file the user sees: it must not stay hidden
        // (Windows keeps a file's attributes across a rename), unless the file it replaces was.
        const DWORD attributes = GetFileAttributesW(source.c_str());
        const DWORD old = GetFileAttributesW(target.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN)) {
            DWORD wanted = attributes & ~DWORD(FILE_ATTRIBUTE_HIDDEN);
            if (old != INVALID_FILE_ATTRIBUTES)
                wanted |= old & FILE_ATTRIBUTE_HIDDEN;
            SetFileAttributesW(source.c_str(), wanted ? wanted : FILE_ATTRIBUTE_NORMAL);
        }
        return MoveFileExW(source.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    }
#else
    bool writeAll(const std::string& path, std::string_view bytes) override {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f)
            return false;
        bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        ok = std::fflush(f) == 0 && ok;
        ok = ok && fsync(fileno(f)) == 0;
        ok = std::fclose(f) == 0 && ok;
        return ok;
    }

    bool replace(const std::string& from, const std::string& to) override {
        std::error_code ec;
        stdfs::rename(from, to, ec);
        return !ec;
    }
#endif

    bool remove(const std::string& path) override {
        std::error_code ec;
        return stdfs::remove(pathFromUtf8(path), ec) && !ec;
    }

    std::optional<std::string> readAll(const std::string& path) override {
        // Only a regular file of a sensible size: opening a pipe waits for a writer, a device
        // may never end, and a huge file would be loaded whole.
        std::error_code ec;
        const stdfs::path file = pathFromUtf8(path);
        if (!stdfs::is_regular_file(file, ec) || stdfs::file_size(file, ec) > ReadLimit || ec)
            return std::nullopt;
        std::FILE* f = openFile(path, "rb");
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
        return stdfs::exists(pathFromUtf8(path), ec);
    }

    bool makeFolder(const std::string& path) override {
        std::error_code ec;
        const stdfs::path folder = pathFromUtf8(path);
        stdfs::create_directories(folder, ec);
        return stdfs::is_directory(folder, ec);
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
        // From the file itself: the standard library's stat on Windows has whole seconds and
        // always one link, so two saves in a second would look equally new and a hard link
        // would be broken by the rename.
        const HANDLE f = CreateFileW(wideFromUtf8(path).c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (f == INVALID_HANDLE_VALUE)
            return std::nullopt;
        BY_HANDLE_FILE_INFORMATION info{};
        const bool ok = GetFileInformationByHandle(f, &info) != 0;
        CloseHandle(f);
        if (!ok || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return std::nullopt;
        FileIdentity id;
        id.links = info.nNumberOfLinks;
        // 100 ns steps since 1601.
        const long long ticks = static_cast<long long>(
            (static_cast<unsigned long long>(info.ftLastWriteTime.dwHighDateTime) << 32) |
            info.ftLastWriteTime.dwLowDateTime);
        id.modifiedNs = (ticks - 116'444'736'000'000'000LL) * 100;
        return id;
    }

    std::optional<std::string> createTemporary(const std::string& near) override {
        removeStaleTemporaries(near);
        // Hidden, as the dot in its name hides it on Linux; never over an existing file.
        for (int attempt = 0; attempt < 16; ++attempt) {
            const std::string name = temporaryName(near);
            const HANDLE f = CreateFileW(wideFromUtf8(name).c_str(), GENERIC_WRITE, 0, nullptr,
                                         CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
            if (f != INVALID_HANDLE_VALUE) {
                CloseHandle(f);
                return name;
            }
            if (GetLastError() != ERROR_FILE_EXISTS)
                return std::nullopt;
        }
        return std::nullopt;
    }
#endif

    // ".part05.QX.~pp3k9x2a" beside "part05.QX": hidden, so a write cut short by a kill or a
    // power cut leaves nothing the user finds half-made among the files.
    static std::string temporaryName(const std::string& near) {
        static std::mt19937 random{std::random_device{}()};
        const stdfs::path target = pathFromUtf8(near);
        std::string name = "." + utf8FromPath(target.filename()) + std::string(TemporaryMark);
        for (int i = 0; i < TemporaryLetters; ++i)
            name += Letters[random() % (sizeof Letters - 1)];
        return utf8FromPath(target.parent_path() / pathFromUtf8(name));
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
        stdfs::path folder = pathFromUtf8(near).parent_path();
        if (folder.empty())
            folder = ".";
        const auto now = stdfs::file_time_type::clock::now();
        for (stdfs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code e;
            if (!isTemporaryName(utf8FromPath(it->path().filename())) || !it->is_regular_file(e) ||
                e)
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
    if (stdfs::is_symlink(pathFromUtf8(path), ec)) {
        const stdfs::path resolved = stdfs::weakly_canonical(pathFromUtf8(path), ec);
        if (!ec)
            target = utf8FromPath(resolved);
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
