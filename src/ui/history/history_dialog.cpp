#include "ui/history/history_dialog.h"

#include "qt/clock.h"

#include "qt/strings.h"

#include "qt/server_location.h"
#include "ui/compare/compare_dialog.h"
#include "ui/main/qt_window.h"
#include "ui/main/screen_fit.h"

#include "files/file_commands.h"
#include "files/file_system.h"
#include "files/param_file.h"
#include "history/audit.h"
#include "history/entry_sheet.h"
#include "history/formats.h"
#include "link/status_texts.h"
#include "sheet/compare.h"

#include <QComboBox>
#include <QDate>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace pp::ui {

using qt::qs;

namespace {

using pp::history::Entry;

} // namespace

// ------------------------------------------------------------------ the dialog

HistoryDialog::HistoryDialog(std::string path, QtWindow& window, QWidget* parent)
    : QDialog(parent), path_(std::move(path)), window_(window), local_(path_) {
    setObjectName(QStringLiteral("frmHistory"));
    setWindowTitle(QStringLiteral("History"));
    model_ = new HistoryModel(source_, this);
    // The plant's entries wait for the network: a few seconds at most, never during a transfer.
    pp::history::Limits limits;
    limits.connectTimeoutMs = 5000;
    limits.answerTimeoutMs = 10000;
    limits.cancel = &cancel_;
    plant_.setLimits(limits);

    where_ = new QWidget(this);
    thisPc_ = new QRadioButton(QStringLiteral("This P&C"), where_);
    thisPc_->setObjectName(QStringLiteral("optHistoryThisPc"));
    thisPc_->setChecked(true);
    plantButton_ = new QRadioButton(QStringLiteral("Pla&nt"), where_);
    plantButton_->setObjectName(QStringLiteral("optHistoryPlant"));
    auto* whereLayout = new QHBoxLayout(where_);
    whereLayout->setContentsMargins(0, 0, 0, 0);
    whereLayout->addWidget(thisPc_);
    whereLayout->addWidget(plantButton_);
    whereLayout->addStretch(1);
    connect(plantButton_, &QRadioButton::clicked, this, [this] { showPlant(true); });
    connect(thisPc_, &QRadioButton::clicked, this, [this] { showPlant(false); });

    serial_ = new QLineEdit(this);
    serial_->setObjectName(QStringLiteral("txtHistorySerial"));
    serial_->setClearButtonEnabled(true);
    part_ = new QComboBox(this);
    part_->setObjectName(QStringLiteral("cmbHistoryPart"));
    part_->addItem(QStringLiteral("Any"));
    for (int n = 1; n <= 32; ++n)
        part_->addItem(QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')));
    action_ = new QComboBox(this);
    action_->setObjectName(QStringLiteral("cmbHistoryAction"));
    action_->addItems({QStringLiteral("Any"), QStringLiteral("upload"), QStringLiteral("download"),
                       QStringLiteral("approve"), QStringLiteral("revoke")});
    text_ = new QLineEdit(this);
    text_->setObjectName(QStringLiteral("txtHistoryText"));
    text_->setClearButtonEnabled(true);

    auto* filters = new QHBoxLayout;
    auto addFilter = [&](const QString& caption, QWidget* field, int stretch) {
        auto* label = new QLabel(caption, this);
        label->setBuddy(field);
        filters->addWidget(label);
        filters->addWidget(field, stretch);
    };
    addFilter(QStringLiteral("&Serial number:"), serial_, 1);
    addFilter(QStringLiteral("&Part number:"), part_, 0);
    addFilter(QStringLiteral("&Action:"), action_, 0);
    addFilter(QStringLiteral("&Text:"), text_, 2);

    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("lblHistoryProblem"));
    problem_->setWordWrap(true);
    problem_->hide();

    table_ = new QTableView(this);
    table_->setObjectName(QStringLiteral("tblHistory"));
    table_->setAccessibleName(QStringLiteral("History entries"));
    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->horizontalHeader()->setResizeContentsPrecision(50); // the rows in sight
    table_->setWordWrap(false);

    auto makeTree = [this](const char* name, const QString& caption, QLabel*& note,
                           const char* noteName) {
        auto* tree = new QTreeWidget(this);
        tree->setObjectName(QString::fromLatin1(name));
        tree->setAccessibleName(caption);
        note = new QLabel(this);
        note->setObjectName(QString::fromLatin1(noteName));
        note->setAlignment(Qt::AlignCenter);
        auto* page = new QWidget(this);
        auto* layout = new QVBoxLayout(page);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(tree, 1);
        layout->addWidget(note, 1);
        return std::pair{tree, page};
    };
    const QString parametersCaption = QStringLiteral("Parameters");
    const QString differencesCaption = QStringLiteral("Differences From Previous");
    auto [parameters, parametersPage] = makeTree("treeHistoryParameters", parametersCaption,
                                                 parametersNote_, "lblHistoryParameters");
    auto [differences, differencesPage] = makeTree("treeHistoryDifferences", differencesCaption,
                                                   differencesNote_, "lblHistoryDifferences");
    parameters_ = parameters;
    differences_ = differences;
    auto* details = new QTabWidget(this);
    details->setObjectName(QStringLiteral("tabHistoryDetails"));
    details->addTab(parametersPage, parametersCaption);
    details->addTab(differencesPage, differencesCaption);

    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(table_);
    split->addWidget(details);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);

    open_ = new QPushButton(QStringLiteral("Open in Editor"), this);
    open_->setObjectName(QStringLiteral("cmdOpenInEditor"));
    export_ = new QPushButton(QStringLiteral("Export..."), this);
    export_->setObjectName(QStringLiteral("cmdHistoryExport"));
    auto* csv = new QPushButton(QStringLiteral("Export CSV..."), this);
    csv->setObjectName(QStringLiteral("cmdHistoryExportCsv"));
    exportCsv_ = csv;
    approve_ = new QPushButton(QStringLiteral("Approve..."), this);
    approve_->setObjectName(QStringLiteral("cmdApprove"));
    approve_->setToolTip(QStringLiteral("Make these values the approved state of the instrument"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(approve_, QDialogButtonBox::ActionRole);
    buttons->addButton(open_, QDialogButtonBox::ActionRole);
    buttons->addButton(export_, QDialogButtonBox::ActionRole);
    buttons->addButton(csv, QDialogButtonBox::ActionRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(open_, &QPushButton::clicked, this, &HistoryDialog::openInEditor);
    connect(approve_, &QPushButton::clicked, this, &HistoryDialog::approveSelected);
    connect(export_, &QPushButton::clicked, this, &HistoryDialog::exportEntry);
    connect(csv, &QPushButton::clicked, this, &HistoryDialog::exportCsv);

    // The entries, and every instrument they name with its approved state.
    auto* entries = new QWidget(this);
    auto* entriesLayout = new QVBoxLayout(entries);
    entriesLayout->setContentsMargins(0, 0, 0, 0);
    entriesLayout->addLayout(filters);
    entriesLayout->addWidget(problem_);
    entriesLayout->addWidget(split, 1);
    instruments_ = new InstrumentsView(this);
    pages_ = new QTabWidget(this);
    pages_->setObjectName(QStringLiteral("tabHistory"));
    pages_->addTab(entries, QStringLiteral("&Entries"));
    pages_->addTab(instruments_, QStringLiteral("&Instruments"));
    connect(pages_, &QTabWidget::currentChanged, this, [this](int page) {
        // The entries' own commands stand for the entry selected on their page.
        for (QPushButton* b : {approve_, open_, export_, exportCsv_})
            b->setVisible(page == 0);
        if (page == 1)
            showInstruments();
    });
    connect(instruments_, &InstrumentsView::timelineRequested, this, &HistoryDialog::showTimeline);
    connect(instruments_, &InstrumentsView::restoreRequested, this, [this](const Entry& approval) {
        if (restorer_)
            restorer_(approval);
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(where_);
    layout->addWidget(pages_, 1);
    layout->addWidget(buttons);

    // Typing filters once it pauses: a text search reads the whole history.
    typing_.setSingleShot(true);
    typing_.setInterval(TypingPauseMs);
    connect(&typing_, &QTimer::timeout, this, &HistoryDialog::filtersChanged);
    connect(serial_, &QLineEdit::textChanged, &typing_, qOverload<>(&QTimer::start));
    connect(text_, &QLineEdit::textChanged, &typing_, qOverload<>(&QTimer::start));
    connect(serial_, &QLineEdit::returnPressed, this, &HistoryDialog::filtersChanged);
    connect(text_, &QLineEdit::returnPressed, this, &HistoryDialog::filtersChanged);
    connect(part_, &QComboBox::currentIndexChanged, this, &HistoryDialog::filtersChanged);
    connect(action_, &QComboBox::currentIndexChanged, this, &HistoryDialog::filtersChanged);
    connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &HistoryDialog::showDetails);

    // Room for the columns and details; on a smaller screen its room, the buttons in it.
    resize(sizeWithinScreen(this, QSize(960, 640)));
    reload();
}

void HistoryDialog::reload() {
    // The switch only where there is a plant server; without one, this PC's history.
    const QString server = qt::historyServerUri();
    where_->setVisible(!server.isEmpty());
    if (server.isEmpty() && showingPlant()) {
        source_ = &local_;
        model_->setSource(source_);
        thisPc_->setChecked(true);
    }
    if (!connecting_)
        plant_.setUri(server.toStdString());
    if (showingPlant() && busy_ && busy_()) {
        showProblem(qs(pp::text::WaitForTransfer));
        return;
    }
    if (connectingToPlant())
        return;

    const Entry* current = model_->entryAt(table_->currentIndex().row());
    const qint64 keep = current ? current->id : 0;
    QString problem;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    model_->setSource(source_);
    if (!source_->ready()) {
        problem = qs(source_->error());
        model_->setSource(nullptr);
        model_->load(model_->filter()); // empty
        model_->setSource(source_);
    } else if (!model_->load(model_->filter())) {
        problem = qs(source_->error());
    }
    QGuiApplication::restoreOverrideCursor();
    showProblem(problem);
    if (!columnsFitted_ && model_->rowCount() > 0) {
        // Once, to the first page: the columns keep their widths as more rows are read.
        table_->resizeColumnsToContents();
        // Reasons and findings come later than the first page often shows: room for them.
        for (int c : {HistoryModel::Reason, HistoryModel::Findings})
            table_->setColumnWidth(c, std::max(table_->columnWidth(c), 110));
        columnsFitted_ = true;
    }
    const bool selected =
        (keep && select(keep)) || (model_->rowCount() > 0 && select(model_->entryAt(0)->id));
    if (!selected)
        showDetails();
    if (pages_->currentWidget() == instruments_)
        instruments_->load(*source_);
}

HistoryDialog::~HistoryDialog() {
    // The connection's wait notices the cancel within a tenth of a second.
    cancel_ = true;
    if (connecting_) {
        connecting_->wait();
        delete connecting_;
    }
}

// Starts (or keeps waiting for) the plant server's connection off this thread; true while it
// runs, with the table empty and the note saying so.
bool HistoryDialog::connectingToPlant() {
    if (!showingPlant())
        return false;
    if (!connecting_) {
        if (!plant_.needsConnect())
            return false;
        connected_ = false;
        connecting_ = QThread::create([this] { connected_ = plant_.ready(); });
        connect(connecting_, &QThread::finished, this, &HistoryDialog::plantConnected);
        connecting_->start();
    }
    model_->setSource(nullptr);
    model_->load(model_->filter()); // empty, the filters kept
    problem_->setText(QString::fromLatin1(ConnectingText));
    problem_->setVisible(true);
    showDetails();
    return true;
}

void HistoryDialog::plantConnected() {
    connecting_->wait();
    delete connecting_;
    connecting_ = nullptr;
    if (!showingPlant())
        return;
    if (connected_) {
        reload();
        return;
    }
    // Tried again when the user asks next (Plant, a filter), never by itself.
    showProblem(qs(plant_.error()));
    showDetails();
}

void HistoryDialog::showProblem(const QString& problem) {
    problem_->setText(problem.isEmpty() ? QString()
                                        : QStringLiteral("The history cannot be read: ") + problem);
    problem_->setVisible(!problem.isEmpty());
}

void HistoryDialog::entryRecorded() {
    if (!showingPlant())
        reload();
}

bool HistoryDialog::showPlant(bool plant) {
    const bool allowed = !plant || (!qt::historyServerUri().isEmpty() && !(busy_ && busy_()));
    if (plant && !allowed && busy_ && busy_())
        window_.message(pp::text::WaitForTransfer);
    source_ = plant && allowed ? static_cast<pp::history::EntrySource*>(&plant_) : &local_;
    model_->setSource(source_);
    {
        const QSignalBlocker a(thisPc_), b(plantButton_);
        (showingPlant() ? plantButton_ : thisPc_)->setChecked(true);
    }
    table_->setCurrentIndex({});
    reload();
    return showingPlant() == plant;
}

void HistoryDialog::filtersChanged() {
    typing_.stop();
    pp::history::Filter f;
    f.serial = serial_->text().trimmed().toStdString();
    f.part = part_->currentIndex() > 0 ? part_->currentText().toStdString() : std::string();
    if (action_->currentIndex() > 0)
        f.action = pp::history::actionFromWord(action_->currentText().toStdString());
    f.text = text_->text().toStdString();
    if (showingPlant() && busy_ && busy_()) {
        showProblem(qs(pp::text::WaitForTransfer));
        return;
    }
    if (showingPlant() && (connecting_ || plant_.needsConnect())) {
        model_->setSource(nullptr);
        model_->load(f); // kept for when the server has answered
        connectingToPlant();
        return;
    }
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const bool loaded = model_->load(f);
    QGuiApplication::restoreOverrideCursor();
    if (!loaded)
        showProblem(qs(source_->error()));
    if (model_->rowCount() == 0 || !select(model_->entryAt(0)->id))
        showDetails();
}

bool HistoryDialog::select(qint64 id) {
    const int row = model_->rowOf(id);
    if (row < 0)
        return false;
    table_->setCurrentIndex(model_->index(row, 0));
    table_->scrollTo(model_->index(row, 0));
    return true;
}

std::optional<Entry> HistoryDialog::selectedEntry() {
    const Entry* e = model_->entryAt(table_->currentIndex().row());
    if (!e)
        return std::nullopt;
    if (showingPlant() && (connecting_ || (busy_ && busy_())))
        return std::nullopt;
    return source_->entry(e->id);
}

void HistoryDialog::showNote(QLabel* note, QTreeWidget* tree, const QString& text) {
    note->setText(text);
    note->setVisible(!text.isEmpty());
    tree->setVisible(text.isEmpty());
    if (!text.isEmpty())
        tree->clear();
}

void HistoryDialog::showDetails() {
    const std::optional<Entry> e = selectedEntry();
    open_->setEnabled(e && e->file);
    export_->setEnabled(e && e->file);
    // Only a transfer's values can be approved: what was read from or written to an instrument.
    approve_->setEnabled(
        e && e->file && e->succeeded() &&
        (e->action == pp::history::Action::Upload || e->action == pp::history::Action::Download) &&
        !e->serial.empty());
    if (!e) {
        showNote(parametersNote_, parameters_, QString());
        showNote(differencesNote_, differences_, QString());
        parameters_->clear();
        differences_->clear();
        return;
    }
    pp::history::QuietWindow quiet;
    pp::Sheet sheet;
    if (!e->file) {
        const QString none = QStringLiteral("no parameters: the upload failed");
        showNote(parametersNote_, parameters_, none);
        showNote(differencesNote_, differences_, none);
        return;
    }
    if (!pp::history::applyEntry(sheet, *e, quiet)) {
        const QString bad = qs(pp::ErrorReadingFile);
        showNote(parametersNote_, parameters_, bad);
        showNote(differencesNote_, differences_, bad);
        return;
    }
    // Every parameter with a value: what differs from an empty sheet.
    showNote(parametersNote_, parameters_, QString());
    fillDifferenceTree(parameters_, pp::compareSheets(pp::Sheet(), sheet),
                       {QStringLiteral("Value")});

    using Status = pp::history::EntryChanges::Status;
    const pp::history::EntryChanges changes = pp::history::changesOf(*source_, *e);
    switch (changes.status) {
    case Status::SourceFailed:
        showNote(differencesNote_, differences_,
                 QStringLiteral("The history cannot be read: ") + qs(source_->error()));
        break;
    case Status::NoPrevious:
        showNote(differencesNote_, differences_,
                 QStringLiteral("no earlier entry of this instrument"));
        break;
    case Status::Unreadable:
        showNote(differencesNote_, differences_, qs(pp::ErrorReadingFile));
        break;
    case Status::Compared:
        showNote(differencesNote_, differences_,
                 changes.differences.empty() ? CompareDialog::noDifferencesText() : QString());
        fillDifferenceTree(differences_, changes.differences,
                           {QStringLiteral("Entry %1").arg(changes.previous->id),
                            QStringLiteral("Entry %1").arg(e->id)});
        break;
    }
}

void HistoryDialog::openInEditor() {
    const std::optional<Entry> e = selectedEntry();
    if (e && opener_)
        opener_(*e);
}

void HistoryDialog::approveSelected() {
    const std::optional<Entry> e = selectedEntry();
    if (e && approver_ && approver_(*e))
        reload();
}

void HistoryDialog::showInstruments() {
    pages_->setCurrentWidget(instruments_);
    if (connecting_)
        return; // the plant's connection comes first; its end shows them
    instruments_->load(*source_);
}

void HistoryDialog::showTimeline(const QString& serial) {
    serial_->setText(serial);
    pages_->setCurrentIndex(0);
    filtersChanged();
}

std::optional<QString> HistoryDialog::chooseSaveFile(const QString& caption, const QString& filter,
                                                     const QString& suggested,
                                                     const QString& suffix) {
    std::optional<QString> chosen;
    if (saveHook_) {
        chosen = saveHook_(caption, filter, suggested);
    } else {
        const QString path = QFileDialog::getSaveFileName(
            this, caption, window_.initialFolder() + QLatin1Char('/') + suggested, filter);
        if (!path.isEmpty())
            chosen = path;
    }
    if (!chosen || chosen->isEmpty())
        return std::nullopt;
    if (QFileInfo(*chosen).suffix().isEmpty())
        *chosen += suffix;
    return chosen;
}

bool HistoryDialog::writeFile(const QString& path, const std::string& bytes) {
    if (pp::replaceFileContent(pp::realFileSystem(), path.toStdString(), bytes))
        return true;
    window_.message(pp::ErrorWritingFile);
    window_.setStatus(pp::FileErrorStatus);
    return false;
}

void HistoryDialog::exportEntry() {
    const std::optional<Entry> e = selectedEntry();
    if (!e || !e->file)
        return;
    pp::Sheet sheet;
    pp::history::QuietWindow quiet;
    // A file that would not read back (an entry edited by hand) is not written.
    if (!pp::history::applyEntry(sheet, *e, quiet)) {
        window_.message(pp::ErrorReadingFile);
        window_.setStatus(pp::FileErrorStatus);
        return;
    }
    std::string name = pp::DefaultFileName(sheet, qt::today());
    if (name.empty())
        name = "QX7400_entry_" + std::to_string(e->id) + ".QX";
    const auto path = chooseSaveFile(QStringLiteral("Export"), QtWindow::fileFilter(), qs(name),
                                     QStringLiteral(".QX"));
    if (path)
        writeFile(*path, *e->file);
}

void HistoryDialog::exportCsv() {
    if (showingPlant() && connecting_)
        return; // the note says the server has not answered yet
    const auto path = chooseSaveFile(QStringLiteral("Export CSV"), QStringLiteral("CSV (*.csv)"),
                                     QStringLiteral("history.csv"), QStringLiteral(".csv"));
    if (!path)
        return;
    // Every entry the filters select, not only the rows read so far.
    std::string csv = pp::history::csvHeader();
    if (!source_->scan(model_->filter(), [&](const Entry& e) {
            csv += pp::history::csvRow(e);
            return true;
        })) {
        showProblem(qs(source_->error()));
        return;
    }
    writeFile(*path, csv);
}

} // namespace pp::ui
