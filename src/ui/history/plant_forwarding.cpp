#include "ui/history/plant_forwarding.h"

#include "history/plant_copy.h"
#include "history/server.h"

#include "qt/history_tap.h"
#include "qt/plant_policy.h"
#include "qt/server_location.h"
#include "ui/history/history_server_dialog.h"
#include "ui/main/main_window.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>

#include <algorithm>

namespace pp::ui {

// ------------------------------------------------------------------ the thread's side

ForwardingWorker::ForwardingWorker(std::string historyPath, const std::atomic<bool>& cancel)
    : path_(std::move(historyPath)), cancel_(cancel) {
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &ForwardingWorker::attempt);
    connect(&refresh_, &QTimer::timeout, this, &ForwardingWorker::attempt);
}

void ForwardingWorker::setServer(const QString& uri) {
    retry_.stop();
    pauseMs_ = 0;
    announce_ = true;
    forwarder_.reset();
    uri_ = uri;
    refresh_.stop();
    if (!uri.isEmpty()) {
        refresh_.start(PolicyEveryMs);
        forwarder_ = std::make_unique<pp::history::Forwarder>(path_, uri.toStdString());
        pp::history::Limits limits;
        limits.cancel = &cancel_;
        forwarder_->setLimits(limits);
    }
    attempt();
}

void ForwardingWorker::wake() {
    attempt();
}

void ForwardingWorker::attempt() {
    if (cancel_)
        return;
    if (!forwarder_) {
        emit queueChanged(0, {});
        return;
    }
    // A backlog found at start, or one left while the server is away, is shown before the
    // wait for the server.
    if (announce_ || pauseMs_ > 0) {
        announce_ = false;
        const pp::history::ForwardResult now = forwarder_->status();
        emit queueChanged(now.queued, QString::fromStdString(now.lastError));
    }
    const pp::history::ForwardResult r = forwarder_->forward();
    if (cancel_)
        return;
    emit queueChanged(r.queued, QString::fromStdString(r.error));
    if (const auto notices = pp::history::forwardNotices(r); !notices.empty()) {
        QStringList said;
        for (const std::string& n : notices)
            said << QString::fromStdString(n);
        emit noticed(said);
    }
    if (r.done) {
        pauseMs_ = 0;
        retry_.stop();
        copyPlant();
        return;
    }
    pauseMs_ = pauseMs_ == 0 ? FirstRetryMs : std::min(2 * pauseMs_, LastRetryMs);
    retry_.start(pauseMs_);
}

// The plant's approvals and settings copied into the history after every forward and every
// few minutes, on this thread: a download's question about its reason never waits for the
// network, and the checks of this PC follow the plant's also while it cannot be reached.
void ForwardingWorker::copyPlant() {
    if (uri_.isEmpty())
        return;
    pp::history::Limits limits;
    limits.cancel = &cancel_;
    limits.connectTimeoutMs = limits.answerTimeoutMs = 10000;
    std::string why;
    if (!pp::history::copyPlantState(path_, uri_.toStdString(), limits, why))
        return;
    if (const auto policy = pp::history::copiedPolicy(path_))
        emit policyChanged(*policy);
}

// ------------------------------------------------------------------ the window's side

PlantForwarding::PlantForwarding(MainWindow& window, qt::HistoryTap& tap, std::string historyPath,
                                 QString uri)
    : QObject(&window), main_(window), path_(historyPath), uri_(std::move(uri)) {
    panel_ = new QLabel(main_.statusBar());
    panel_->setObjectName(QStringLiteral("StatusBar1Forwarding"));
    panel_->setFrameShape(QFrame::StyledPanel);
    panel_->setFrameShadow(QFrame::Sunken);
    panel_->setContentsMargins(4, 0, 4, 0);
    panel_->hide();
    // Beside the port, which stays at the right end.
    QStatusBar* bar = main_.statusBar();
    auto* port = bar->findChild<QLabel*>(QStringLiteral("StatusBar1Panel4"));
    const bool portShown = port && !port->isHidden();
    if (port)
        bar->removeWidget(port);
    bar->addPermanentWidget(panel_);
    if (port) {
        bar->addPermanentWidget(port);
        port->setVisible(portShown);
    }

    serverAction_ = new QAction(QStringLiteral("&History Server..."), &main_);
    serverAction_->setObjectName(QStringLiteral("mnuHistoryServer"));
    if (auto* setup = main_.findChild<QMenu*>(QStringLiteral("mnuSetup"))) {
        const auto actions = setup->actions();
        QAction* before = nullptr;
        for (qsizetype i = 0; i + 1 < actions.size(); ++i)
            if (actions[i]->objectName() == QLatin1String("mnuComm"))
                before = actions[i + 1];
        setup->insertAction(before, serverAction_);
    }
    connect(serverAction_, &QAction::triggered, this, &PlantForwarding::mnuHistoryServer_Click);

    qRegisterMetaType<pp::history::PlantPolicy>();
    worker_ = new ForwardingWorker(std::move(historyPath), cancel_);
    worker_->moveToThread(&thread_);
    connect(worker_, &ForwardingWorker::queueChanged, this, &PlantForwarding::showQueue);
    noticeTimer_.setSingleShot(true);
    noticeTimer_.setInterval(NoticeRetryMs);
    connect(&noticeTimer_, &QTimer::timeout, this, &PlantForwarding::showNotices);
    connect(worker_, &ForwardingWorker::noticed, this, [this](const QStringList& notices) {
        notices_ << notices;
        showNotices();
    });
    // Downloads ask for a reason as the plant's settings say, once they have been read.
    connect(worker_, &ForwardingWorker::policyChanged, this,
            [this](const pp::history::PlantPolicy& policy) { policy_ = policy; });
    // With a server, never this PC's own rules: the copy's, else the strictest.
    main_.setPolicySource([this] {
        if (uri_.isEmpty())
            return qt::localPlantPolicy();
        if (!policy_)
            policy_ = pp::history::copiedPolicy(path_);
        return policy_.value_or(pp::history::unknownPlantPolicy());
    });
    connect(&tap, &qt::HistoryTap::recorded, worker_, &ForwardingWorker::wake);
    thread_.setObjectName(QStringLiteral("history forwarding"));
    thread_.start(QThread::LowPriority);
    setServer(uri_);
}

PlantForwarding::~PlantForwarding() {
    // A wait for the server notices the cancel within a tenth of a second.
    cancel_ = true;
    ForwardingWorker* worker = worker_;
    QMetaObject::invokeMethod(
        worker, [worker] { delete worker; }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

void PlantForwarding::setServer(const QString& uri) {
    if (uri != uri_) {
        policy_.reset();
        emit serverChanged(uri);
    }
    uri_ = uri;
    QMetaObject::invokeMethod(worker_, [w = worker_, uri] { w->setServer(uri); });
}

void PlantForwarding::wake() {
    QMetaObject::invokeMethod(worker_, &ForwardingWorker::wake);
}

void PlantForwarding::showQueue(qint64 queued, const QString& lastError) {
    const bool shown = !uri_.isEmpty() && queued > 0;
    panel_->setText(shown ? QString::fromStdString(pp::history::unforwardedText(queued))
                          : QString());
    panel_->setToolTip(shown ? lastError : QString());
    panel_->setVisible(shown);
    main_.reserveStatusWidth(shown ? panel_->sizeHint().width() : 0);
    emit queueShown(shown ? queued : 0);
}

void PlantForwarding::showNotices() {
    if (notices_.isEmpty())
        return;
    if (main_.busy()) {
        noticeTimer_.start();
        return;
    }
    main_.window().setStatus(notices_.join(QStringLiteral("; ")).toStdString());
    notices_.clear();
}

HistoryServerDialog* PlantForwarding::serverDialog() const {
    return dialog_;
}

void PlantForwarding::mnuHistoryServer_Click() {
    if (!dialog_) {
        dialog_ = new HistoryServerDialog(&main_);
        connect(dialog_, &QDialog::accepted, this, [this] {
            qt::storeHistoryServer(dialog_->uri());
            setServer(qt::historyServerUri());
        });
    }
    dialog_->setUri(qt::storedHistoryServer());
    dialog_->open();
}

} // namespace pp::ui
