// Paths, files and environment as the operating system takes them. The program keeps every
// path and name as UTF-8 text; Linux takes those bytes as they are, Windows takes wide
// characters, and its narrow ("ANSI") calls would garble or refuse a name like "Prüfung é.QX".
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace pp {

// A path from the program's UTF-8 text, for std::filesystem (on Windows std::filesystem::path
// would take a std::string byte by byte).
std::filesystem::path pathFromUtf8(std::string_view utf8);
// Back to the program's UTF-8 text.
std::string utf8FromPath(const std::filesystem::path& path);

// fopen of a UTF-8 path.
std::FILE* openFile(const std::string& path, const char* mode);

// An environment variable's value as UTF-8; empty when it is unset.
std::string environmentText(const char* name);

#ifdef _WIN32
std::wstring wideFromUtf8(std::string_view utf8);
std::string utf8FromWide(std::wstring_view wide);
#endif

} // namespace pp
