// Soak run: upload, edit, download, save and open, over and over, against the simulated
// instrument on a pty through the real QSerialPort, with faults thrown in at random. A failed
// exchange is repeated once the fault is gone, as a technician would. Checks that every
// failure ends cleanly, that what was downloaded comes back on the next upload, that every
// saved file opens to the same sheet, and that the resident size stays flat.
//
//   pp-soak [--cycles N] [--seed N] [--fault-rate P] [--generation 7.0|7.3]
//
// Exit status 0 when every check held.
#include "files/file_commands.h"
#include "files/param_file.h"
#include "link/frames.h"
#include "qt/session_driver.h"
#include "sim/instrument.h"
#include "support/fakes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <string>

using namespace pp;
using namespace std::chrono_literals;
using pp::test::FakeWindow;

namespace {

long residentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

enum class Fault { None, Silence, Nak, BadChecksum, Noise, Split, Refusal, HangUp, Count };
const char* const FaultNames[] = {"none",  "silence", "NAK at a field", "bad checksum",
                                  "noise", "split",   "refusal",        "terminal closed"};

enum class Step { SystemUpload, PartUpload, SystemDownload, PartDownload };

struct Soak {
    explicit Soak(Generation g, unsigned seed, double faultRate)
        : instrument(g), driver(sheet, window), random(seed), faultRate(faultRate) {
        instrument.setConfiguredParts({1, 2, 5, 7, 12, 32});
    }

    bool start() {
        if (!instrument.start())
            return false;
        driver.setDeviceOverride(QString::fromStdString(instrument.devicePath()));
        return true;
    }

    // ------------------------------------------------------------------ exchanges

    std::optional<Outcome> runOnce(Step step) {
        std::optional<Outcome> outcome;
        QEventLoop loop;
        auto c =
            QObject::connect(&driver, &qt::SessionDriver::exchangeEnded, &loop, [&](Outcome o) {
                outcome = o;
                loop.quit();
            });
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
        guard.start(10000);
        Session& s = driver.session();
        switch (step) {
        case Step::SystemUpload:
            s.cmdSDUpload_Click();
            break;
        case Step::PartUpload:
            s.cmdPartUpload_Click();
            break;
        case Step::SystemDownload:
            s.cmdSDDnLoad_Click();
            break;
        case Step::PartDownload:
            s.cmdPartDnload_Click();
            break;
        }
        if (!outcome)
            loop.exec();
        QObject::disconnect(c);
        return outcome;
    }

    static Outcome success(Step step) {
        switch (step) {
        case Step::SystemUpload:
            return Outcome::SystemRecord;
        case Step::PartUpload:
            return Outcome::PartRecord;
        case Step::SystemDownload:
            return Outcome::SystemDownloadEnd;
        default:
            return Outcome::PartDownloadEnd;
        }
    }
    static bool isDownload(Step step) {
        return step == Step::SystemDownload || step == Step::PartDownload;
    }

    Fault pickFault(Step step) {
        if (std::uniform_real_distribution<>(0, 1)(random) >= faultRate)
            return Fault::None;
        for (;;) {
            const auto f = Fault(std::uniform_int_distribution<>(1, int(Fault::Count) - 1)(random));
            if (f == Fault::Nak && !isDownload(step))
                continue;
            if (f == Fault::BadChecksum && isDownload(step))
                continue;
            return f;
        }
    }

    void inject(Fault f, Step step) {
        switch (f) {
        case Fault::Silence:
            instrument.setSilent(true);
            break;
        case Fault::Nak: {
            const int last = step == Step::SystemDownload ? instrument.lastSystemIndex()
                                                          : instrument.lastPartIndex();
            instrument.setNakAtField(std::uniform_int_distribution<>(0, last)(random));
            break;
        }
        case Fault::BadChecksum:
            instrument.corruptNextChecksum();
            break;
        case Fault::Noise:
            instrument.setNoise("\x7f\xff noise ");
            break;
        case Fault::Split:
            instrument.setSplit(std::uniform_int_distribution<size_t>(1, 16)(random), 1ms);
            break;
        case Fault::Refusal:
            instrument.setRefuseAll(true);
            break;
        case Fault::HangUp: {
            // Within the answer: an upload's record, or the acknowledgements of a download.
            const size_t most = isDownload(step) ? size_t(instrument.lastSystemIndex()) : 40;
            instrument.setHangUpAfterBytes(std::uniform_int_distribution<size_t>(0, most)(random));
            break;
        }
        default:
            break;
        }
    }

    void clearFaults() {
        instrument.setSilent(false);
        instrument.setNakAtField(std::nullopt);
        instrument.setNoise({});
        instrument.setSplit(0, 0ms);
        instrument.setRefuseAll(false);
        instrument.setHangUpAfterBytes(std::nullopt);
        if (instrument.hungUp()) { // the adapter is plugged in again
            instrument.start();
            driver.setDeviceOverride(QString::fromStdString(instrument.devicePath()));
        }
    }

    void problem(const std::string& what) {
        ++problems;
        if (problems <= 20)
            std::fprintf(stderr, "cycle %d: %s\n", cycle, what.c_str());
    }

    // Runs a step, with a fault now and then; repeats it without the fault until it works.
    bool exchange(Step step) {
        const Fault f = pickFault(step);
        inject(f, step);
        ++faults[f];
        ++exchanges;
        auto outcome = runOnce(step);
        const bool harmless = f == Fault::None || f == Fault::Noise || f == Fault::Split;
        if (outcome == success(step) && window.status().rfind("Check sum", 0) != 0 &&
            window.status().rfind("ERROR", 0) != 0) {
            if (!harmless)
                problem(std::string("succeeded despite ") + FaultNames[int(f)]);
            clearFaults();
            return true;
        }
        if (harmless)
            problem(std::string("failed with ") +
                    (f == Fault::None ? "no fault" : FaultNames[int(f)]) + ": " + window.status());
        // A failure must end cleanly: port closed, both upload buttons usable.
        if (!outcome)
            problem("an exchange never ended");
        if (driver.session().busy() || driver.session().exchangeOpen())
            problem("the port stayed open after " + window.status());
        if (!sheet.commands.sdUpload || !sheet.commands.partUpload)
            problem("an upload button stayed disabled after " + window.status());
        clearFaults();
        ++exchanges;
        if (runOnce(step) != success(step)) {
            problem("the repeat failed: " + window.status());
            return false;
        }
        return true;
    }

    // ------------------------------------------------------------------ edits

    template <class Id> void moveSlider(Id id) {
        const Slider& s = sheet.slider(id);
        if (s.max <= s.min)
            return;
        sheet.setSlider(id, std::uniform_int_distribution<>(s.min, s.max)(random));
    }

    void editSystem() {
        for (int i = 0; i < 3; ++i) {
            const SysRow& r =
                systemCatalogue()[std::uniform_int_distribution<size_t>(0, SysCount - 1)(random)];
            if (r.v73Only && sheet.generation() != Generation::V73)
                continue; // disabled on the tab
            if (r.kind == SysKind::Delay || r.kind == SysKind::Whole || r.kind == SysKind::Tens)
                moveSlider(r.id);
            else if (r.kind == SysKind::TwoState)
                sheet.selectOption(r.id, std::uniform_int_distribution<>(0, 1)(random));
        }
    }

    void editPart() {
        for (int i = 0; i < 3; ++i) {
            const PartRow& r =
                partCatalogue()[std::uniform_int_distribution<size_t>(0, PartCount - 1)(random)];
            if (r.v73Only && sheet.generation() != Generation::V73)
                continue;
            if (r.kind == PartKind::Option)
                sheet.selectOption(r.id, std::uniform_int_distribution<>(0, 2)(random));
            else if (r.kind == PartKind::Code)
                sheet.setText(r.id,
                              std::to_string(std::uniform_int_distribution<>(0, 999999)(random)));
            else if (!r.slider.empty())
                moveSlider(r.id);
        }
    }

    // ------------------------------------------------------------------ texts

    std::vector<std::string> systemTexts() const {
        std::vector<std::string> t;
        for (const SysRow& r : systemCatalogue())
            t.push_back(sheet.text(r.id));
        return t;
    }
    std::vector<std::string> partTexts() const {
        std::vector<std::string> t;
        for (const PartRow& r : partCatalogue())
            t.push_back(sheet.text(r.id));
        return t;
    }
    void compare(const char* what, const std::vector<std::string>& expected,
                 const std::vector<std::string>& actual, bool system) {
        for (size_t i = 0; i < expected.size(); ++i)
            if (expected[i] != actual[i]) {
                const std::string_view stem =
                    system ? systemCatalogue()[i].stem : partCatalogue()[i].stem;
                problem(std::string(what) + " " + std::string(stem) + ": downloaded '" +
                        expected[i] + "', uploaded '" + actual[i] + "'");
            }
    }

    // ------------------------------------------------------------------ one cycle

    bool runCycle(const QTemporaryDir& dir) {
        // The instrument's logs and the fake window's records grow by design; they are the
        // test's, not the program's.
        instrument.clearLogs();
        window.statuses.clear();
        window.messages.clear();
        window.suggestedNames.clear();
        if (!exchange(Step::SystemUpload))
            return false;
        if (expectedSystem)
            compare("system", *expectedSystem, systemTexts(), true);
        editSystem();
        if (!exchange(Step::SystemDownload))
            return false;
        expectedSystem = systemTexts();

        const int part = std::uniform_int_distribution<>(1, 32)(random);
        sheet.setPartSelection(ZeroPad(std::to_string(part), 2));
        if (!exchange(Step::PartUpload))
            return false;
        if (auto it = expectedParts.find(part); it != expectedParts.end())
            compare("part", it->second, partTexts(), false);
        editPart();
        if (sheet.text(Part::CustCode).empty())
            sheet.setText(Part::CustCode, "1");
        if (!exchange(Step::PartDownload))
            return false;
        expectedParts[part] = partTexts();

        // Save As, then open what was saved into a fresh sheet.
        std::tm today{};
        today.tm_year = 126;
        today.tm_mday = 7;
        window.saveFiles.push_back(dir.filePath("soak.QX").toStdString());
        if (!SaveAsCommand(sheet, window, today)) {
            problem("Save As failed");
            return false;
        }
        Sheet opened;
        FakeWindow reader;
        reader.yesNoDefault = Answer::No; // a V7.0 file stays V7.0
        reader.openFiles.push_back(sheet.filePath);
        if (!OpenCommand(opened, reader) || ParamFileText(opened) != ParamFileText(sheet))
            problem("the saved file opens to another sheet");
        return true;
    }

    // The final state: clean uploads of the system and of every part downloaded give back
    // what was last sent.
    void verifyInstrument() {
        faultRate = 0;
        if (!exchange(Step::SystemUpload))
            return;
        if (expectedSystem)
            compare("final system", *expectedSystem, systemTexts(), true);
        for (const auto& [part, texts] : expectedParts) {
            sheet.setPartSelection(ZeroPad(std::to_string(part), 2));
            if (exchange(Step::PartUpload))
                compare("final part", texts, partTexts(), false);
        }
    }

    sim::Instrument instrument;
    Sheet sheet;
    FakeWindow window;
    qt::SessionDriver driver;
    std::mt19937 random;
    double faultRate;

    int cycle = 0;
    int exchanges = 0;
    int problems = 0;
    std::map<Fault, int> faults;
    std::optional<std::vector<std::string>> expectedSystem;
    std::map<int, std::vector<std::string>> expectedParts;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int cycles = 1000;
    unsigned seed = 1;
    double faultRate = 0.15;
    Generation generation = Generation::V73;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--cycles")
            cycles = std::atoi(argv[i + 1]);
        else if (a == "--seed")
            seed = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
        else if (a == "--fault-rate")
            faultRate = std::atof(argv[i + 1]);
        else if (a == "--generation")
            generation = std::string(argv[i + 1]) == "7.0" ? Generation::V70 : Generation::V73;
    }

    QTemporaryDir dir;
    Soak soak(generation, seed, faultRate);
    if (!dir.isValid() || !soak.start()) {
        std::fprintf(stderr, "pp-soak: cannot start the simulated instrument\n");
        return 2;
    }

    QElapsedTimer clock;
    clock.start();
    long rssStart = 0;
    long rssPeak = 0;
    for (soak.cycle = 1; soak.cycle <= cycles; ++soak.cycle) {
        if (!soak.runCycle(dir))
            break;
        const long rss = residentKb();
        if (soak.cycle == 10) // after the first allocations have settled
            rssStart = rss;
        rssPeak = std::max(rssPeak, rss);
        if (soak.cycle % 100 == 0)
            std::printf("cycle %4d  %6.1f s  resident %ld kB\n", soak.cycle,
                        clock.elapsed() / 1000.0, rss);
        std::fflush(stdout);
    }
    const int done = std::min(soak.cycle, cycles);

    const long rssEnd = residentKb();
    soak.verifyInstrument();
    std::printf("\ncycles             %d of %d\n", done, cycles);
    std::printf("exchanges          %d (repeats included)\n", soak.exchanges);
    for (const auto& [fault, count] : soak.faults)
        if (fault != Fault::None)
            std::printf("  %-16s %d\n", FaultNames[int(fault)], count);
    std::printf("parts touched      %zu\n", soak.expectedParts.size());
    std::printf("resident at cycle 10  %ld kB\n", rssStart);
    std::printf("resident at the end   %ld kB (peak %ld kB)\n", rssEnd, rssPeak);
    std::printf("time               %.1f s\n", clock.elapsed() / 1000.0);
    std::printf("problems           %d\n", soak.problems);
    return soak.problems == 0 && done == cycles ? 0 : 1;
}
