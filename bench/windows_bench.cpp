// pp-bench-windows: the Windows command line under Wine and the Linux one, in turns in the same
// run, each against a simulated QX7400 of its own paced at 9600 baud: `read 5 -o FILE`, then
// `write FILE`. Prints a Markdown table (bench/windows.sh runs it).
//
// A transfer is timed on the line, from the instrument's byte timeline: from the first byte of
// the program's first frame to the last byte of the instrument's last answer, with the wire time
// of the program's own bytes added (a pseudo-terminal hands them over at once), as in the other
// transfer rows. That is what the program makes the technician wait for; the whole process is
// shown beside it, and under Wine it includes starting the Windows side of a process.
//
//   pp-bench-windows --windows-cli PATH.exe [--linux-cli PATH] [--repeats N]
//
// The Windows program talks to COM3 of $WINEPREFIX, linked to its instrument for each run;
// that prefix's wineserver should be running already (bench/windows.sh starts it).
#include "sim/instrument.h"
#include "timeline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace pp::bench;

struct Sample {
    double lineMs = 0, programMs = 0, turnMs = 0, processMs = 0;
};

struct Side {
    std::string name;
    bool windows = false;
    QString program;
};

std::string fixed(double v, int decimals = 1) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::vector<double> field(const std::vector<Sample>& samples, double Sample::*member) {
    std::vector<double> values;
    for (const Sample& s : samples)
        values.push_back(s.*member);
    return values;
}

class Bench {
public:
    Bench(Side side, QString folder) : side_(std::move(side)), folder_(std::move(folder)) {}

    // One command against a fresh paced instrument; false (with a note) when it failed.
    bool run(const QStringList& command, Sample& sample, std::string& note) {
        pp::sim::Instrument instrument;
        instrument.setPacing(true);
        if (!instrument.start()) {
            note = "the simulated instrument did not start";
            return false;
        }
        QStringList args;
        QString program = side_.program;
        if (side_.windows) {
            const std::filesystem::path link =
                std::filesystem::path(qEnvironmentVariable("WINEPREFIX").toStdString()) /
                "dosdevices" / "com3";
            std::error_code ec;
            std::filesystem::remove(link, ec);
            std::filesystem::create_symlink(instrument.devicePath(), link, ec);
            if (ec) {
                note = "cannot link COM3: " + ec.message();
                return false;
            }
            program = QStringLiteral("/usr/lib/wine/wine64");
            args << side_.program << QStringLiteral("--port") << QStringLiteral("COM3");
        } else {
            args << QStringLiteral("--port") << QString::fromStdString(instrument.devicePath());
        }
        args << QStringLiteral("--history") << folder_ + QStringLiteral("/history.sqlite")
             << command;
        QProcess p;
        p.setWorkingDirectory(folder_);
        QElapsedTimer clock;
        clock.start();
        p.start(program, args);
        if (!p.waitForFinished(60000) || p.exitCode() != 0) {
            note = side_.name + " " + command.join(' ').toStdString() + ": " +
                   p.readAllStandardError().trimmed().toStdString();
            return false;
        }
        sample.processMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        const auto received = instrument.receivedTimeline();
        const auto sent = instrument.sentTimeline();
        if (received.empty() || sent.empty()) {
            note = "nothing on the line";
            return false;
        }
        const Figures f = analyse(received, sent, received.front().at, sent.back().at);
        if (!f.ok) {
            note = f.note;
            return false;
        }
        sample.lineMs = f.lineMs();
        sample.programMs = f.programMs();
        sample.turnMs = median(f.turn);
        return true;
    }

    const Side& side() const { return side_; }

private:
    Side side_;
    QString folder_;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The command line on Windows under Wine against the one on Linux."));
    parser.addHelpOption();
    const QCommandLineOption windowsCli(QStringLiteral("windows-cli"),
                                        QStringLiteral("paramporter-cli.exe"),
                                        QStringLiteral("path"));
    const QCommandLineOption linuxCli(QStringLiteral("linux-cli"),
                                      QStringLiteral("The Linux paramporter-cli."),
                                      QStringLiteral("path"), QStringLiteral(PP_BENCH_CLI));
    const QCommandLineOption repeats(QStringLiteral("repeats"),
                                     QStringLiteral("Rounds of both commands (default 9)."),
                                     QStringLiteral("n"), QStringLiteral("9"));
    parser.addOptions({windowsCli, linuxCli, repeats});
    parser.process(app);
    if (!parser.isSet(windowsCli) || qEnvironmentVariableIsEmpty("WINEPREFIX")) {
        std::cerr << "pp-bench-windows: --windows-cli and WINEPREFIX are needed\n";
        return 2;
    }
    const int rounds = std::max(1, parser.value(repeats).toInt());

    QTemporaryDir linuxDir, windowsDir;
    Bench linux({"Linux", false, parser.value(linuxCli)}, linuxDir.path());
    Bench windows({"Windows (Wine)", true, parser.value(windowsCli)}, windowsDir.path());
    const std::vector<std::pair<std::string, QStringList>> commands{
        {"read 5 -o FILE", {"read", "5", "-o", "part05.QX"}},
        {"write FILE", {"write", "part05.QX"}}};
    std::map<std::string, std::map<std::string, std::vector<Sample>>> results; // command, side
    for (int round = 0; round < rounds; ++round) {
        // Each side first in every other round: neither gets the quieter moment every time.
        std::vector<Bench*> order{&linux, &windows};
        if (round % 2)
            std::swap(order[0], order[1]);
        for (Bench* bench : order) {
            for (const auto& [name, command] : commands) {
                Sample sample;
                std::string note;
                if (!bench->run(command, sample, note)) {
                    std::cerr << "pp-bench-windows: FAILED: " << note << "\n";
                    return 1;
                }
                results[name][bench->side().name].push_back(sample);
                std::cerr << '.' << std::flush;
            }
        }
    }
    std::cerr << '\n';

    double load[1] = {0};
    getloadavg(load, 1);
    std::cout << "\n#### The command line on Linux and on Windows under Wine (paced at 9600 baud, "
              << rounds << " rounds in turns, load average " << fixed(load[0], 2) << ")\n\n"
              << "| Run | On the line ms, Linux / Windows (median) | Windows vs Linux | "
                 "Program ms, Linux / Windows | Turn-around ms median, Linux / Windows | "
                 "Whole process ms, Linux / Windows |\n"
              << "|---|---:|---:|---:|---:|---:|\n";
    double worstPercent = 0;
    for (const auto& [name, command] : commands) {
        (void)command;
        const auto& l = results[name]["Linux"];
        const auto& w = results[name]["Windows (Wine)"];
        const double lLine = median(field(l, &Sample::lineMs));
        const double wLine = median(field(w, &Sample::lineMs));
        const double percent = 100.0 * (wLine - lLine) / lLine;
        worstPercent = std::max(worstPercent, percent);
        std::cout << "| " << name << " | " << fixed(lLine) << " / " << fixed(wLine) << " | "
                  << (percent >= 0 ? "+" : "") << fixed(percent, 2) << " % | "
                  << fixed(median(field(l, &Sample::programMs)), 2) << " / "
                  << fixed(median(field(w, &Sample::programMs)), 2) << " | "
                  << fixed(median(field(l, &Sample::turnMs)), 3) << " / "
                  << fixed(median(field(w, &Sample::turnMs)), 3) << " | "
                  << fixed(median(field(l, &Sample::processMs)), 0) << " / "
                  << fixed(median(field(w, &Sample::processMs)), 0) << " |\n";
    }
    std::cout << "\n| Goal | Measured | |\n|---|---:|---|\n"
              << "| Windows read and write within 5 % of Linux's time on the line (median) | "
              << (worstPercent >= 0 ? "+" : "") << fixed(worstPercent, 2) << " % | "
              << (worstPercent <= 5 ? "met" : "MISSED") << " |\n";
    return 0;
}
