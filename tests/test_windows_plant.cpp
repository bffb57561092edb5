// libpq's Windows build against the plant's PostgreSQL server, the Linux one CTest starts with
// support/plant_server.sh: a history made on Windows is forwarded once and only once, the
// server's copy is the same chain, and the command line lists it with a password from a
// password file. The plant's own suite (test_plant) runs on Linux.
#include "history/forwarder.h"
#include "history/recording.h"
#include "history/server.h"
#include "history/store.h"
#include "support/history_support.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <map>

using namespace pp;

class TestWindowsPlant : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void forwardsOnceAndListsIt();

private:
    std::string value(const std::string& key) const {
        const auto it = info_.find(key);
        return it == info_.end() ? std::string() : it->second;
    }

    std::map<std::string, std::string> info_;
    QTemporaryDir dir_;
};

void TestWindowsPlant::initTestCase() {
    QFile f(qEnvironmentVariable("PP_PLANT_INFO"));
    if (!f.open(QIODevice::ReadOnly))
        QSKIP("no plant server: run through ctest (PP_PLANT_INFO)");
    for (const QByteArray& line : f.readAll().split('\n'))
        if (const qsizetype eq = line.indexOf('='); eq > 0)
            info_[line.left(eq).toStdString()] = line.mid(eq + 1).trimmed().toStdString();
    if (const std::string why = value("PP_PLANT_SKIP"); !why.empty())
        QSKIP(why.c_str());
    QVERIFY(dir_.isValid());
}

void TestWindowsPlant::forwardsOnceAndListsIt() {
    const std::string path =
        (dir_.path() + QStringLiteral("/Pr\u00fcfstand \u00e9/history.sqlite")).toStdString();
    QVERIFY(test::record(path, 3));

    // Plant IT registers this PC to the PC's login first.
    history::Plant it;
    QVERIFY2(it.open("postgresql://it:it-secret@" + value("PP_PLANT_HOST") + "/plant", {}),
             it.error().c_str());
    QVERIFY2(it.registerPc(history::hostName(), "pc"), it.error().c_str());

    history::Forwarder forwarder(path, value("PP_PLANT_URI"));
    history::ForwardResult r = forwarder.forward();
    QVERIFY2(r.done, r.error.c_str());
    QCOMPARE(r.forwarded, int64_t(3));
    QCOMPARE(r.queued, int64_t(0));
    r = forwarder.forward(); // nothing twice
    QVERIFY2(r.done, r.error.c_str());
    QCOMPARE(r.forwarded, int64_t(0));
    const history::Forwarder::Comparison compared = forwarder.compare();
    QVERIFY2(compared.error.empty(), compared.error.c_str());
    QCOMPARE(compared.onServer, int64_t(3));
    QCOMPARE(compared.result.firstBroken, int64_t(0));
    forwarder.close();

    // The reader's login, its password in the password file: the Windows command line.
    const QString pgpass = QDir::toNativeSeparators(
        QStringLiteral("Z:") + QString::fromStdString(value("PP_PLANT_PGPASS")));
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PGPASSFILE"), pgpass);
    cli.setProcessEnvironment(env);
    const QString reader = QStringLiteral("postgresql://quality@%1/plant")
                               .arg(QString::fromStdString(value("PP_PLANT_HOST")));
    cli.start(QStringLiteral(PP_CLI_BINARY),
              {QStringLiteral("history"), QStringLiteral("--server"), reader,
               QStringLiteral("--serial"), QStringLiteral("1234")});
    QVERIFY(cli.waitForFinished(60000));
    const QByteArray err = cli.readAllStandardError();
    QCOMPARE(cli.exitCode(), 0);
    QVERIFY2(err.isEmpty(), err.constData());
    const QList<QByteArray> lines = cli.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(lines.size(), 3);
    for (const QByteArray& line : lines)
        QVERIFY2(line.contains(" upload part 05 1234 "), line.constData());
}

QTEST_GUILESS_MAIN(TestWindowsPlant)
#include "test_windows_plant.moc"
