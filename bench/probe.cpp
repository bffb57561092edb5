// pp-probe: loaded into the real paramporter with LD_PRELOAD, so its start-up and its window
// can be timed without a hook in the program. It watches for the first exposed window, then
// clicks the window's own transfer buttons and reports on standard output:
//
//   shown T          first window exposed      (T: ms since PP_PROBE_T0)
//   painted T        that expose handled, i.e. the window painted
//   rss N KB         resident size after N exchanges (0: right after the first paint)
//   step N ACTION S E STATUS   exchange N: steady-clock ns at the click and at its end
//   writes N T:B ...  with PP_PROBE_WRITES set: exchange N's frame writes, ns and bytes
//   undo KIND MS CPU  with PP_PROBE_UNDO set: one undo or redo, from the action to the window
//                     painted, and the CPU time of the UI thread in it (KIND: undo-edit,
//                     redo-edit, undo-upload, redo-upload; full-repaint: the whole window
//                     painted, for comparison)
//   undo-steps N      the steps the window keeps at the end
//   done / failed REASON
//
// Environment: PP_PROBE_T0 (steady-clock ns at launch), PP_PROBE_ACTIONS ("up,edit,down":
// system upload, a step of the System Zero slider, system download, repeated in turn; an edit
// is no exchange), PP_PROBE_EXCHANGES (how many, default 0), PP_PROBE_UNDO (after the
// exchanges, that many slider steps, then all steps undone and redone one by one),
// PP_PROBE_SETTLE_MS (pause before each click after the first, default 0),
// PP_PROBE_TIMEOUT_MS (default 600000). Ends the process with _exit: nothing after the
// measurement may ask a question.
#include "write_log.h"

#include <QAction>
#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QMetaMethod>
#include <QObject>
#include <QPushButton>
#include <QScrollBar>
#include <QStringList>
#include <QTimer>
#include <QUndoStack>
#include <QWidget>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

long long nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// CPU time of this thread: on a machine shared with other work it shows the window's own cost.
long long threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
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
    return n <= 1 || n == 10 || n == 100 || n == 1000 || n % 2500 == 0;
}

class Probe : public QObject {
    Q_OBJECT
public:
    Probe() {
        t0_ = envNumber("PP_PROBE_T0", nowNs());
        exchanges_ = static_cast<int>(envNumber("PP_PROBE_EXCHANGES", 0));
        undoEdits_ = static_cast<int>(envNumber("PP_PROBE_UNDO", 0));
        settleMs_ = static_cast<int>(envNumber("PP_PROBE_SETTLE_MS", 0));
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
        if (exchanges_ <= 0 && undoEdits_ <= 0)
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
            slider_ = top->findChild<QScrollBar*>(QStringLiteral("scrSysZero"));
            undo_ = top->findChild<QAction*>(QStringLiteral("mnuUndo"));
            redo_ = top->findChild<QAction*>(QStringLiteral("mnuRedo"));
            stack_ = top->findChild<QUndoStack*>();
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

    // One step of the slider, up or down in turn, as an arrow click makes it.
    void edit() {
        if (!slider_) {
            say("failed no scrSysZero");
            finish(6);
        }
        slider_->triggerAction((edits_++ % 2) ? QAbstractSlider::SliderSingleStepSub
                                              : QAbstractSlider::SliderSingleStepAdd);
    }

    void next() {
        if (done_ >= exchanges_) {
            afterExchanges();
            return;
        }
        QString action = actions_[actionIndex_++ % actions_.size()];
        while (action == QLatin1String("edit")) {
            edit();
            action = actions_[actionIndex_++ % actions_.size()];
        }
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
        // A technician's next click comes after the window has shown the result: without the
        // pause the next exchange would pay for painting this one's.
        if (settleMs_ > 0)
            QTimer::singleShot(settleMs_, this, &Probe::next);
        else
            next();
    }

    void afterExchanges() {
        if (undoEdits_ > 0)
            timeUndo();
        if (stack_)
            say("undo-steps " + QByteArray::number(stack_->count()));
        say("done");
        finish(0);
    }

    // Slider steps after an upload, then every step undone and redone, each timed from the
    // action to the end of the paint it causes.
    void timeUndo() {
        if (!undo_ || !redo_ || !stack_) {
            say("failed no undo actions");
            finish(7);
        }
        QCoreApplication::processEvents();
        const int uploads = stack_->count();
        for (int i = 0; i < undoEdits_; ++i)
            edit();
        QCoreApplication::processEvents();
        const int steps = stack_->count();
        auto timed = [](QAction* action, const QByteArray& kind) {
            const long long start = nowNs();
            const long long cpuStart = threadCpuNs();
            action->trigger();
            QCoreApplication::processEvents(); // the changed widgets are painted here
            const long long end = nowNs();
            const long long cpu = threadCpuNs() - cpuStart;
            say("undo " + kind + ' ' +
                QByteArray::number(static_cast<double>(end - start) / 1e6, 'f', 3) + ' ' +
                QByteArray::number(static_cast<double>(cpu) / 1e6, 'f', 3));
        };
        for (int i = steps; i > 0; --i)
            timed(undo_, i > uploads ? "undo-edit" : "undo-upload");
        for (int i = 1; i <= steps; ++i)
            timed(redo_, i > uploads ? "redo-edit" : "redo-upload");
        // The floor of any change that touches every value: the whole window painted.
        QWidget* window = upload_->window();
        for (int i = 0; i < 5; ++i) {
            const long long start = nowNs();
            const long long cpuStart = threadCpuNs();
            window->repaint();
            say("undo full-repaint " +
                QByteArray::number(static_cast<double>(nowNs() - start) / 1e6, 'f', 3) + ' ' +
                QByteArray::number(static_cast<double>(threadCpuNs() - cpuStart) / 1e6, 'f', 3));
        }
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
    int undoEdits_ = 0;
    int settleMs_ = 0;
    int actionIndex_ = 0;
    int edits_ = 0;
    int timeoutMs_ = 0;
    QStringList actions_;
    bool exposed_ = false;
    QPushButton* upload_ = nullptr;
    QPushButton* download_ = nullptr;
    QLabel* status_ = nullptr;
    QScrollBar* slider_ = nullptr;
    QAction* undo_ = nullptr;
    QAction* redo_ = nullptr;
    QUndoStack* stack_ = nullptr;
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
