// The main window under test: its message boxes and file dialogs are answered from queues and
// recorded, its date is fixed, and no serial port of the machine is ever reached.
#pragma once

#include "sim/instrument.h"
#include "ui/features.h"
#include "ui/main/main_window.h"

#include <QAction>
#include <QApplication>
#include <QByteArray>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QString>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <ctime>
#include <deque>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace pp::test {

inline QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

inline std::tm date(int year, int month, int day) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    return t;
}

// The program's own settings (Recent Files) go to a folder of this test run, never to the
// user's.
inline void isolateSettings() {
    static QTemporaryDir folder;
    static const bool done = [] {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
        return true;
    }();
    (void)done;
}

// A path that is no serial device, for COMM n.
inline QByteArray noDevice(int n) {
    return QStringLiteral("/nonexistent/paramporter-test-%1").arg(n).toLatin1();
}
inline QByteArray commVariable(int n) {
    return QStringLiteral("PARAMPORTER_COMM%1").arg(n).toLatin1();
}

// Points every COMM number away from the machine's real ports.
inline void isolateCommPorts() {
    for (int n = 1; n <= 5; ++n)
        qputenv(commVariable(n).constData(), noDevice(n));
}

// The simulated instrument on COMM n for the life of the object.
struct SimulatorOnComm {
    pp::sim::Instrument instrument;
    int comm;
    bool started = false;
    explicit SimulatorOnComm(int n = 1, pp::Generation g = pp::Generation::V73)
        : instrument(g), comm(n) {
        started = instrument.start();
        qputenv(commVariable(comm).constData(), QByteArray::fromStdString(instrument.devicePath()));
    }
    ~SimulatorOnComm() { qputenv(commVariable(comm).constData(), noDevice(comm)); }
    SimulatorOnComm(const SimulatorOnComm&) = delete;
    SimulatorOnComm& operator=(const SimulatorOnComm&) = delete;
};

struct Message {
    QString text;
    pp::Buttons buttons;
    QString caption;
};

struct FileDialogCall {
    bool save;
    QString suggested;
};

// Message boxes take the next queued answer (Yes or OK when the queue is empty); file
// dialogs take the next queued path, an empty one standing for Cancel.
struct WindowFixture {
    std::unique_ptr<pp::ui::MainWindow> window;
    std::vector<Message> messages;
    std::deque<pp::Answer> answers;
    std::deque<QString> files;
    std::vector<FileDialogCall> dialogs;
    std::deque<std::optional<QString>> reasons; // nullopt: the reason dialog is cancelled
    std::vector<std::string> reasonsOffered;
    pp::qt::PlantPolicy policy;

    explicit WindowFixture(pp::ui::AppSettingsHooks hooks = {})
        : window((isolateSettings(), std::make_unique<pp::ui::MainWindow>(std::move(hooks)))) {
        pp::ui::attachFeatures(*window); // a test attaches its own history where it wants one
        window->window().setMessageHook(
            [this](const QString& text, pp::Buttons buttons, const QString& caption) {
                messages.push_back({text, buttons, caption});
                if (answers.empty())
                    return buttons == pp::Buttons::YesNo ? pp::Answer::Yes : pp::Answer::Ok;
                const pp::Answer a = answers.front();
                answers.pop_front();
                return a;
            });
        window->window().setFileHook(
            [this](bool save, const QString& suggested) -> std::optional<QString> {
                dialogs.push_back({save, suggested});
                if (files.empty())
                    return std::nullopt;
                const QString f = files.front();
                files.pop_front();
                if (f.isEmpty())
                    return std::nullopt;
                return f;
            });
        // Downloads are given the next queued reason; none queued: no reason, not cancelled.
        window->window().setReasonHook(
            [this](const std::vector<std::string>& offered, bool) -> std::optional<QString> {
                reasonsOffered = offered;
                if (reasons.empty())
                    return QString();
                const std::optional<QString> r = reasons.front();
                reasons.pop_front();
                return r;
            });
        // The plant's policy of the test, not the account's settings.
        window->setPolicySource([this] { return policy; });
        window->setClock([] { return date(2026, 12, 7); });
    }

    template <typename T> T* find(const QString& name) const { return window->findChild<T*>(name); }
    template <typename T> T* find(const char* name) const {
        return find<T>(QString::fromLatin1(name));
    }
    QAction* action(const char* name) const { return find<QAction>(name); }
    QPushButton* button(const char* name) const { return find<QPushButton>(name); }
    void click(const char* name) const { QTest::mouseClick(button(name), Qt::LeftButton); }
    // The text of a parameter's text box, "<missing>" when there is none.
    QString text(std::string_view textBox) const {
        auto* edit = find<QLineEdit>(qs(textBox));
        return edit ? edit->text() : QStringLiteral("<missing>");
    }
    QTabWidget* tabs() const { return find<QTabWidget>("SSTab1"); }
    QString status() const { return window->statusPanel(1)->text(); }
    QString path() const { return window->statusPanel(3)->text(); }
    // The texts of the message boxes shown so far.
    QStringList messageTexts() const {
        QStringList texts;
        for (const Message& m : messages)
            texts << m.text;
        return texts;
    }
};

// Runs `act` on the modal window that the caller is about to open, once it is up.
template <typename Act> void onNextModal(Act act) {
    QTimer::singleShot(0, [act] { act(QApplication::activeModalWidget()); });
}

} // namespace pp::test
