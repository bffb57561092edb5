// pp-bench-history: what the history costs. Prints a Markdown table:
//   - recording: the time the history takes after each transfer (the recorder's own work on
//     the event loop, once the port is closed), with an empty history and with 100,000 entries;
//   - the History window opening on 100,000 entries until its first page is painted;
//   - paramporter-cli history --limit 20 on 100,000 entries, the whole process;
//   - the size of a database of 100,000 entries.
// The 100,000 entries are uploads and downloads of 32 part numbers and the system parameters
// of 20 instruments; one in ten changes a value, so most file texts repeat an earlier one.
#include "files/param_file.h"
#include "history/audit.h"
#include "history/recording.h"
#include "history/store.h"
#include "link/frames.h"
#include "link/records.h"
#include "qt/history_tap.h"
#include "qt/session_driver.h"
#include "sim/instrument.h"
#include "timeline.h"
#include "ui/history/history_dialog.h"
#include "ui/main/qt_window.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QProcess>
#include <QTableView>
#include <QTemporaryDir>

#include <iostream>
#include <map>

namespace {

using pp::bench::Clock;
using pp::bench::median;
using pp::bench::ms;
using pp::bench::worst;
using pp::history::Entry;

std::string fixed(double v, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

class QuietWindow : public pp::Window {
public:
    void setStatus(std::string_view text) override { status_ = text; }
    std::string status() const override { return status_; }
    pp::Answer message(std::string_view, pp::Buttons buttons, std::string_view) override {
        return buttons == pp::Buttons::YesNo ? pp::Answer::No : pp::Answer::Ok;
    }

private:
    std::string status_;
};

// The four transfers against the paced simulator, timing the recorder's slot: connected
// around it, so Qt calls the first before it and the second after it.
std::map<std::string, std::vector<double>> recordingCosts(const std::string& db, int rounds) {
    pp::sim::Instrument instrument;
    instrument.setPacing(true);
    std::map<std::string, std::vector<double>> costs;
    if (!instrument.start())
        return costs;
    pp::Sheet sheet;
    QuietWindow window;
    pp::qt::SessionDriver driver(sheet, window);
    driver.setDeviceOverride(QString::fromStdString(instrument.devicePath()));
    Clock::time_point before;
    QObject::connect(&driver, &pp::qt::SessionDriver::exchangeEnded,
                     [&](pp::Outcome) { before = Clock::now(); });
    pp::qt::HistoryTap tap(driver, db);
    std::string kind;
    QObject::connect(&driver, &pp::qt::SessionDriver::exchangeEnded,
                     [&](pp::Outcome) { costs[kind].push_back(ms(Clock::now() - before)); });
    auto run = [&](const std::string& name, void (pp::Session::*starter)()) {
        kind = name;
        QEventLoop loop;
        const auto c = QObject::connect(&driver, &pp::qt::SessionDriver::exchangeEnded, &loop,
                                        &QEventLoop::quit);
        (driver.session().*starter)();
        loop.exec();
        QObject::disconnect(c);
    };
    sheet.AddPartNumber("05");
    for (int i = 0; i < rounds; ++i) {
        run("System upload", &pp::Session::cmdSDUpload_Click);
        sheet.setPartSelection("05");
        run("Part upload", &pp::Session::cmdPartUpload_Click);
        run("Part download", &pp::Session::cmdPartDnload_Click);
        run("System download", &pp::Session::cmdSDDnLoad_Click);
    }
    return costs;
}

// 100,000 entries as a plant's testers would leave them.
bool fill(const std::string& db, int count) {
    pp::sim::Instrument instrument;
    pp::Sheet base;
    pp::DecodeSystemRecord(base, instrument.systemRecord());
    std::vector<pp::Sheet> parts;
    for (int p = 1; p <= 32; ++p) {
        pp::Sheet s = base;
        s.setPartSelection(pp::ZeroPad(std::to_string(p), 2));
        pp::DecodePartRecord(s, instrument.partRecord(p));
        parts.push_back(s);
    }
    pp::history::Store store;
    if (!store.open(db))
        return false;
    for (int i = 0; i < count; ++i) {
        Entry e;
        e.time = pp::history::utcTimestamp(1796000000000LL + i * 60000LL);
        e.user = "tech" + std::to_string(i % 7);
        e.host = "line-" + std::to_string(i % 20);
        e.port = "/dev/ttyUSB0";
        e.serial = std::to_string(1000 + i % 20);
        e.generation = "V7.3";
        const int part = (i / 20) % 33; // 0: the system parameters
        e.scope = part ? pp::history::Scope::Part : pp::history::Scope::System;
        e.action = i % 5 == 4 ? pp::history::Action::Download : pp::history::Action::Upload;
        e.result = i % 97 == 0 ? "Error - No response from QX7400" : "SUCCESS";
        pp::Sheet sheet = part ? parts[static_cast<size_t>(part - 1)] : base;
        sheet.setText(pp::Sys::Serial, e.serial);
        if (part)
            e.part = sheet.partSelection();
        else
            sheet.setPartSelection({});
        if (i % 10 == 9) // a changed value
            sheet.setText(pp::Part::CustCode, std::to_string(i));
        if (e.result == "SUCCESS" || e.action == pp::history::Action::Download)
            e.file = pp::ParamFileText(sheet);
        if (!store.append(e)) {
            std::cerr << "append: " << store.error() << "\n";
            return false;
        }
    }
    return true;
}

// The shape the audit reads: `count` entries of 200 instruments, each of its 33 scopes in turn
// (one round is 6600 entries), one round in twenty approving what it wrote, one in thirty-seven
// revoking; every file text its own.
bool fillAudit(const std::string& db, int count) {
    pp::history::Store store;
    if (!store.open(db))
        return false;
    const std::string file(900, 'v');
    for (int i = 0; i < count; ++i) {
        const int round = i / 6600, scope = (i / 200) % 33;
        Entry e;
        e.time = pp::history::utcTimestamp(1796000000000LL + i * 60000LL);
        e.user = "tech" + std::to_string(i % 7);
        e.host = "line-" + std::to_string(i % 20);
        e.port = "/dev/ttyUSB0";
        e.serial = std::to_string(100000 + i % 200);
        e.generation = "V7.3";
        e.scope = scope ? pp::history::Scope::Part : pp::history::Scope::System;
        e.part = scope ? pp::ZeroPad(std::to_string(scope), 2) : std::string();
        e.action = i % 5 == 4 ? pp::history::Action::Download : pp::history::Action::Upload;
        e.result = "SUCCESS";
        e.file = file + std::to_string(i);
        if (round % 37 == 5)
            e = pp::history::revocationOf(e.serial, e.scope, e.part, "values withdrawn");
        if (!store.append(e))
            return false;
        if (round % 20 == 3) {
            std::string refusal;
            auto a =
                pp::history::approvalFrom(e, "approved", "first article", refusal, {}, "quality");
            if (!a || !store.append(*a))
                return false;
            ++i;
        }
    }
    return true;
}

double firstPageMs(const std::string& db) {
    pp::ui::QtWindow window;
    const Clock::time_point start = Clock::now();
    pp::ui::HistoryDialog dialog(db, window);
    dialog.show();
    dialog.table()->viewport()->repaint(); // painted, not only laid out
    QCoreApplication::processEvents();
    const double took = ms(Clock::now() - start);
    return dialog.model()->rowCount() > 0 ? took : -1;
}

double cliMs(const QString& cli, const QString& db, const QStringList& args) {
    QProcess p;
    const Clock::time_point start = Clock::now();
    p.start(cli, QStringList{"--history", db} + args);
    p.waitForFinished(60000);
    const double took = ms(Clock::now() - start);
    return p.exitCode() == 0 && p.readAllStandardOutput().count('\n') > 0 ? took : -1;
}

// The auditor's report of the whole history as a whole process; -1 when it failed.
double reportMs(const QString& cli, const QString& db, const QString& out) {
    QFile::remove(out);
    QProcess p;
    const Clock::time_point start = Clock::now();
    p.start(cli, {"--history", db, "audit", "--report", out});
    p.waitForFinished(600000);
    const double took = ms(Clock::now() - start);
    return p.exitCode() == 0 && QFileInfo(out).size() > 0 ? took : -1;
}

void row(const std::string& what, const std::vector<double>& v, const std::string& unit = "ms") {
    std::cout << "| " << what << " | " << fixed(median(v), 3) << " | " << fixed(worst(v), 3)
              << " | " << unit << " |\n";
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption entries(QStringLiteral("entries"),
                                     QStringLiteral("Entries of the large history (100000)."),
                                     QStringLiteral("n"), QStringLiteral("100000"));
    const QCommandLineOption rounds(QStringLiteral("rounds"),
                                    QStringLiteral("Rounds of the four transfers (10)."),
                                    QStringLiteral("n"), QStringLiteral("10"));
    const QCommandLineOption reportOnly(QStringLiteral("report-only"),
                                        QStringLiteral("The auditor's report rows alone."));
    parser.addOptions({entries, rounds, reportOnly});
    parser.process(app);
    const int count = parser.value(entries).toInt();
    const int n = std::max(1, parser.value(rounds).toInt());

    QTemporaryDir dir;
    const std::string small = dir.filePath("small.sqlite").toStdString();
    const std::string large = dir.filePath("large.sqlite").toStdString();
    std::cerr << "filling a history of " << count << " entries...\n";
    const Clock::time_point filling = Clock::now();
    if (!fill(large, count))
        return 1;
    const double fillS = ms(Clock::now() - filling) / 1000;
    const QString cli = QStringLiteral(PP_BENCH_CLI);
    const QString db = QString::fromStdString(large);
    std::vector<double> pdfReport, csvReport;
    for (int i = 0; i < 3; ++i) {
        pdfReport.push_back(reportMs(cli, db, dir.filePath("report.pdf")));
        csvReport.push_back(reportMs(cli, db, dir.filePath("report.csv")));
    }
    const auto reportRows = [&] {
        row("`paramporter-cli audit --report FILE.pdf` of every entry (the whole process)",
            pdfReport);
        row("`paramporter-cli audit --report FILE.csv` of every entry (the whole process)",
            csvReport);
    };
    if (parser.isSet(reportOnly)) {
        std::cout << "\n| Measure (" << count
                  << " entries) | Median | Worst | |\n|---|---:|---:|---|\n";
        reportRows();
        std::cout << "| PDF size | "
                  << fixed(QFileInfo(dir.filePath("report.pdf")).size() / 1048576.0, 1)
                  << " | | MB |\n";
        return 0;
    }

    std::cout << "\n#### History (" << count << " entries: " << fixed(fillS, 1)
              << " s to write them one transaction each)\n\n"
              << "| Measure | Median | Worst | |\n|---|---:|---:|---|\n";
    std::vector<double> recording;
    for (const auto& [label, db] : {std::pair{"empty history", small}, {"large history", large}})
        for (const auto& [kind, costs] : recordingCosts(db, n)) {
            row("recording: " + kind + ", " + label, costs);
            recording.push_back(median(costs));
        }

    std::vector<double> pages, lists, verify;
    for (int i = 0; i < 5; ++i)
        pages.push_back(firstPageMs(large));
    for (int i = 0; i < 10; ++i)
        lists.push_back(cliMs(cli, db, {"history", "--limit", "20"}));
    verify.push_back(cliMs(cli, db, {"history", "--verify"}));
    row("History window: first page painted", pages);
    row("`paramporter-cli history --limit 20` (the whole process)", lists);
    row("`paramporter-cli history --verify` (the whole process)", verify);
    reportRows();
    std::vector<double> scopes, audit;
    {
        pp::history::Store store;
        if (!store.open(large, pp::history::Store::Mode::ReadOnly))
            return 1;
        for (int i = 0; i < 10; ++i) {
            const Clock::time_point start = Clock::now();
            if (!store.scopes({}))
                return 1;
            scopes.push_back(ms(Clock::now() - start));
        }
    }
    const std::string auditDb = dir.filePath("audit.sqlite").toStdString();
    std::cerr << "filling a history of " << count << " entries of 200 instruments...\n";
    if (!fillAudit(auditDb, count))
        return 1;
    size_t auditScopes = 0;
    for (int i = 0; i < 10; ++i) {
        pp::history::Store store;
        const Clock::time_point start = Clock::now();
        const auto states = store.open(auditDb, pp::history::Store::Mode::ReadOnly)
                                ? store.scopes({})
                                : std::nullopt;
        audit.push_back(ms(Clock::now() - start));
        if (!states)
            return 1;
        auditScopes = states->size();
    }
    // What recording an upload adds to find its drift: the approval in force and the last values
    // looked up, both read back and compared with the upload (real parameter files; where no
    // approval is in force the last values stand in for it, so both comparisons are made).
    std::vector<double> drift;
    {
        pp::history::Store store;
        if (!store.open(large, pp::history::Store::Mode::ReadOnly))
            return 1;
        const auto states = store.scopes({});
        if (!states || states->empty())
            return 1;
        for (size_t i = 0; i < 200; ++i) {
            const pp::history::ScopeState& s = (*states)[(i * 37) % states->size()];
            if (!s.latestValues)
                continue;
            const Clock::time_point start = Clock::now();
            const auto approved = store.approval(s.serial, s.scope, s.part);
            const auto last = store.lastKnown(s.serial, s.scope, s.part);
            const auto found =
                pp::history::findingsFor(*s.latestValues, approved ? approved : last, last);
            drift.push_back(ms(Clock::now() - start));
            (void)found;
        }
    }
    row("every instrument's scopes (`Store::scopes`, 20 instruments)", scopes);
    row("an upload's drift check: its approval and last values read and compared", drift);
    row("every instrument's scopes, opened and read (" + std::to_string(auditScopes) +
            " scopes of 200 instruments)",
        audit);
    const double mb = static_cast<double>(QFileInfo(db).size() + QFileInfo(db + "-wal").size()) /
                      (1024.0 * 1024.0);
    std::cout << "| database size | " << fixed(mb, 1) << " | | MB |\n";

    std::cout << "\n| Goal | Measured | |\n|---|---:|---|\n";
    auto goal = [](const std::string& name, double value, const std::string& unit, double limit) {
        std::cout << "| " << name << " | " << fixed(value, 1) << " " << unit << " | "
                  << (value >= 0 && value < limit ? "met" : "MISSED") << " |\n";
    };
    goal("recording adds < 2 ms to a transfer (highest median)", worst(recording), "ms", 2);
    goal("History window, first page < 200 ms (median)", median(pages), "ms", 200);
    goal("history --limit 20 < 100 ms (median)", median(lists), "ms", 100);
    goal("200 instruments' scopes < 500 ms (median)", median(audit), "ms", 500);
    goal("the drift check adds < 1 ms to an upload (median)", median(drift), "ms", 1);
    goal("audit --report of " + std::to_string(count) + " entries < 10 s (PDF, median)",
         median(pdfReport) / 1000, "s", 10);
    goal("database of " + std::to_string(count) + " entries < 200 MB", mb, "MB", 200);
    return 0;
}
