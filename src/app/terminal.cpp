#include "app/terminal.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace pp::cli {

namespace {

constexpr const char* NoTerminal = "there is no terminal to type the approver's login and "
                                   "password in (they are never read from a pipe or a file)";

} // namespace

#ifdef _WIN32

std::optional<std::string> askTerminal(const std::string& prompt, bool echo, std::string& why) {
    HANDLE in = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE out =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD mode = 0;
    if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &mode)) {
        if (in != INVALID_HANDLE_VALUE)
            CloseHandle(in);
        if (out != INVALID_HANDLE_VALUE)
            CloseHandle(out);
        why = NoTerminal;
        return std::nullopt;
    }
    const int wide = MultiByteToWideChar(CP_UTF8, 0, prompt.data(), int(prompt.size()), nullptr, 0);
    std::wstring w(size_t(wide), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, prompt.data(), int(prompt.size()), w.data(), wide);
    DWORD written = 0;
    WriteConsoleW(out, w.data(), DWORD(w.size()), &written, nullptr);
    SetConsoleMode(in, echo ? (mode | ENABLE_ECHO_INPUT | ENABLE_LINE_INPUT)
                            : ((mode | ENABLE_LINE_INPUT) & ~DWORD(ENABLE_ECHO_INPUT)));
    std::wstring line;
    wchar_t buffer[256];
    DWORD got = 0;
    bool ok = true;
    while (line.find(L'\n') == std::wstring::npos && line.find(L'\r') == std::wstring::npos) {
        if (!ReadConsoleW(in, buffer, 256, &got, nullptr) || got == 0) {
            ok = false;
            break;
        }
        line.append(buffer, got);
    }
    SetConsoleMode(in, mode);
    if (!echo)
        WriteConsoleW(out, L"\r\n", 2, &written, nullptr);
    CloseHandle(in);
    CloseHandle(out);
    if (!ok) {
        why = NoTerminal;
        return std::nullopt;
    }
    line.erase(line.find_first_of(L"\r\n"));
    const int n = WideCharToMultiByte(CP_UTF8, 0, line.data(), int(line.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string text(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.data(), int(line.size()), text.data(), n, nullptr,
                        nullptr);
    SecureZeroMemory(line.data(), line.size() * sizeof(wchar_t));
    SecureZeroMemory(buffer, sizeof buffer);
    return text;
}

#else

std::optional<std::string> askTerminal(const std::string& prompt, bool echo, std::string& why) {
    const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        why = NoTerminal;
        return std::nullopt;
    }
    termios before{};
    const bool terminal = ::tcgetattr(fd, &before) == 0;
    if (!terminal) {
        ::close(fd);
        why = NoTerminal;
        return std::nullopt;
    }
    if (!echo) {
        termios quiet = before;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(fd, TCSANOW, &quiet);
    }
    (void)!::write(fd, prompt.data(), prompt.size());
    std::string line;
    bool ok = false;
    for (char c;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (c == '\n') {
            ok = true;
            break;
        }
        line += c;
    }
    if (!echo)
        ::tcsetattr(fd, TCSANOW, &before);
    ::close(fd);
    if (!ok) {
        why = NoTerminal;
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

#endif

} // namespace pp::cli
