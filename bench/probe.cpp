// pp-probe: loaded into the real paramporter with LD_PRELOAD, so its start-up and its window
// can be timed without a hook in the program. It watches for the first exposed window, then
// clicks the window's own transfer buttons and reports on standard output:
//
//   shown T          first window exposed      (T: ms since PP_PROBE_T0)
//   painted T        that expose handled, i.e. the window painted
//   rss N KB         resident size after N exchanges (0: right after the first paint)
//   step N ACTION S E STATUS   exchange N: steady-clock ns at the click and at its end
//   writes N T:B ...  with PP_PROBE_WRITES set: exchange N's frame writes, ns and bytes
//   done / failed REASON
//
// Environment: PP_PROBE_T0 (steady-clock ns at launch), PP_PROBE_ACTIONS ("up,down": system
// upload, system download, repeated in turn), PP_PROBE_EXCHANGES (how many, default 0),
// PP_PROBE_TIMEOUT_MS (default 600000). Ends the process with _exit: nothing after the
// measurement may ask a question.
#include "write_log.h"

#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QMetaMethod>
#include <QObject>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace {

long long nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

long long envNumber(const char* name, long long fallback) {
    bool ok = false;
    const long long v = qEnvironmentVariable(name).toLongLong(&ok);
    return ok ? v : fallback;
}

long residentKb() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void say(const QByteArray& line) {
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

[[noreturn]] void finish(int status) {
    std::fflush(stdout);
    _exit(status);
}

bool isCheckpoint(int n) {
    return n <= 1 || n == 10 || n == 100 || n % 500 == 0;
}

class Probe : public QObject {
    Q_OBJECT
public:
    Probe() {
        t0_ = envNumber("PP_PROBE_T0", nowNs());
        exchanges_ = static_cast<int>(envNumber("PP_PROBE_EXCHANGES", 0));
        timeoutMs_ = static_cast<int>(envNumber("PP_PROBE_TIMEOUT_MS", 600000));
        actions_ = qEnvironmentVariable("PP_PROBE_ACTIONS", QStringLiteral("up"))
                       .split(QLatin1Char(','), Qt::SkipEmptyParts);
        if (actions_.isEmpty())
            actions_ << QStringLiteral("up");
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!exposed_ && event->type() == QEvent::Expose && watched->isWindowType() &&
            static_cast<QWindow*>(watched)->isVisible()) {
            exposed_ = true;
            say("shown " + msSinceLaunch());
            // The expose is handled (and the window painted) before the next queued call.
            QTimer::singleShot(0, this, &Probe::painted);
        }
        return false;
    }

public slots:
    void exchangeEnded() {
        // Inside the session's callback: go on once it has returned and the window mirrored.
        QTimer::singleShot(0, this, &Probe::afterExchange);
    }

private:
    QByteArray msSinceLaunch() const {
        return QByteArray::number(static_cast<double>(nowNs() - t0_) / 1e6, 'f', 1);
    }

    void painted() {
        say("painted " + msSinceLaunch());
        say("rss 0 " + QByteArray::number(residentKb()));
        QTimer::singleShot(timeoutMs_, this, [] {
            say("failed timeout");
            finish(3);
        });
        if (exchanges_ <= 0)
            finish(0);
        if (!findWindow()) {
            say("failed no main window with cmdSDUpload and a session driver");
            finish(4);
        }
        next();
    }

    bool findWindow() {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            upload_ = top->findChild<QPushButton*>(QStringLiteral("cmdSDUpload"));
            if (!upload_)
                continue;
            download_ = top->findChild<QPushButton*>(QStringLiteral("cmdSDDnLoad"));
            status_ = top->findChild<QLabel*>(QStringLiteral("StatusBar1Panel1"));
            for (QObject* child : top->findChildren<QObject*>()) {
                const int signal = child->metaObject()->indexOfSignal("exchangeEnded(pp::Outcome)");
                if (signal < 0)
                    continue;
                const QMetaMethod slot =
                    metaObject()->method(metaObject()->indexOfSlot("exchangeEnded()"));
                return connect(child, child->metaObject()->method(signal), this, slot);
            }
        }
        return false;
    }

    void next() {
        const QString action = actions_[done_ % actions_.size()];
        QPushButton* button = action == QLatin1String("down") ? download_ : upload_;
        if (!button || !button->isEnabled()) {
            say("failed " + action.toUtf8() + " button missing or disabled");
            finish(5);
        }
        currentAction_ = action.toUtf8();
        if (recordWrites_)
            pp::bench::startRecordingWrites();
        clickedAt_ = nowNs();
        button->click();
    }

    void afterExchange() {
        const long long endedAt = nowNs();
        pp::bench::stopRecordingWrites();
        ++done_;
        const QByteArray status = status_ ? status_->text().toUtf8() : QByteArray("?");
        if (done_ <= 8)
            say("step " + QByteArray::number(done_) + ' ' + currentAction_ + ' ' +
                QByteArray::number(clickedAt_) + ' ' + QByteArray::number(endedAt) + ' ' + status);
        if (recordWrites_ && done_ <= 8)
            say("writes " + QByteArray::number(done_) + writesText());
        if (isCheckpoint(done_) || done_ == exchanges_)
            say("rss " + QByteArray::number(done_) + ' ' + QByteArray::number(residentKb()));
        if (done_ >= exchanges_) {
            say("done");
            finish(0);
        }
        next();
    }

    // " ns:bytes" for each write() of the exchange's frames.
    static QByteArray writesText() {
        QByteArray text;
        long long last = -1;
        int bytes = 0;
        auto flush = [&] {
            if (bytes > 0)
                text += ' ' + QByteArray::number(last) + ':' + QByteArray::number(bytes);
        };
        for (const auto& e : pp::bench::recordedWrites()) {
            const long long at =
                std::chrono::duration_cast<std::chrono::nanoseconds>(e.at.time_since_epoch())
                    .count();
            if (at != last) {
                flush();
                last = at;
                bytes = 0;
            }
            ++bytes;
        }
        flush();
        return text;
    }

    long long t0_ = 0;
    bool recordWrites_ = !qEnvironmentVariableIsEmpty("PP_PROBE_WRITES");
    int exchanges_ = 0;
    int timeoutMs_ = 0;
    QStringList actions_;
    bool exposed_ = false;
    QPushButton* upload_ = nullptr;
    QPushButton* download_ = nullptr;
    QLabel* status_ = nullptr;
    int done_ = 0;
    QByteArray currentAction_;
    long long clickedAt_ = 0;
};

// Runs inside the QApplication constructor, before main() builds the window.
void installProbe() {
    auto* probe = new Probe;
    QCoreApplication::instance()->installEventFilter(probe);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installProbe)

#include "probe.moc"
