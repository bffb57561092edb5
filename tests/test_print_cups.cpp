// Printing through a real print system: a private CUPS scheduler with two cups-pdf queues.
// Where CUPS or cups-pdf cannot run here the tests are skipped with the reason.
#include "support/print_support.h"
#include "ui/dialogs/print_dialog.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QPrinterInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>

using namespace pp;
using namespace pp::testing;
using pp::ui::FormPrinter;

namespace {

const QString DefaultQueue = QStringLiteral("ppreport");
const QString OtherQueue = QStringLiteral("ppother");
const QString CupsPdfPpd = QStringLiteral("/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd");

// cups-pdf writes into the PDF folder in the job owner's home.
QString cupsPdfFolder() {
    const passwd* pw = getpwuid(getuid());
    return pw ? QString::fromLocal8Bit(pw->pw_dir) + "/PDF" : QString();
}

QStringList pdfsIn(const QString& folder) {
    return QDir(folder).entryList({"*.pdf"}, QDir::Files, QDir::Name);
}

int run(const QString& program, const QStringList& args, QString* output = nullptr) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(30000))
        return -1;
    if (output)
        *output = QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

} // namespace

class TestPrintCups : public QObject {
    Q_OBJECT
private:
    QTemporaryDir root_{QDir::tempPath() + "/ppcups-XXXXXX"};
    QProcess cupsd_;
    QString skipReason_;
    QStringList before_; // the PDFs that were there before, never touched

    bool writeFile(const QString& name, const QString& text) {
        QFile f(root_.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) == text.toUtf8().size();
    }

    QString startCups() {
        if (getuid() != 0)
            return "the cups-pdf backend runs only for root";
        if (QStandardPaths::findExecutable("cupsd", {"/usr/sbin", "/sbin"}).isEmpty() ||
            QStandardPaths::findExecutable("lpadmin").isEmpty())
            return "CUPS is not installed (packages cups, cups-client)";
        if (!QFileInfo::exists("/usr/lib/cups/backend/cups-pdf") || !QFileInfo::exists(CupsPdfPpd))
            return "cups-pdf is not installed (package printer-driver-cups-pdf)";
        if (!havePdfTools())
            return "poppler-utils are not installed";
        if (!root_.isValid())
            return "no temporary folder";

        // The scheduler's filters run as lp: they must reach the spool.
        QFile::setPermissions(root_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                QFile::ReadGroup | QFile::ExeGroup |
                                                QFile::ReadOther | QFile::ExeOther);
        for (const char* d : {"spool", "spool/tmp", "cache", "state", "log", "ppd"})
            QDir(root_.path()).mkpath(d);
        const QString socket = root_.filePath("cups.sock");
        const bool written =
            writeFile("cupsd.conf", "Listen " + socket +
                                        "\nLogLevel warn\nWebInterface No\nBrowsing No\n"
                                        "DefaultAuthType None\n"
                                        "<Location />\n  Order allow,deny\n  Allow all\n"
                                        "</Location>\n"
                                        "<Policy default>\n  <Limit All>\n    Order deny,allow\n"
                                        "  </Limit>\n</Policy>\n") &&
            writeFile("cups-files.conf",
                      "ServerRoot " + root_.path() + "\nRequestRoot " + root_.filePath("spool") +
                          "\nTempDir " + root_.filePath("spool/tmp") + "\nCacheDir " +
                          root_.filePath("cache") + "\nStateDir " + root_.filePath("state") +
                          "\nErrorLog " + root_.filePath("log/error_log") + "\nAccessLog " +
                          root_.filePath("log/access_log") + "\nPageLog " +
                          root_.filePath("log/page_log") +
                          "\nUser lp\nGroup lp\nSystemGroup lpadmin root\n");
        if (!written)
            return "cannot write the scheduler's configuration";

        // Every CUPS client in this process and its children talks to this scheduler only.
        qputenv("CUPS_SERVER", socket.toLocal8Bit());
        cupsd_.setProcessChannelMode(QProcess::MergedChannels);
        cupsd_.start(
            QStandardPaths::findExecutable("cupsd", {"/usr/sbin", "/sbin"}),
            {"-f", "-c", root_.filePath("cupsd.conf"), "-s", root_.filePath("cups-files.conf")});
        if (!cupsd_.waitForStarted(10000))
            return "cupsd does not start: " + cupsd_.errorString();
        QDeadlineTimer deadline(20000);
        while (run("lpstat", {"-r"}) != 0) {
            if (cupsd_.state() != QProcess::Running)
                return "cupsd stopped: " + QString::fromLocal8Bit(cupsd_.readAll()).trimmed();
            if (deadline.hasExpired())
                return "cupsd does not answer on " + socket;
            cupsd_.waitForReadyRead(100); // wakes early if it complains
        }
        for (const QString& queue : {DefaultQueue, OtherQueue}) {
            QString out;
            // poppler's cairo renderer keeps the text readable in the PDF cups-pdf writes.
            if (run("lpadmin",
                    {"-p", queue, "-E", "-v", "cups-pdf:/", "-P", CupsPdfPpd, "-o",
                     "pdftops-renderer-default=pdftocairo"},
                    &out) != 0)
                return "lpadmin cannot add " + queue + ": " + out.trimmed();
        }
        QString out;
        if (run("lpadmin", {"-d", DefaultQueue}, &out) != 0)
            return "lpadmin cannot set the default: " + out.trimmed();
        return {};
    }

    // The PDF cups-pdf made of one new job, read back and removed; empty when none came.
    QString nextJobText() {
        const QString folder = cupsPdfFolder();
        QStringList fresh;
        QDeadlineTimer deadline(90000);
        for (;;) {
            fresh.clear();
            for (const QString& f : pdfsIn(folder))
                if (!before_.contains(f))
                    fresh << f;
            // The queue is idle once the backend has finished writing.
            if (!fresh.isEmpty() && idle())
                break;
            if (deadline.hasExpired())
                return {};
            QTest::qWait(100);
        }
        const QString file = QDir(folder).filePath(fresh.first());
        const QString text = fresh.size() == 1 ? pdfText(file) : QString();
        for (const QString& f : fresh)
            QFile::remove(QDir(folder).filePath(f));
        return text;
    }

    bool idle() {
        QString out;
        run("lpstat", {"-o"}, &out);
        return out.trimmed().isEmpty();
    }

    int completedJobs(const QString& queue) {
        QString out;
        run("lpstat", {"-W", "completed", "-o", queue}, &out);
        return int(out.split('\n', Qt::SkipEmptyParts).size());
    }

    std::unique_ptr<FormPrinter> dialog(QStringList& messages) {
        auto d = std::make_unique<FormPrinter>();
        d->setMessageHook([&messages](const QString& text) { messages << text; });
        d->setClock(printedAt);
        d->setSheet(reportSheet());
        d->load();
        d->show();
        return d;
    }

private slots:
    void initTestCase() {
        skipReason_ = startCups();
        before_ = pdfsIn(cupsPdfFolder());
    }

    void init() {
        if (!skipReason_.isEmpty())
            QSKIP(qPrintable(skipReason_));
    }

    void cleanupTestCase() {
        if (cupsd_.state() != QProcess::NotRunning) {
            cupsd_.terminate();
            if (!cupsd_.waitForFinished(10000))
                cupsd_.kill();
        }
    }

    void listsTheQueuesWithTheDefaultChosen() {
        QStringList messages;
        auto d = dialog(messages);
        auto* combo = d->findChild<QComboBox*>("Combo1");
        QStringList listed;
        for (int i = 0; i < combo->count(); ++i)
            listed << combo->itemText(i);
        QVERIFY2(listed.contains(DefaultQueue) && listed.contains(OtherQueue),
                 qPrintable(listed.join(", ")));
        QCOMPARE(listed.last(), FormPrinter::pdfEntry());
        QCOMPARE(combo->currentText(), DefaultQueue);
        QVERIFY(messages.isEmpty());
    }

    void printDeliversTheReportToTheDefault() {
        QStringList messages;
        auto d = dialog(messages);
        const int done = completedJobs(DefaultQueue);
        QTest::mouseClick(d->findChild<QPushButton*>("cmdPrint"), Qt::LeftButton);
        QVERIFY(messages.isEmpty());
        QVERIFY(!d->isVisible());
        const QString text = nextJobText();
        QVERIFY2(!text.isEmpty(), "cups-pdf delivered no PDF");
        QCOMPARE(pdfWords(text), printedWords(composeReport(reportSheet(), printedAt())));
        QTRY_COMPARE_WITH_TIMEOUT(completedJobs(DefaultQueue), done + 1, 30000);
    }

    // The report goes to the entry chosen in the list, not to the default printer.
    void printUsesTheChosenQueue() {
        QStringList messages;
        auto d = dialog(messages);
        auto* combo = d->findChild<QComboBox*>("Combo1");
        combo->setCurrentIndex(combo->findText(OtherQueue));
        const int doneDefault = completedJobs(DefaultQueue);
        const int doneOther = completedJobs(OtherQueue);
        QTest::mouseClick(d->findChild<QPushButton*>("cmdPrint"), Qt::LeftButton);
        QVERIFY(messages.isEmpty());
        QVERIFY(!nextJobText().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(completedJobs(OtherQueue), doneOther + 1, 30000);
        QCOMPARE(completedJobs(DefaultQueue), doneDefault);
    }
};

QTEST_MAIN(TestPrintCups)
#include "test_print_cups.moc"
