// qx7400-sim: a simulated QX7400 on a pseudo-terminal. Prints the device path, then answers
// until interrupted. Point the editor at the path (PARAMPORTER_COMM1=... or --port).
#include "instrument.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <pthread.h>
#include <string>
#include <string_view>
#include <vector>

namespace {

void usage(std::ostream& out) {
    out << "Usage: qx7400-sim [options]\n"
           "  --generation V7.0|V7.3   firmware generation (default V7.3)\n"
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
           "  --hang-up-after N        close the terminal after N bytes sent\n";
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

} // namespace

int main(int argc, char** argv) {
    pp::Generation generation = pp::Generation::V73;
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
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    pp::sim::Instrument instrument(generation);
    sim = &instrument;
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

    int received = 0;
    sigwait(&signals, &received);
    instrument.stop();
    return 0;
}
