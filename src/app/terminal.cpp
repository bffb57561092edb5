#include "app/terminal.h"

#include "history/signing.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
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

namespace {

// While the echo is off: the terminal as it was, put back by a signal that ends the program
// (Ctrl+C, a hang-up) before it ends; Ctrl+Z does nothing then.
int quietFd = -1;
termios quietBefore{};
constexpr int Ending[] = {SIGINT, SIGTERM, SIGQUIT, SIGHUP};

extern "C" void echoBackAndEnd(int signal) {
    if (quietFd >= 0)
        ::tcsetattr(quietFd, TCSANOW, &quietBefore);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

class EchoOff {
public:
    EchoOff(int fd, const termios& before) {
        quietFd = fd;
        quietBefore = before;
        struct sigaction restore {};
        restore.sa_handler = echoBackAndEnd;
        sigemptyset(&restore.sa_mask);
        for (size_t i = 0; i < std::size(Ending); ++i)
            sigaction(Ending[i], &restore, &kept_[i]);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGTSTP, &ignore, &keptStop_);
        termios quiet = before;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(fd, TCSANOW, &quiet);
    }
    ~EchoOff() {
        ::tcsetattr(quietFd, TCSANOW, &quietBefore);
        for (size_t i = 0; i < std::size(Ending); ++i)
            sigaction(Ending[i], &kept_[i], nullptr);
        sigaction(SIGTSTP, &keptStop_, nullptr);
        quietFd = -1;
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    struct sigaction kept_[std::size(Ending)]{};
    struct sigaction keptStop_ {};
};

} // namespace

std::optional<std::string> askTerminal(const std::string& prompt, bool echo, std::string& why) {
    const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios before{};
    if (fd < 0 || ::tcgetattr(fd, &before) != 0) {
        if (fd >= 0)
            ::close(fd);
        why = NoTerminal;
        return std::nullopt;
    }
    std::string line;
    bool ok = false;
    {
        std::optional<EchoOff> quiet;
        if (!echo)
            quiet.emplace(fd, before);
        (void)!::write(fd, prompt.data(), prompt.size());
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
    }
    ::close(fd);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    std::optional<std::string> typed;
    if (ok)
        typed = line;
    else
        why = NoTerminal;
    pp::history::wipeSecret(line);
    return typed;
}

#endif

} // namespace pp::cli
