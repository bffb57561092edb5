// qx7400-sim: a simulated QX7400 on a pseudo-terminal. Prints the device path, then answers
// until interrupted, taking keypad lines on standard input. Point the editor at the path
// (PARAMPORTER_COMM1=... or --port).
#include "instrument.h"
#include "keypad.h"
#include "state_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <string_view>
#include <sys/signalfd.h>
#include <unistd.h>
#include <vector>

namespace {

// Blank-separated words, wrapped into lines of at most 79 characters after `indent`.
std::string wrapped(const std::string& words, std::string_view indent) {
    std::string out, line(indent);
    size_t start = 0;
    while (start < words.size()) {
        size_t end = words.find(' ', start);
        if (end == std::string::npos)
            end = words.size();
        const std::string word = words.substr(start, end - start);
        if (line.size() > indent.size() && line.size() + 1 + word.size() > 79) {
            out += line + "\n";
            line = indent;
        }
        line += (line.size() > indent.size() ? " " : "") + word;
        start = end + 1;
    }
    return out + line + "\n";
}

void usage(std::ostream& out) {
    out << "Usage: qx7400-sim [options]\n"
           "  --generation V7.0|V7.3   firmware generation (default V7.3, or the state\n"
           "                           file's)\n"
           "  --serial N               serial number, 0 to 10000 (default 1234, or the state\n"
           "                           file's)\n"
           "  --state FILE             start with the values FILE holds and keep them\n"
           "                           there: downloads and keypad changes are written\n"
           "                           back, so the next run starts where this one ended.\n"
           "                           A missing FILE is created with the defaults; one\n"
           "                           that cannot be read is refused (exit status 2) and\n"
           "                           left as it is. It holds one value a line, as the\n"
           "                           keypad takes them.\n"
           "  --verbose                print every frame and answer on stderr\n"
           "Faults:\n"
           "  --silent                 never answer\n"
           "  --nak-at K               NAK download field K\n"
           "  --corrupt-checksum       first record sent has a wrong checksum\n"
           "  --noise TEXT             send TEXT before every answer frame\n"
           "  --split N[:MS]           answers in pieces of N bytes, MS ms apart (default 20)\n"
           "  --refuse                 refuse every command\n"
           "  --wrong-part             part records name another part number\n"
           "  --test-running           a test is running (mode changes refused)\n"
           "  --pace                   send at 9600 baud\n"
           "  --stop-after N           cut every answer after N bytes\n"
           "  --hang-up-after N        close the terminal after N bytes sent\n"
           "Keypad: lines on standard input change the instrument's own values, as its\n"
           "keypad would; the next upload returns them. Each change is confirmed on stdout,\n"
           "a refused one explained on stderr.\n"
           "  set part N STEM VALUE    a part's value, N 1 to 32: set part 5 LeakLimit 9\n"
           "  set system STEM VALUE    a system value: set system NumLeakRdgs 20\n"
           "  set parts N...           the configured part numbers: set parts 1 2 5\n"
           "  show [system | part N]   the values as an upload returns them\n"
           "Values are written as the editor shows them: 9.5, OFF, 0.1 SEC,\n"
           "Jun 03,2024 09:30.\n"
           "Part stems:\n"
        << wrapped(pp::sim::partStems(), "  ") << "System stems:\n"
        << wrapped(pp::sim::systemStems(), "  ");
}

std::string visible(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        switch (c) {
        case 2:
            out += "<STX>";
            break;
        case 3:
            out += "<ETX>";
            break;
        case 6:
            out += "<ACK>";
            break;
        case 21:
            out += "<NAK>";
            break;
        default:
            if (c >= 32 && c < 127) {
                out += static_cast<char>(c);
            } else {
                char hex[8];
                std::snprintf(hex, sizeof hex, "<%02X>", c);
                out += hex;
            }
        }
    }
    return out;
}

bool number(const char* text, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && value >= 0;
}

// One keypad line: a change, or what the instrument holds.
void keypadLine(pp::sim::Instrument& instrument, pp::sim::StateFile* state, std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.remove_suffix(1);
    while (!line.empty() && line.front() == ' ')
        line.remove_prefix(1);
    if (line.empty())
        return;
    const size_t blank = line.find(' ');
    const std::string_view command = line.substr(0, blank);
    const std::string_view rest = blank == std::string_view::npos ? "" : line.substr(blank + 1);
    if (command == "set") {
        std::string now;
        if (auto why = instrument.keypad(rest, &now)) {
            std::cerr << "qx7400-sim: " << line << ": " << *why << std::endl;
            return;
        }
        std::cout << now << std::endl;
        if (state)
            if (auto why = state->save())
                std::cerr << "qx7400-sim: " << *why << std::endl;
    } else if (command == "show") {
        // "part 5" is "part 5 ", never part 50.
        std::string scope(rest);
        if (!scope.empty())
            scope += ' ';
        const std::string text = instrument.stateText();
        size_t start = 0, shown = 0;
        while (start < text.size()) {
            const size_t end = text.find('\n', start);
            const std::string_view l = std::string_view(text).substr(start, end - start);
            if (l.substr(0, scope.size()) == scope) {
                std::cout << l << "\n";
                ++shown;
            }
            start = end + 1;
        }
        std::cout.flush();
        if (shown == 0)
            std::cerr << "qx7400-sim: " << line << ": show, show system or show part 1 to 32"
                      << std::endl;
    } else {
        std::cerr << "qx7400-sim: " << line << ": not set part N STEM VALUE, set system STEM "
                  << "VALUE, set parts N... or show (see --help)" << std::endl;
    }
}

} // namespace

int main(int argc, char** argv) {
    pp::Generation generation = pp::Generation::V73;
    bool generationGiven = false;
    const char* serial = nullptr;
    const char* statePath = nullptr;
    bool verbose = false;
    // Faults are applied after construction, in the order given.
    pp::sim::Instrument* sim = nullptr;
    std::vector<std::function<void()>> faults;
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        long n = 0;
        if (a == "--help" || a == "-h") {
            usage(std::cout);
            return 0;
        } else if (a == "--generation") {
            const char* g = next();
            if (g && std::string_view(g) == "V7.0")
                generation = pp::Generation::V70;
            else if (g && std::string_view(g) == "V7.3")
                generation = pp::Generation::V73;
            else {
                std::cerr << "qx7400-sim: --generation takes V7.0 or V7.3\n";
                return 2;
            }
            generationGiven = true;
        } else if (a == "--serial" || a == "--state") {
            const char* v = next();
            if (!v || !*v) {
                std::cerr << "qx7400-sim: " << a
                          << (a == "--serial" ? " takes a number\n" : " takes a file\n");
                return 2;
            }
            (a == "--serial" ? serial : statePath) = v;
        } else if (a == "--verbose") {
            verbose = true;
        } else if (a == "--silent") {
            faults.push_back([&] { sim->setSilent(true); });
        } else if (a == "--nak-at") {
            const char* k = next();
            if (!k || !number(k, n)) {
                std::cerr << "qx7400-sim: --nak-at takes a field index\n";
                return 2;
            }
            faults.push_back([&sim, n] { sim->setNakAtField(static_cast<int>(n)); });
        } else if (a == "--corrupt-checksum") {
            faults.push_back([&] { sim->corruptNextChecksum(); });
        } else if (a == "--noise") {
            const char* t = next();
            if (!t) {
                std::cerr << "qx7400-sim: --noise takes a text\n";
                return 2;
            }
            std::string noise = t;
            faults.push_back([&sim, noise] { sim->setNoise(noise); });
        } else if (a == "--split") {
            const char* t = next();
            std::string arg = t ? t : "";
            long ms = 20;
            auto colon = arg.find(':');
            if (colon != std::string::npos && !number(arg.substr(colon + 1).c_str(), ms))
                arg.clear();
            if (arg.empty() || !number(arg.substr(0, colon).c_str(), n) || n == 0) {
                std::cerr << "qx7400-sim: --split takes N[:MS]\n";
                return 2;
            }
            faults.push_back([&sim, n, ms] {
                sim->setSplit(static_cast<size_t>(n), std::chrono::milliseconds(ms));
            });
        } else if (a == "--refuse") {
            faults.push_back([&] { sim->setRefuseAll(true); });
        } else if (a == "--wrong-part") {
            faults.push_back([&] { sim->setWrongPartNumber(true); });
        } else if (a == "--test-running") {
            faults.push_back([&] { sim->setTestRunning(true); });
        } else if (a == "--pace") {
            faults.push_back([&] { sim->setPacing(true); });
        } else if (a == "--stop-after" || a == "--hang-up-after") {
            const char* k = next();
            if (!k || !number(k, n)) {
                std::cerr << "qx7400-sim: " << a << " takes a byte count\n";
                return 2;
            }
            if (a == "--stop-after")
                faults.push_back([&sim, n] { sim->setStopAfterBytes(static_cast<size_t>(n)); });
            else
                faults.push_back([&sim, n] { sim->setHangUpAfterBytes(static_cast<size_t>(n)); });
        } else {
            std::cerr << "qx7400-sim: unknown option " << a << "\n";
            usage(std::cerr);
            return 2;
        }
    }

    // Signals are taken with sigwait; block them before the instrument's thread exists.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    // A background job of an interactive shell must not be stopped for reading the terminal:
    // its reads fail instead (EIO), and are tried again later.
    sigset_t blocked = signals;
    sigaddset(&blocked, SIGTTIN);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);

    pp::sim::Instrument instrument(generation);
    sim = &instrument;
    // The state file's values first; the options given for this run then win.
    std::unique_ptr<pp::sim::StateFile> state;
    if (statePath) {
        state = std::make_unique<pp::sim::StateFile>(instrument, statePath);
        if (auto why = state->load()) {
            std::cerr << "qx7400-sim: " << *why << "\n";
            return 2;
        }
        if (generationGiven)
            instrument.setGeneration(generation);
    }
    if (serial) {
        if (auto why = instrument.keypad(std::string("system Serial ") + serial)) {
            std::cerr << "qx7400-sim: --serial " << serial << ": " << *why << "\n";
            return 2;
        }
    }
    if (state) {
        if (auto why = state->save()) {
            std::cerr << "qx7400-sim: " << *why << "\n";
            return 2;
        }
        instrument.setDownloadObserver([&state] {
            if (auto why = state->save())
                std::cerr << "qx7400-sim: " << *why << std::endl;
        });
    }
    for (auto& apply : faults)
        apply();
    if (verbose)
        instrument.setFrameObserver([](const std::string& content, const std::string& answer) {
            std::cerr << "<- " << visible(content) << "\n-> " << visible(answer) << std::endl;
        });
    if (!instrument.start()) {
        std::cerr << "qx7400-sim: " << instrument.lastError() << "\n";
        return 1;
    }
    std::cout << instrument.devicePath() << std::endl;

    const int signalled = signalfd(-1, &signals, SFD_CLOEXEC);
    if (signalled < 0) {
        int received = 0;
        sigwait(&signals, &received);
    }
    bool keypad = true;      // standard input not yet at its end
    bool background = false; // its last read failed as a background job's
    std::string pending;
    while (signalled >= 0) {
        pollfd fds[2] = {{signalled, POLLIN, 0}, {keypad && !background ? 0 : -1, POLLIN, 0}};
        if (::poll(fds, 2, background ? 1000 : -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents & POLLIN)
            break;
        if (!keypad || (!background && fds[1].revents == 0))
            continue;
        char buf[512];
        const ssize_t n = ::read(0, buf, sizeof buf);
        background = n < 0 && errno == EIO;
        if (n > 0) {
            pending.append(buf, static_cast<size_t>(n));
            for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
                keypadLine(instrument, state.get(), std::string_view(pending).substr(0, end));
                pending.erase(0, end + 1);
            }
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EIO)) {
            // Standard input ended (or is /dev/null): the instrument answers on, without keypad.
            keypad = false;
            if (!pending.empty())
                keypadLine(instrument, state.get(), pending);
        }
    }
    instrument.stop();
    // What a download cut short left in the instrument is kept too.
    if (state)
        if (auto why = state->save())
            std::cerr << "qx7400-sim: " << *why << "\n";
    return 0;
}
