// Forwarding in the window: every recorded entry goes to the plant's history server from a
// thread of its own, which owns its own SQLite and libpq connections and shares nothing with the
// window but the queue in the history database. It wakes after each recorded entry and, while the
// server is away, tries again after a growing pause. The session, the sheet and the widgets never
// wait for it. The status bar tells how many entries wait (the last error as its tooltip);
// SetUp > "History Server..." chooses the server. The program attaches it to its window.
#pragma once

#include "history/forwarder.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QLabel;

namespace pp::qt {
class HistoryTap;
} // namespace pp::qt

namespace pp::ui {

class HistoryServerDialog;
class MainWindow;

// Lives on the forwarding thread.
class ForwardingWorker : public QObject {
    Q_OBJECT
public:
    static constexpr int FirstRetryMs = 2000;
    static constexpr int LastRetryMs = 60000;

    ForwardingWorker(std::string historyPath, const std::atomic<bool>& cancel);

    void setServer(const QString& uri); // empty: forward nothing
    void wake();                        // forward what is queued now

    static constexpr int PolicyEveryMs = 5 * 60 * 1000;

signals:
    void queueChanged(qint64 queued, const QString& lastError);
    // What a forward tells the user once (an entry the server kept as refused, ...).
    void noticed(const QStringList& notices);
    void policyChanged(const pp::history::PlantPolicy& policy);

private:
    void attempt();
    void copyPlant();

    std::string path_;
    const std::atomic<bool>& cancel_;
    std::unique_ptr<pp::history::Forwarder> forwarder_;
    QString uri_;
    QTimer retry_{this};
    QTimer refresh_{this};  // the plant's approvals and settings copied at least this often
    int pauseMs_ = 0;       // the pause before the next try; 0 while the server answers
    bool announce_ = false; // show the queue before the first try with a server
};

class PlantForwarding : public QObject {
    Q_OBJECT
public:
    PlantForwarding(MainWindow& window, qt::HistoryTap& tap, std::string historyPath, QString uri);
    ~PlantForwarding() override;

    QAction* serverAction() const { return serverAction_; }
    QLabel* panel() const { return panel_; }
    HistoryServerDialog* serverDialog() const; // once SetUp > History Server... was chosen
    const QString& server() const { return uri_; }

    void setServer(const QString& uri);
    void wake();
    void mnuHistoryServer_Click();

signals:
    // The queue as the status bar shows it, after each try.
    void queueShown(qint64 queued);
    // Another server, or none (empty).
    void serverChanged(const QString& uri);

private:
    static constexpr int NoticeRetryMs = 500;
    void showQueue(qint64 queued, const QString& lastError);
    // The forward's notices on the status bar, once no exchange runs: its own texts come first.
    void showNotices();

    MainWindow& main_;
    std::string path_;
    QString uri_;
    std::atomic<bool> cancel_{false};
    QThread thread_;
    ForwardingWorker* worker_ = nullptr;
    QLabel* panel_ = nullptr;
    QAction* serverAction_ = nullptr;
    QPointer<HistoryServerDialog> dialog_;
    std::optional<pp::history::PlantPolicy> policy_; // the server's, once copied
    QStringList notices_;
    QTimer noticeTimer_;
};

} // namespace pp::ui

Q_DECLARE_METATYPE(pp::history::PlantPolicy)
