#include "native.h"

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#endif

namespace pp {

#ifdef _WIN32

// MultiByteToWideChar rather than the standard library's converters: a byte that is not UTF-8
// becomes U+FFFD instead of an exception.
std::wstring wideFromUtf8(std::string_view utf8) {
    if (utf8.empty())
        return {};
    const int size = static_cast<int>(utf8.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), n);
    return wide;
}

std::string utf8FromWide(std::wstring_view wide) {
    if (wide.empty())
        return {};
    const int size = static_cast<int>(wide.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), n, nullptr, nullptr);
    return utf8;
}

std::filesystem::path pathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(wideFromUtf8(utf8));
}

std::string utf8FromPath(const std::filesystem::path& path) {
    return utf8FromWide(path.native());
}

std::FILE* openFile(const std::string& path, const char* mode) {
    return _wfopen(wideFromUtf8(path).c_str(), wideFromUtf8(mode).c_str());
}

std::string environmentText(const char* name) {
    const std::wstring wide = wideFromUtf8(name);
    const DWORD n = GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
    if (n == 0)
        return {};
    std::wstring value(n, L'\0');
    const DWORD written = GetEnvironmentVariableW(wide.c_str(), value.data(), n);
    value.resize(written < n ? written : 0);
    return utf8FromWide(value);
}

#else

std::filesystem::path pathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::string(utf8));
}

std::string utf8FromPath(const std::filesystem::path& path) {
    return path.string();
}

std::FILE* openFile(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

std::string environmentText(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

#endif

} // namespace pp
