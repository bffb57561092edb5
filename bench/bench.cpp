// pp-bench: how much the editor adds to the line, how fast it starts and how much memory it
// keeps, against the simulated instrument paced at 9600 baud. Prints Markdown tables.
//
//   transfers  the session (SessionDriver + QSerialPort) in this process; the backup through
//              paramporter-cli's own code
//   port       what opening and closing the port costs, as every exchange does
//   startup    the real paramporter, offscreen, with pp-probe preloaded to see its first
//              window and to click its upload and download buttons (a slider step between
//              them, so the download has marks to clear)
//   undo       the same window: 200 steps undone and redone, each until it is painted
//   memory     the same, ten thousand exchanges and a slider step after each upload, against
//              an unpaced instrument
#include "app/cli.h"
#include "app/cli_commands.h"
#include "files/file_system.h"
#include "link/platform.h"
#include "link/session.h"
#include "qt/session_driver.h"
#include "sheet/sheet.h"
#include "sim/instrument.h"
#include "timeline.h"
#include "write_log.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSerialPort>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace pp::bench;
using pp::Generation;
using pp::Outcome;

constexpr std::string_view Success = "SUCCESS";
constexpr std::string_view SystemDone = "System Download successfully completed";
constexpr std::string_view PartDone = "Part Download successfully completed";

std::string fixed(double v, int decimals = 1) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

std::string genName(Generation g) {
    return g == Generation::V70 ? "V7.0" : "V7.3";
}

void progress(const std::string& text) {
    std::cerr << text << std::endl;
}

// Runs whose editor bytes had to be timed by the simulator's reads (see write_log.h).
int untimedWrites = 0;

// The editor's bytes, timed at its write() calls when every byte was seen there.
std::vector<pp::sim::ByteEvent> editorTimeline(const std::vector<pp::sim::ByteEvent>& written,
                                               const std::vector<pp::sim::ByteEvent>& read) {
    if (written.size() == read.size())
        return written;
    ++untimedWrites;
    return read;
}

// No dialogs in a benchmark: every question is answered No, every message kept.
class BenchWindow : public pp::Window {
public:
    void setStatus(std::string_view text) override { status_ = text; }
    std::string status() const override { return status_; }
    pp::Answer message(std::string_view text, pp::Buttons buttons, std::string_view) override {
        messages.emplace_back(text);
        return buttons == pp::Buttons::YesNo ? pp::Answer::No : pp::Answer::Ok;
    }
    std::vector<std::string> messages;

private:
    std::string status_;
};

// ------------------------------------------------------------------ transfers

class LinkRig {
public:
    explicit LinkRig(Generation g) : instrument(g), driver(sheet, window) {}

    bool start(bool paced) {
        instrument.setPacing(paced);
        if (!instrument.start())
            return false;
        driver.setDeviceOverride(QString::fromStdString(instrument.devicePath()));
        return true;
    }

    // One exchange, waited for on the event loop; the session's own time-out ends every one.
    Figures timed(const std::function<void()>& starter, Outcome expected, std::string_view status) {
        instrument.clearLogs();
        window.messages.clear();
        std::optional<Outcome> ended;
        Clock::time_point endAt;
        QEventLoop loop;
        const auto conn = QObject::connect(&driver, &pp::qt::SessionDriver::exchangeEnded, &loop,
                                           [&](Outcome outcome) {
                                               if (!ended) {
                                                   endAt = Clock::now();
                                                   ended = outcome;
                                               }
                                               loop.quit();
                                           });
        startRecordingWrites();
        const Clock::time_point startAt = Clock::now();
        starter();
        if (!ended)
            loop.exec();
        stopRecordingWrites();
        QObject::disconnect(conn);
        Figures f = analyse(editorTimeline(recordedWrites(), instrument.receivedTimeline()),
                            instrument.sentTimeline(), startAt, endAt);
        if (*ended != expected || window.status() != status) {
            f.ok = false;
            f.note = "ended with \"" + window.status() + "\"";
        }
        return f;
    }

    Figures systemUpload() {
        return timed([this] { driver.session().cmdSDUpload_Click(); }, Outcome::SystemRecord,
                     Success);
    }
    Figures partUpload(const std::string& pn) {
        sheet.AddPartNumber(pn);
        sheet.setPartSelection(pn);
        return timed([this] { driver.session().cmdPartUpload_Click(); }, Outcome::PartRecord,
                     Success);
    }
    Figures systemDownload() {
        return timed([this] { driver.session().cmdSDDnLoad_Click(); }, Outcome::SystemDownloadEnd,
                     SystemDone);
    }
    Figures partDownload() {
        return timed([this] { driver.session().cmdPartDnload_Click(); }, Outcome::PartDownloadEnd,
                     PartDone);
    }

    // A paramporter-cli command on its own session, from this process; `failed` says what went
    // wrong from its exit status, or nothing.
    Figures command(pp::cli::Options options,
                    const std::function<std::string(int, const std::string&)>& failed) {
        instrument.clearLogs();
        options.portDevice = instrument.devicePath();
        std::ostringstream out, err;
        pp::cli::Context context{out, err, false, {}, {}, &pp::realFileSystem(), {}, {}, {}};
        const std::time_t now = std::time(nullptr);
        context.today = *std::localtime(&now);
        startRecordingWrites();
        const Clock::time_point startAt = Clock::now();
        const int status = pp::cli::run(options, context);
        const Clock::time_point endAt = Clock::now();
        stopRecordingWrites();
        Figures f = analyse(editorTimeline(recordedWrites(), instrument.receivedTimeline()),
                            instrument.sentTimeline(), startAt, endAt);
        const std::string why = failed(status, err.str());
        if (!why.empty()) {
            f.ok = false;
            f.note = why;
        }
        return f;
    }

    // paramporter-cli backup --dir: a parameter file for each configured part number.
    Figures backup(int expectedFiles) {
        QTemporaryDir dir;
        pp::cli::Options options;
        options.command = pp::cli::Command::Backup;
        options.dir = dir.path().toStdString();
        return command(options, [&](int status, const std::string& err) {
            const int files = static_cast<int>(QDir(dir.path()).entryList(QDir::Files).size());
            return status == 0 && files == expectedFiles
                       ? std::string()
                       : "exit " + std::to_string(status) + ", " + std::to_string(files) +
                             " files: " + err;
        });
    }

    // paramporter-cli round over this one port: the same uploads, each recorded and compared
    // with what the history last knew of the instrument. As a nightly round finds it, the
    // history is there already: one round made it.
    Figures round() {
        QTemporaryDir dir;
        pp::cli::Options options;
        options.command = pp::cli::Command::Round;
        options.ports = {instrument.devicePath()};
        options.history = dir.filePath("round.sqlite").toStdString();
        const auto failed = [](int status, const std::string& err) {
            return status == 0 ? std::string() : "exit " + std::to_string(status) + ": " + err;
        };
        const Figures first = command(options, failed);
        return first.ok ? command(options, failed) : first;
    }

    pp::sim::Instrument instrument;
    pp::Sheet sheet;
    BenchWindow window;
    pp::qt::SessionDriver driver;
};

struct Row {
    std::string name;
    std::vector<Figures> runs;
};

void printTransferTable(const std::vector<Row>& rows) {
    std::cout << "| Run | Bytes out / in | Wire ms | Instrument ms | Elapsed ms | Program ms "
                 "(% of wire + instrument) | Turn-around ms median / worst | Start / finish ms "
                 "median |\n"
              << "|---|---:|---:|---:|---:|---:|---:|---:|\n";
    for (const Row& row : rows) {
        std::vector<double> elapsed, wire, instrument, program, percent, turns, starts, finishes;
        std::string notes;
        for (const Figures& f : row.runs) {
            if (!f.ok)
                notes += " FAILED: " + f.note;
            elapsed.push_back(f.lineMs());
            wire.push_back(f.wireMs);
            instrument.push_back(f.instrumentMs);
            program.push_back(f.programMs());
            percent.push_back(f.overheadPercent());
            turns.insert(turns.end(), f.turn.begin(), f.turn.end());
            starts.push_back(f.startMs);
            finishes.push_back(f.finishMs);
        }
        const Figures& first = row.runs.front();
        std::cout << "| " << row.name << notes << " | " << first.editorBytes << " / "
                  << first.answerBytes << " | " << fixed(median(wire)) << " | "
                  << fixed(median(instrument), 2) << " | " << fixed(median(elapsed)) << " | "
                  << fixed(median(program), 2) << " (" << fixed(median(percent), 2) << " %) | "
                  << (turns.empty() ? std::string("-")
                                    : fixed(median(turns), 3) + " / " + fixed(worst(turns), 3))
                  << " | " << fixed(median(starts), 3) << " / " << fixed(median(finishes), 3)
                  << " |\n";
    }
}

struct Goals {
    std::vector<double> turns;
    double worstRowPercent = 0; // the highest of the rows' medians
    double worstPercent = 0;    // the worst single run
    std::optional<double> paintedMs;
    std::optional<double> uploadEndMs;
    std::optional<long> rssStartKb, rssEndKb, rssMidKb;
    double worstWindowUpload = -1, worstWindowDownload = -1; // highest median of a row
    double roundPercent = -1;                                // the rounds' highest median
    std::vector<double> undoMs;
    std::vector<std::string> failures;
};

void account(const std::vector<Row>& rows, Goals& goals) {
    for (const Row& row : rows) {
        std::vector<double> percent;
        for (const Figures& f : row.runs) {
            goals.turns.insert(goals.turns.end(), f.turn.begin(), f.turn.end());
            percent.push_back(f.overheadPercent());
            goals.worstPercent = std::max(goals.worstPercent, f.overheadPercent());
            if (!f.ok)
                goals.failures.push_back(row.name + ": " + f.note);
        }
        goals.worstRowPercent = std::max(goals.worstRowPercent, median(percent));
    }
}

void runTransfers(int repeats, Goals& goals) {
    std::vector<Row> rows;
    for (Generation g : {Generation::V70, Generation::V73}) {
        LinkRig rig(g);
        if (!rig.start(true)) {
            goals.failures.push_back("instrument: " + rig.instrument.lastError());
            return;
        }
        const std::string gen = genName(g);
        progress("transfers " + gen + ": warming up");
        rig.systemUpload();
        rig.partUpload("05");
        Row sysUp{"System upload " + gen, {}}, partUp{"Part upload " + gen, {}};
        Row sysDown{"System download " + gen, {}}, partDown{"Part download " + gen, {}};
        for (int i = 0; i < repeats; ++i) {
            progress("transfers " + gen + ": round " + std::to_string(i + 1) + " of " +
                     std::to_string(repeats));
            sysUp.runs.push_back(rig.systemUpload());
            partUp.runs.push_back(rig.partUpload("05"));
            sysDown.runs.push_back(rig.systemDownload());
            rig.partUpload("05"); // the system download emptied the part sheet
            partDown.runs.push_back(rig.partDownload());
        }
        progress("transfers " + gen + ": backup of 32 part numbers");
        std::vector<int> all;
        for (int p = 1; p <= pp::sim::PartNumbers; ++p)
            all.push_back(p);
        rig.instrument.setConfiguredParts(all);
        Row backup{"Backup of 32 part numbers " + gen, {rig.backup(pp::sim::PartNumbers)}};
        progress("transfers " + gen + ": round of 32 part numbers");
        Row round{"Round of 32 part numbers, recorded " + gen, {rig.round()}};
        std::vector<double> percent;
        for (const Figures& f : round.runs)
            percent.push_back(f.overheadPercent());
        goals.roundPercent = std::max(goals.roundPercent, median(percent));
        for (Row* r : {&sysUp, &partUp, &sysDown, &partDown, &backup, &round})
            rows.push_back(std::move(*r));
    }
    std::cout << "\n### Transfers at 9600 baud\n\n";
    printTransferTable(rows);
    account(rows, goals);
}

// ------------------------------------------------------------------ the real program

struct ProbeRun {
    bool ok = false;
    std::string failure;
    std::optional<double> shownMs, paintedMs;
    std::map<int, long> rssKb;
    std::map<std::string, std::vector<double>> undoMs;    // by kind
    std::map<std::string, std::vector<double>> undoCpuMs; // the UI thread's CPU time
    std::optional<int> undoSteps;
    struct Step {
        std::string action;
        Clock::time_point start, end;
        std::string status;
        std::vector<pp::sim::ByteEvent> written; // the frames' bytes at their write() calls
    };
    std::vector<Step> steps;
};

Clock::time_point fromNs(long long ns) {
    return Clock::time_point(
        std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(ns)));
}

long long toNs(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

ProbeRun runProbe(const QString& app, const QString& probe, const std::string& device,
                  int exchanges, const QString& actions, int timeoutMs, Clock::time_point& t0,
                  int undoEdits = 0) {
    ProbeRun run;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("LD_PRELOAD"), probe);
    env.insert(QStringLiteral("PP_PROBE_EXCHANGES"), QString::number(exchanges));
    env.insert(QStringLiteral("PP_PROBE_ACTIONS"), actions);
    env.insert(QStringLiteral("PP_PROBE_TIMEOUT_MS"), QString::number(timeoutMs));
    env.insert(QStringLiteral("PP_PROBE_UNDO"), QString::number(undoEdits));
    // Short runs time each exchange on its own: the window has painted the last one first.
    env.insert(QStringLiteral("PP_PROBE_SETTLE_MS"),
               exchanges <= 8 ? QStringLiteral("100") : QStringLiteral("0"));
    // The frames' write times only for short runs: the log would weigh on a memory run.
    env.insert(QStringLiteral("PP_PROBE_WRITES"), exchanges <= 8 ? QStringLiteral("1") : QString());
    p.setProgram(app);
    p.setArguments({QStringLiteral("--port"), QString::fromStdString(device)});
    p.setProcessChannelMode(QProcess::SeparateChannels);
    t0 = Clock::now();
    env.insert(QStringLiteral("PP_PROBE_T0"), QString::number(toNs(t0)));
    p.setProcessEnvironment(env);
    p.start();
    if (!p.waitForFinished(timeoutMs + 10000)) {
        p.kill();
        p.waitForFinished();
        run.failure = "paramporter did not finish";
        return run;
    }
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    bool done = false;
    for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList w = line.split(QLatin1Char(' '));
        if (w[0] == QLatin1String("shown") && w.size() > 1)
            run.shownMs = w[1].toDouble();
        else if (w[0] == QLatin1String("painted") && w.size() > 1)
            run.paintedMs = w[1].toDouble();
        else if (w[0] == QLatin1String("rss") && w.size() > 2)
            run.rssKb[w[1].toInt()] = w[2].toLong();
        else if (w[0] == QLatin1String("undo") && w.size() > 3) {
            run.undoMs[w[1].toStdString()].push_back(w[2].toDouble());
            run.undoCpuMs[w[1].toStdString()].push_back(w[3].toDouble());
        } else if (w[0] == QLatin1String("undo-steps") && w.size() > 1)
            run.undoSteps = w[1].toInt();
        else if (w[0] == QLatin1String("step") && w.size() > 4)
            run.steps.push_back({w[2].toStdString(),
                                 fromNs(w[3].toLongLong()),
                                 fromNs(w[4].toLongLong()),
                                 w.mid(5).join(QLatin1Char(' ')).toStdString(),
                                 {}});
        else if (w[0] == QLatin1String("writes") && w.size() > 1) {
            const size_t step = static_cast<size_t>(w[1].toInt());
            if (step >= 1 && step <= run.steps.size())
                for (const QString& write : w.mid(2)) {
                    const QStringList parts = write.split(QLatin1Char(':'));
                    if (parts.size() == 2)
                        for (int i = 0; i < parts[1].toInt(); ++i)
                            run.steps[step - 1].written.push_back(
                                {fromNs(parts[0].toLongLong()), 0});
                }
        } else if (w[0] == QLatin1String("done"))
            done = true;
        else if (w[0] == QLatin1String("failed"))
            run.failure = line.toStdString();
    }
    run.ok = done || (exchanges == 0 && p.exitCode() == 0 && run.paintedMs);
    if (!run.ok && run.failure.empty())
        run.failure = "exit " + std::to_string(p.exitCode()) + ": " +
                      QString::fromUtf8(p.readAllStandardError()).toStdString();
    return run;
}

void runStartup(const QString& app, const QString& probe, int runs, Goals& goals) {
    // Launch to exit of --version: the cost of starting the binary at all.
    std::vector<double> version;
    std::string versionText;
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        const Clock::time_point t0 = Clock::now();
        p.start(app, {QStringLiteral("--version")});
        p.waitForFinished();
        version.push_back(ms(Clock::now() - t0));
        versionText = QString::fromUtf8(p.readAllStandardOutput()).trimmed().toStdString();
    }

    pp::sim::Instrument instrument(Generation::V73);
    instrument.setPacing(true);
    if (!instrument.start()) {
        goals.failures.push_back("instrument: " + instrument.lastError());
        return;
    }
    std::vector<double> shown, painted, uploaded;
    std::vector<Figures> uploads, downloads;
    for (int i = 0; i < runs; ++i) {
        progress("start-up: run " + std::to_string(i + 1) + " of " + std::to_string(runs));
        instrument.clearLogs();
        Clock::time_point t0;
        const ProbeRun run = runProbe(app, probe, instrument.devicePath(), 2,
                                      QStringLiteral("up,edit,down"), 60000, t0);
        if (!run.ok || run.steps.size() < 2) {
            goals.failures.push_back("start-up: " + run.failure);
            continue;
        }
        shown.push_back(*run.shownMs);
        painted.push_back(*run.paintedMs);
        uploaded.push_back(ms(run.steps[0].end - t0));
        const auto rx = instrument.receivedTimeline();
        const auto tx = instrument.sentTimeline();
        const std::string_view expected[] = {Success, SystemDone};
        for (size_t s = 0; s < 2; ++s) {
            const ProbeRun::Step& step = run.steps[s];
            Figures f = analyse(editorTimeline(step.written, slice(rx, step.start, step.end)),
                                slice(tx, step.start, step.end), step.start, step.end);
            if (step.status != expected[s]) {
                f.ok = false;
                f.note = "ended with \"" + step.status + "\"";
            }
            (s == 0 ? uploads : downloads).push_back(f);
        }
    }
    if (painted.empty())
        return;
    goals.paintedMs = median(painted);
    goals.uploadEndMs = median(uploaded);

    std::cout << "\n### Start-up of paramporter (offscreen, " << runs << " launches)\n\n"
              << "| From launch to | Median ms | Worst ms |\n|---|---:|---:|\n"
              << "| exit of `--version` (prints " << versionText << ") | " << fixed(median(version))
              << " | " << fixed(worst(version)) << " |\n"
              << "| first window shown | " << fixed(median(shown)) << " | " << fixed(worst(shown))
              << " |\n"
              << "| first window painted | " << fixed(median(painted)) << " | "
              << fixed(worst(painted)) << " |\n"
              << "| end of the first system upload (clicked once painted) | "
              << fixed(median(uploaded)) << " | " << fixed(worst(uploaded)) << " |\n";

    std::cout << "\n### The same transfers through the window (its buttons, its status bar, "
                 "the changed-value marks)\n\n";
    const std::vector<Row> rows{
        {"System upload V7.3, window", uploads},
        {"System download V7.3, window (one value marked before)", downloads}};
    printTransferTable(rows);
    account(rows, goals);
    auto rowMedian = [](const std::vector<Figures>& runs) {
        std::vector<double> percent;
        for (const Figures& f : runs)
            percent.push_back(f.overheadPercent());
        return median(percent);
    };
    goals.worstWindowUpload = rowMedian(uploads);
    goals.worstWindowDownload = rowMedian(downloads);
}

// ------------------------------------------------------------------ undo and redo

void runUndo(const QString& app, const QString& probe, int steps, Goals& goals) {
    pp::sim::Instrument instrument(Generation::V73);
    if (!instrument.start()) {
        goals.failures.push_back("instrument: " + instrument.lastError());
        return;
    }
    progress("undo: " + std::to_string(steps) + " steps undone and redone in the window");
    Clock::time_point t0;
    // One upload, then slider steps up to the window's limit of kept steps.
    const ProbeRun run = runProbe(app, probe, instrument.devicePath(), 1, QStringLiteral("up"),
                                  120000, t0, steps - 1);
    if (!run.ok || run.undoMs.empty()) {
        goals.failures.push_back("undo: " + (run.failure.empty() ? "no figures" : run.failure));
        return;
    }
    std::cout << "\n### Undo and redo in the window (" << steps
              << " steps: a system upload, then slider steps; from the action to the window "
                 "painted)\n\n| Step | Count | Median ms | Worst ms | UI thread CPU ms median / "
                 "worst |\n|---|---:|---:|---:|---:|\n";
    const std::pair<const char*, const char*> kinds[] = {
        {"undo-edit", "undo of a slider step"},
        {"redo-edit", "redo of a slider step"},
        {"undo-upload", "undo of the upload (every value changes)"},
        {"redo-upload", "redo of the upload"},
        {"full-repaint", "for comparison: the whole window painted"},
    };
    for (const auto& [kind, label] : kinds) {
        const auto it = run.undoMs.find(kind);
        if (it == run.undoMs.end())
            continue;
        const std::vector<double>& cpu = run.undoCpuMs.at(kind);
        std::cout << "| " << label << " | " << it->second.size() << " | "
                  << fixed(median(it->second), 3) << " | " << fixed(worst(it->second), 3) << " | "
                  << fixed(median(cpu), 3) << " / " << fixed(worst(cpu), 3) << " |\n";
        if (std::string_view(kind) != "full-repaint")
            goals.undoMs.insert(goals.undoMs.end(), it->second.begin(), it->second.end());
    }
}

// ------------------------------------------------------------------ where the time goes

// Every exchange opens the port and closes it again. QSerialPort takes a lock file for each
// open (created, synced to disk, removed on close): on a lock folder on disk rather than in
// memory that is most of what the program adds to an exchange.
void runPortCosts(int count) {
    pp::sim::Instrument instrument(Generation::V73);
    if (!instrument.start())
        return;
    QSerialPort port;
    port.setPortName(QString::fromStdString(instrument.devicePath()));
    std::vector<double> open, close;
    for (int i = 0; i < count; ++i) {
        const Clock::time_point t0 = Clock::now();
        port.open(QIODevice::ReadWrite);
        port.clear(QSerialPort::Input); // as the editor opens it
        const Clock::time_point t1 = Clock::now();
        port.close();
        open.push_back(ms(t1 - t0));
        close.push_back(ms(Clock::now() - t1));
    }
    std::vector<double> sync;
    const QString lockDir = QStringLiteral("/var/lock");
    const QByteArray probeFile = (lockDir + QStringLiteral("/pp-bench-sync-probe")).toLocal8Bit();
    for (int i = 0; i < count; ++i) {
        const int fd = ::open(probeFile.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            break;
        const Clock::time_point t0 = Clock::now();
        [[maybe_unused]] auto n = ::write(fd, "1234\n", 5);
        ::fdatasync(fd);
        sync.push_back(ms(Clock::now() - t0));
        ::close(fd);
        ::unlink(probeFile.constData());
    }
    const QStorageInfo storage(lockDir);
    std::cout << "\n### Where the program's time goes: the port, opened and closed for every "
                 "exchange ("
              << count << " times)\n\n| Step | Median ms | Worst ms |\n|---|---:|---:|\n"
              << "| QSerialPort open + clear of input, on the pseudo-terminal | "
              << fixed(median(open), 3) << " | " << fixed(worst(open), 3) << " |\n"
              << "| QSerialPort close | " << fixed(median(close), 3) << " | "
              << fixed(worst(close), 3) << " |\n";
    if (!sync.empty())
        std::cout << "| of the open: its lock file's write + fdatasync in " << lockDir.toStdString()
                  << " (" << storage.fileSystemType().toStdString() << ") | "
                  << fixed(median(sync), 3) << " | " << fixed(worst(sync), 3) << " |\n";
}

void runMemory(const QString& app, const QString& probe, int exchanges, Goals& goals) {
    // Memory does not depend on the pace: the exchanges run as fast as the pty goes.
    pp::sim::Instrument instrument(Generation::V73);
    if (!instrument.start()) {
        goals.failures.push_back("instrument: " + instrument.lastError());
        return;
    }
    progress("memory: " + std::to_string(exchanges) + " exchanges through the window");
    Clock::time_point t0;
    const ProbeRun run = runProbe(app, probe, instrument.devicePath(), exchanges,
                                  QStringLiteral("up,edit,down"), 1800000, t0);
    const double seconds = ms(Clock::now() - t0) / 1000;
    if (!run.ok) {
        goals.failures.push_back("memory: " + run.failure);
        return;
    }
    std::cout << "\n### Resident size of paramporter (" << exchanges
              << " exchanges, system uploads and downloads in turn with a slider step between, "
              << (run.undoSteps ? std::to_string(*run.undoSteps) : std::string("?"))
              << " undo steps kept at the end, " << fixed(seconds)
              << " s)\n\n| After | Resident MB |\n|---|---:|\n";
    for (const auto& [n, kb] : run.rssKb)
        std::cout << "| "
                  << (n == 0 ? std::string("start (first window painted)")
                             : std::to_string(n) + (n == 1 ? " exchange" : " exchanges"))
                  << " | " << fixed(static_cast<double>(kb) / 1024, 2) << " |\n";
    goals.rssStartKb = run.rssKb.begin()->second;
    goals.rssEndKb = run.rssKb.rbegin()->second;
    const auto mid = run.rssKb.lower_bound(std::max(1, exchanges / 10));
    if (mid != run.rssKb.end())
        goals.rssMidKb = mid->second;
}

void printGoals(const Goals& g) {
    std::cout << "\n### Goals\n\n| Goal | Measured | |\n|---|---:|---|\n";
    auto line = [](const std::string& goal, const std::string& measured, bool met) {
        std::cout << "| " << goal << " | " << measured << " | " << (met ? "met" : "MISSED")
                  << " |\n";
    };
    if (!g.turns.empty()) {
        const double med = median(g.turns), max = worst(g.turns);
        line("turn-around median < 1 ms", fixed(med, 3) + " ms", med < 1);
        line("turn-around worst < 5 ms", fixed(max, 3) + " ms", max < 5);
        line("elapsed within 2 % of wire + instrument (highest median of a row; worst single "
             "run " +
                 fixed(g.worstPercent, 2) + " %)",
             fixed(g.worstRowPercent, 2) + " %", g.worstRowPercent <= 2);
    }
    if (g.roundPercent >= 0)
        line("a round adds < 2 % to the wire time of its uploads (program ms, highest median)",
             fixed(g.roundPercent, 2) + " %", g.roundPercent < 2);
    if (g.worstWindowUpload >= 0) {
        line("window upload within 2 % of wire + instrument (median, marks on)",
             fixed(g.worstWindowUpload, 2) + " %", g.worstWindowUpload <= 2);
        line("window download within 1 % of wire + instrument (median, clears the marks)",
             fixed(g.worstWindowDownload, 2) + " %", g.worstWindowDownload <= 1);
    }
    if (!g.undoMs.empty())
        line("undo or redo step on screen < 5 ms (worst of every step)",
             fixed(worst(g.undoMs), 3) + " ms", worst(g.undoMs) < 5);
    if (g.paintedMs)
        line("launch to first window < 0.5 s (median)", fixed(*g.paintedMs) + " ms",
             *g.paintedMs < 500);
    if (g.rssStartKb && g.rssEndKb) {
        const double start = static_cast<double>(*g.rssStartKb) / 1024;
        const double end = static_cast<double>(*g.rssEndKb) / 1024;
        line("resident size < 60 MB", fixed(end, 1) + " MB", std::max(start, end) < 60);
        if (g.rssMidKb) {
            // Flat: after the first tenth of the exchanges it grows by less than 1 MB.
            const double growth = static_cast<double>(*g.rssEndKb - *g.rssMidKb) / 1024;
            line("resident size flat (growth over the last nine tenths < 1 MB)",
                 fixed(growth, 2) + " MB", growth < 1);
        }
    }
    if (untimedWrites > 0)
        std::cout << "\n"
                  << untimedWrites
                  << " runs timed the editor's bytes by the simulator's reads, not its writes.\n";
    for (const std::string& f : g.failures)
        std::cout << "\nFAILED: " << f << "\n";
}

std::string machine() {
    std::string cpu = "unknown CPU";
    QFile info(QStringLiteral("/proc/cpuinfo"));
    if (info.open(QIODevice::ReadOnly))
        for (const QByteArray& l : info.readAll().split('\n'))
            if (l.startsWith("model name")) {
                cpu = l.mid(l.indexOf(':') + 1).trimmed().toStdString();
                break;
            }
    double load[1] = {0};
    getloadavg(load, 1);
    return cpu + ", " + std::to_string(std::thread::hardware_concurrency()) +
           " cores, load average " + fixed(load[0], 2) + " at start";
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Speed and memory of ParamPorter against the simulated QX7400 at 9600 baud."));
    parser.addHelpOption();
    const QCommandLineOption repeats(QStringLiteral("repeats"),
                                     QStringLiteral("Rounds of the four transfers (default 5)."),
                                     QStringLiteral("n"), QStringLiteral("5"));
    const QCommandLineOption runs(QStringLiteral("launches"),
                                  QStringLiteral("Launches of paramporter timed (default 5)."),
                                  QStringLiteral("n"), QStringLiteral("5"));
    const QCommandLineOption exchanges(
        QStringLiteral("exchanges"), QStringLiteral("Exchanges of the memory run (default 10000)."),
        QStringLiteral("n"), QStringLiteral("10000"));
    const QCommandLineOption appOption(QStringLiteral("app"),
                                       QStringLiteral("The paramporter binary."),
                                       QStringLiteral("path"), QStringLiteral(PP_BENCH_APP));
    const QCommandLineOption probeOption(QStringLiteral("probe"),
                                         QStringLiteral("The probe library for LD_PRELOAD."),
                                         QStringLiteral("path"), QStringLiteral(PP_BENCH_PROBE));
    const QCommandLineOption only(QStringLiteral("only"),
                                  QStringLiteral("transfers, port, startup, undo or memory."),
                                  QStringLiteral("part"));
    parser.addOptions({repeats, runs, exchanges, appOption, probeOption, only});
    parser.process(app);
    const QString part = parser.value(only);
    auto wanted = [&](const char* name) { return part.isEmpty() || part == QLatin1String(name); };

    std::cout << "Measured on " << machine() << ".\n";
    Goals goals;
    if (wanted("transfers"))
        runTransfers(std::max(1, parser.value(repeats).toInt()), goals);
    if (wanted("port"))
        runPortCosts(200);
    if (wanted("startup"))
        runStartup(parser.value(appOption), parser.value(probeOption),
                   std::max(1, parser.value(runs).toInt()), goals);
    if (wanted("undo"))
        runUndo(parser.value(appOption), parser.value(probeOption), 200, goals);
    if (wanted("memory"))
        runMemory(parser.value(appOption), parser.value(probeOption),
                  std::max(1, parser.value(exchanges).toInt()), goals);
    printGoals(goals);
    std::cout << std::flush;
    return goals.failures.empty() ? 0 : 1;
}
