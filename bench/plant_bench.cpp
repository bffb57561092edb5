// pp-bench-plant: what the plant's history server costs, against a PostgreSQL server of its own
// (tests/support/plant_server.sh, on 127.0.0.1, removed at the end). Prints a Markdown table:
//   - forwarding 10,000 queued entries (a history as the testers leave it) to the server;
//   - a plant query by serial number over 1,000,000 entries made on the server
//     (generate_series), in the process and as paramporter-cli history --server ... --serial;
//   - a system upload through the window at 9600 baud, with no server and with a server that
//     never answers (a port whose connection queue is full), and paramporter-cli read as a
//     whole process in both cases.
#include "history/forwarder.h"
#include "history/recording.h"
#include "history/server.h"
#include "history/store.h"
#include "qt/session_driver.h"
#include "sim/instrument.h"
#include "tests/support/plant_support.h"
#include "timeline.h"
#include "ui/history/history_actions.h"
#include "ui/history/plant_forwarding.h"
#include "ui/main/main_window.h"

#include "files/param_file.h"
#include "link/frames.h"
#include "link/records.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <iostream>
#include <map>

namespace {

using pp::bench::Clock;
using pp::bench::median;
using pp::bench::ms;
using pp::bench::worst;

std::string fixed(double v, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

void row(const std::string& what, const std::vector<double>& v, const std::string& unit = "ms") {
    std::cout << "| " << what << " | " << fixed(median(v), 3) << " | " << fixed(worst(v), 3)
              << " | " << unit << " |\n";
}

std::map<std::string, std::string> readInfo(const QString& path) {
    std::map<std::string, std::string> values;
    QFile f(path);
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray& line : f.readAll().split('\n'))
            if (const qsizetype eq = line.indexOf('='); eq > 0)
                values[line.left(eq).toStdString()] = line.mid(eq + 1).toStdString();
    return values;
}

bool admin(const std::string& uri, const std::string& sql) {
    pp::history::Connection c;
    pp::history::Limits limits;
    limits.answerTimeoutMs = 600000;
    if (!c.open(uri, limits) || !c.run(sql)) {
        std::cerr << "server: " << c.error() << "\n";
        return false;
    }
    return true;
}

// `count` entries of 20 instruments, as the history benchmark makes them.
bool fill(const std::string& db, int count) {
    pp::sim::Instrument instrument;
    pp::Sheet base;
    pp::DecodeSystemRecord(base, instrument.systemRecord());
    pp::history::Store store;
    if (!store.open(db))
        return false;
    for (int i = 0; i < count; ++i) {
        pp::history::Entry e;
        e.time = pp::history::utcTimestamp(1796000000000LL + i * 60000LL);
        e.user = "tech" + std::to_string(i % 7);
        e.host = "line-" + std::to_string(i % 20);
        e.port = "/dev/ttyUSB0";
        e.serial = std::to_string(1000 + i % 20);
        e.generation = "V7.3";
        const int part = (i / 20) % 33;
        pp::Sheet sheet = base;
        if (part) {
            sheet.setPartSelection(pp::ZeroPad(std::to_string(part), 2));
            pp::DecodePartRecord(sheet, instrument.partRecord(part));
            e.scope = pp::history::Scope::Part;
            e.part = sheet.partSelection();
        }
        sheet.setText(pp::Sys::Serial, e.serial);
        if (i % 10 == 9)
            sheet.setText(pp::Part::CustCode, std::to_string(i));
        e.action = i % 5 == 4 ? pp::history::Action::Download : pp::history::Action::Upload;
        e.result = "SUCCESS";
        e.file = pp::ParamFileText(sheet);
        if (!store.append(e))
            return false;
    }
    return true;
}

// System uploads through the window at 9600 baud, from the click to the end of the exchange.
std::vector<double> windowUploads(const QString& server, int runs, const QString& db) {
    pp::sim::Instrument instrument;
    instrument.setPacing(true);
    std::vector<double> times;
    if (!instrument.start())
        return times;
    pp::ui::MainWindow window;
    window.driver().setDeviceOverride(QString::fromStdString(instrument.devicePath()));
    auto* history = new pp::ui::HistoryActions(window, db.toStdString());
    new pp::ui::PlantForwarding(window, history->tap(), db.toStdString(), server);
    window.show();
    for (int i = 0; i < runs; ++i) {
        QEventLoop loop;
        const auto c = QObject::connect(&window.driver(), &pp::qt::SessionDriver::exchangeEnded,
                                        &loop, &QEventLoop::quit);
        const Clock::time_point start = Clock::now();
        window.session().cmdSDUpload_Click();
        loop.exec();
        times.push_back(ms(Clock::now() - start));
        QObject::disconnect(c);
    }
    return times;
}

double processMs(const QString& program, const QStringList& args, int okCode = 0,
                 int otherOkCode = 0) {
    QProcess p;
    const Clock::time_point start = Clock::now();
    p.start(program, args);
    p.waitForFinished(120000);
    const double took = ms(Clock::now() - start);
    return p.exitCode() == okCode || p.exitCode() == otherOkCode ? took : -1;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption queued(QStringLiteral("queued"),
                                    QStringLiteral("Entries forwarded at once (10000)."),
                                    QStringLiteral("n"), QStringLiteral("10000"));
    const QCommandLineOption plant(QStringLiteral("plant"),
                                   QStringLiteral("Entries on the server (1000000)."),
                                   QStringLiteral("n"), QStringLiteral("1000000"));
    parser.addOptions({queued, plant});
    parser.process(app);
    const int forwardCount = parser.value(queued).toInt();
    const int plantCount = parser.value(plant).toInt();

    QTemporaryDir dir;
    const QString info = dir.filePath("server.env");
    const QString script = QStringLiteral(PP_PLANT_SCRIPT);
    if (QProcess::execute(script, {"start", info, QStringLiteral(PP_PLANT_SQL)}) != 0)
        return 1;
    auto values = readInfo(info);
    if (values.count("PP_PLANT_SKIP")) {
        std::cerr << "no server: " << values["PP_PLANT_SKIP"] << "\n";
        return 1;
    }
    struct Stop {
        QString script, info;
        ~Stop() { QProcess::execute(script, {"stop", info}); }
    } stop{script, info};
    const std::string uri = values["PP_PLANT_URI"];
    const std::string adminUri = values["PP_PLANT_ADMIN"];

    // ---- forwarding a backlog
    const std::string db = dir.filePath("queued.sqlite").toStdString();
    std::cerr << "filling a history of " << forwardCount << " entries...\n";
    if (!fill(db, forwardCount))
        return 1;
    std::vector<double> forwarding;
    for (int i = 0; i < 3; ++i) {
        if (!admin(adminUri, "TRUNCATE paramporter.entry, paramporter.source RESTART IDENTITY") ||
            !admin(adminUri,
                   "SELECT paramporter.register_pc('" + pp::history::hostName() + "', 'pc')"))
            return 1;
        {
            pp::history::Store store;
            if (!store.open(db) || !store.forwardAllTo("another server"))
                return 1;
        }
        pp::history::Forwarder f(db, uri);
        const Clock::time_point start = Clock::now();
        const pp::history::ForwardResult r = f.forward();
        forwarding.push_back(ms(Clock::now() - start) / 1000);
        if (!r.done || r.forwarded != forwardCount) {
            std::cerr << "forward: " << r.error << "\n";
            return 1;
        }
    }

    // ---- the plant's entries, made on the server
    std::cerr << "making " << plantCount << " entries on the server...\n";
    const Clock::time_point making = Clock::now();
    if (!admin(adminUri, "TRUNCATE paramporter.entry, paramporter.source RESTART IDENTITY") ||
        !admin(adminUri,
               "INSERT INTO paramporter.entry (source, local_id, source_host, time, \"user\", "
               "host, port, action, scope, part, serial, generation, result, file, file_hash, "
               "previous_hash, hash) SELECT ('00000000-0000-4000-8000-' || lpad(to_hex(g % 40), "
               "12, '0'))::uuid, g / 40 + 1, convert_to('line-' || g % 40, 'UTF8'), "
               "to_char(timestamp '2026-01-01' + g * interval '31 s', "
               "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), convert_to('tech' || g % 7, 'UTF8'), "
               "convert_to('line-' || g % 40, 'UTF8'), '/dev/ttyUSB0'::bytea, CASE WHEN g % 5 = "
               "4 THEN 'download' ELSE 'upload' END, CASE WHEN g % 33 = 0 THEN 'system' ELSE "
               "'part' END, CASE WHEN g % 33 = 0 THEN NULL ELSE lpad((g % 33)::text, 2, '0') "
               "END, convert_to((100000 + g % 20000)::text, 'UTF8'), 'V7.3'::bytea, "
               "'SUCCESS'::bytea, convert_to(repeat('\"7.5\",', 60), 'UTF8'), md5(g::text) || "
               "md5(g::text), NULL, md5(g::text) || md5((g + 1)::text) FROM generate_series(0, " +
                   std::to_string(plantCount - 1) + ") g") ||
        // Each of the 40 PCs registered and its source bound, as plant IT leaves them.
        !admin(adminUri, "INSERT INTO paramporter.pc (host, login, registered_by) SELECT "
                         "convert_to('line-' || g, 'UTF8'), 'pc', 'bench' FROM "
                         "generate_series(0, 39) g ON CONFLICT DO NOTHING") ||
        !admin(adminUri,
               "INSERT INTO paramporter.source (source, login, host, head_local_id) "
               "SELECT ('00000000-0000-4000-8000-' || lpad(to_hex(g), 12, '0'))::uuid, "
               "'pc', convert_to('line-' || g, 'UTF8'), 0 FROM generate_series(0, 39) g") ||
        !admin(adminUri, "ANALYZE paramporter.entry"))
        return 1;
    const double makeS = ms(Clock::now() - making) / 1000;
    std::vector<double> queries, processes;
    {
        pp::history::Plant p;
        if (!p.open(uri, {}))
            return 1;
        for (int i = 0; i < 20; ++i) {
            pp::history::PlantFilter f;
            f.filter.serial = std::to_string(100000 + (i * 997) % 20000);
            const Clock::time_point start = Clock::now();
            const auto entries = p.list(f, 0, nullptr);
            queries.push_back(ms(Clock::now() - start));
            if (!entries || entries->empty())
                return 1;
        }
    }
    const QString cli = QStringLiteral(PP_BENCH_CLI);
    // The command line takes no password among its arguments: the password file has it.
    qputenv("PGPASSFILE", QByteArray::fromStdString(values["PP_PLANT_PGPASS"]));
    const QString login =
        QString::fromStdString("postgresql://pc@" + values["PP_PLANT_HOST"] + "/plant");
    for (int i = 0; i < 10; ++i)
        processes.push_back(processMs(cli, {"history", "--server", login, "--serial",
                                            QString::number(100000 + (i * 1999) % 20000)}));

    // ---- every instrument's scopes, as the audit reads them: 200 instruments of 33 scopes,
    // each round of 6600 entries one of every scope, a round in twenty approving, one in
    // thirty-seven revoking, each signed
    std::cerr << "making " << plantCount << " entries of 200 instruments on the server...\n";
    if (!admin(adminUri, "TRUNCATE paramporter.entry, paramporter.source RESTART IDENTITY") ||
        !admin(adminUri,
               "INSERT INTO paramporter.entry (source, local_id, source_host, time, order_time, "
               "\"user\", host, port, action, scope, part, serial, generation, result, file, "
               "file_hash, previous_hash, hash, format, meaning, reason, subject, subject_hash, "
               "signature) "
               "SELECT ('00000000-0000-4000-8000-' || lpad(to_hex(g % 40), 12, '0'))::uuid, g / "
               "40 + 1, convert_to('line-' || g % 40, 'UTF8'), to_char(t, "
               "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), t, convert_to('tech' || g % 7, 'UTF8'), "
               "convert_to('line-' || g % 40, 'UTF8'), '/dev/ttyUSB0'::bytea, CASE WHEN r % 37 = "
               "5 THEN 'revoke' WHEN r % 20 = 3 THEN 'approve' WHEN g % 5 = 4 THEN 'download' ELSE "
               "'upload' END, CASE WHEN s = 0 THEN 'system' ELSE 'part' END, CASE WHEN s = 0 "
               "THEN NULL ELSE lpad(s::text, 2, '0') END, convert_to((100000 + g % 200)::text, "
               "'UTF8'), 'V7.3'::bytea, 'SUCCESS'::bytea, CASE WHEN r % 37 <> 5 THEN "
               "convert_to(repeat('\"7.5\",', 150) || g, 'UTF8') END, CASE WHEN r % 37 <> 5 "
               "THEN md5(g::text) || md5(g::text) END, NULL, md5(g::text) || md5((g + 1)::text), "
               "4, CASE WHEN r % 37 <> 5 AND r % 20 = 3 THEN 'approved' END, CASE WHEN r % 37 = "
               "5 OR r % 20 = 3 THEN convert_to('first article', 'UTF8') END, CASE WHEN r % 37 "
               "<> 5 AND r % 20 = 3 THEN g END, CASE WHEN r % 37 <> 5 AND r % 20 = 3 THEN "
               "md5(g::text) || md5(g::text) END, CASE WHEN r % 37 = 5 OR r % 20 = 3 THEN "
               "convert_to('number ' || length(g::text) || ':' || g || E'\\n', 'UTF8') END FROM "
               "(SELECT g, g / 6600 AS r, (g / 200) "
               "% 33 "
               "AS s, timestamp '2026-01-01' + g * interval '31 s' AS t FROM "
               "generate_series(0, " +
                   std::to_string(plantCount - 1) + ") g) x") ||
        // Each of the 40 PCs registered and its source bound, as plant IT leaves them.
        !admin(adminUri, "INSERT INTO paramporter.pc (host, login, registered_by) SELECT "
                         "convert_to('line-' || g, 'UTF8'), 'pc', 'bench' FROM "
                         "generate_series(0, 39) g ON CONFLICT DO NOTHING") ||
        !admin(adminUri,
               "INSERT INTO paramporter.source (source, login, host, head_local_id) "
               "SELECT ('00000000-0000-4000-8000-' || lpad(to_hex(g), 12, '0'))::uuid, "
               "'pc', convert_to('line-' || g, 'UTF8'), 0 FROM generate_series(0, 39) g") ||
        !admin(adminUri, "ANALYZE paramporter.entry"))
        return 1;
    std::vector<double> scopes;
    size_t scopeCount = 0;
    for (int i = 0; i < 10; ++i) {
        pp::history::Plant p;
        const Clock::time_point start = Clock::now();
        const auto states = p.open(uri, {}) ? p.scopes({}) : std::nullopt;
        scopes.push_back(ms(Clock::now() - start));
        if (!states) {
            std::cerr << "scopes: " << p.error() << "\n";
            return 1;
        }
        scopeCount = states->size();
    }
    // The audit as plant IT runs it: the whole process, everything compared (exit 0 or 3).
    std::vector<double> audits;
    for (int i = 0; i < 10; ++i)
        audits.push_back(processMs(cli, {"audit", "--server", login}, 0, 3));

    // ---- a transfer with the server away
    pp::test::BlackHole hole;
    const QString away = QStringLiteral("postgresql://pc@127.0.0.1:%1/plant").arg(hole.port());
    std::vector<double> none, unreachable;
    for (int i = 0; i < 5; ++i) {
        const auto a = windowUploads({}, 4, dir.filePath("w1.sqlite"));
        const auto b = windowUploads(away, 4, dir.filePath("w2.sqlite"));
        none.insert(none.end(), a.begin(), a.end());
        unreachable.insert(unreachable.end(), b.begin(), b.end());
    }
    pp::sim::Instrument instrument;
    instrument.setPacing(true);
    std::vector<double> cliNone, cliAway;
    if (instrument.start()) {
        const QStringList read{"--port",    QString::fromStdString(instrument.devicePath()),
                               "--history", dir.filePath("c.sqlite"),
                               "read",      "5",
                               "-o",        dir.filePath("p.QX")};
        for (int i = 0; i < 3; ++i) {
            cliNone.push_back(processMs(cli, read));
            cliAway.push_back(processMs(cli, QStringList{"--history-server", away} + read));
        }
    }

    std::cout << "\n#### The plant's history server (PostgreSQL on 127.0.0.1; " << plantCount
              << " entries made on it in " << fixed(makeS, 1)
              << " s)\n\n| Measure | Median | Worst | |\n|---|---:|---:|---|\n";
    row("forwarding " + std::to_string(forwardCount) + " queued entries", forwarding, "s");
    row("plant query by serial number (50 entries of " + std::to_string(plantCount) + ")", queries);
    row("`paramporter-cli history --server URI --serial SN` (the whole process)", processes);
    row("every instrument's scopes, connected and read (`Plant::scopes`, " +
            std::to_string(scopeCount) + " scopes of 200 instruments)",
        scopes);
    row("`paramporter-cli audit --server URI` (the whole process, " + std::to_string(scopeCount) +
            " scopes of 200 instruments)",
        audits);
    row("system upload through the window, no server", none);
    row("system upload through the window, server unreachable", unreachable);
    row("`paramporter-cli read 5`, no server (the whole process)", cliNone);
    row("`paramporter-cli read 5`, server unreachable (the whole process)", cliAway);

    std::cout << "\n| Goal | Measured | |\n|---|---:|---|\n";
    auto goal = [](const std::string& name, const std::string& value, bool met) {
        std::cout << "| " << name << " | " << value << " | " << (met ? "met" : "MISSED") << " |\n";
    };
    goal("forwarding " + std::to_string(forwardCount) + " entries < 10 s (median)",
         fixed(median(forwarding), 2) + " s", median(forwarding) < 10);
    goal("plant query by serial number < 100 ms (median)", fixed(median(queries), 1) + " ms",
         median(queries) < 100);
    goal("200 instruments' scopes over " + std::to_string(plantCount) +
             " entries < 500 ms (median)",
         fixed(median(scopes), 1) + " ms", median(scopes) < 500);
    goal("audit of 200 instruments over " + std::to_string(plantCount) +
             " entries < 1 s as a whole process (median)",
         fixed(median(audits), 1) + " ms", median(audits) >= 0 && median(audits) < 1000);
    goal("a window transfer with the server unreachable takes no longer (median)",
         fixed(median(unreachable), 1) + " ms vs " + fixed(median(none), 1) + " ms",
         median(unreachable) <= median(none) * 1.02 + 0.5);
    return 0;
}
