// The window's comparisons and backup against the simulated instrument: what they list, that
// the sheet on screen never changes, and what a backup writes when a part fails.
#include "files/param_file.h"
#include "history/recording.h"
#include "link/frames.h"
#include "link/records.h"
#include "sheet/compare.h"
#include "sim/instrument.h"
#include "ui/compare/backup.h"
#include "ui/compare/compare_actions.h"
#include "ui/compare/compare_dialog.h"
#include "ui/history/history_actions.h"
#include "ui/history/history_dialog.h"
#include "ui/history/history_model.h"
#include "ui/history/instruments_view.h"
#include "ui/main/document.h"
#include "ui/main/main_window.h"

#include "support/instrument_files.h"
#include "support/window_fixture.h"

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>
#include <QUndoStack>

#include <memory>

using pp::ui::CompareDialog;
using pp::ui::MainWindow;
using namespace pp::test;
using Fixture = pp::test::WindowFixture;

namespace {

// One step of a scroll bar, up unless it is at its top.
void nudge(QScrollBar* bar) {
    QVERIFY(bar);
    const int before = bar->value();
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    if (bar->value() == before)
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    QVERIFY(bar->value() != before);
}

// (group, caption) of every row of the dialog's tree.
QStringList rowsOf(CompareDialog* dialog) {
    QStringList rows;
    QTreeWidget* tree = dialog->tree();
    for (int g = 0; g < tree->topLevelItemCount(); ++g) {
        QTreeWidgetItem* group = tree->topLevelItem(g);
        for (int i = 0; i < group->childCount(); ++i)
            rows << group->text(0) + QLatin1Char('/') + group->child(i)->text(0);
    }
    return rows;
}

// Waits for the comparison's dialog, takes its rows and closes it.
QStringList takeDialog(MainWindow& w, QString* columnTitle = nullptr) {
    CompareDialog* dialog = nullptr;
    (void)QTest::qWaitFor([&] { return (dialog = w.findChild<CompareDialog*>()) != nullptr; },
                          5000);
    if (!dialog)
        return {QStringLiteral("<no dialog>")};
    QStringList rows = rowsOf(dialog);
    if (rows.isEmpty() && !dialog->noDifferences()->isHidden())
        rows << dialog->noDifferences()->text();
    if (columnTitle)
        *columnTitle = dialog->tree()->headerItem()->text(2);
    delete dialog;
    return rows;
}

std::string readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

} // namespace

class TestCompareWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void compareWithTheInstrument();
    void failedCompareShowsNoDialog();
    void compareWithAFile();
    void backupWritesEveryPart();
    void backupNamesTheFailedPart();
    void historyRestoresEarlierValues();
    void historyRecordsScratchUploads();
    void historyFailureNeverStopsATransfer();
    void twoInstrumentsAreNeverMixedUp();
    void approvedStateInTheWindow();

private:
    std::unique_ptr<pp::sim::Instrument> instrument_;
    void startInstrument(const std::vector<int>& parts);
};

void TestCompareWindow::initTestCase() {
    isolateCommPorts();
}

void TestCompareWindow::startInstrument(const std::vector<int>& parts) {
    instrument_ = std::make_unique<pp::sim::Instrument>();
    QVERIFY(instrument_->start());
    instrument_->setConfiguredParts(parts);
    qputenv("PARAMPORTER_COMM1", QByteArray::fromStdString(instrument_->devicePath()));
}

void TestCompareWindow::compareWithTheInstrument() {
    startInstrument({1, 2, 5});
    Fixture f;
    MainWindow& w = *f.window;
    QVERIFY(!f.button("cmdSDCompare")->isEnabled()); // nothing loaded yet

    f.click("cmdSDUpload");
    QTRY_COMPARE(f.status(), QStringLiteral("SUCCESS"));
    w.sheet().AddPartNumber("02");
    w.sheet().setPartSelection("02");
    w.mirror();
    f.click("cmdPartUpload");
    QTRY_VERIFY(!w.sheet().text(pp::Part::CustCode).empty());
    QVERIFY(f.button("cmdSDCompare")->isEnabled());
    QVERIFY(f.button("cmdPartCompare")->isEnabled());

    // Straight after the upload nothing differs.
    f.click("cmdPartCompare");
    QCOMPARE(takeDialog(w), QStringList{CompareDialog::noDifferencesText()});

    // Two system and three part values changed on screen.
    nudge(f.find<QScrollBar>("scrSerial"));
    nudge(f.find<QScrollBar>("scrNumLeakRdgs"));
    nudge(f.find<QScrollBar>("scrFillTime"));
    nudge(f.find<QScrollBar>("scrReadTime"));
    nudge(f.find<QScrollBar>("scrPresDecay"));
    const pp::Sheet edited = w.sheet();

    QString column;
    f.click("cmdPartCompare");
    QCOMPARE(takeDialog(w, &column),
             (QStringList{"System Parameters/Serial Number",
                          "System Parameters/Number of Leak Readings", "Part Parameters/Fill Time",
                          "Part Parameters/Read Time", "Part Parameters/Pressure Decay Limit"}));
    QCOMPARE(column, QStringLiteral("In QX7400"));
    QVERIFY(w.sheet() == edited); // the sheet on screen is untouched
    QCOMPARE(f.status(), QStringLiteral("SUCCESS"));
    QVERIFY(f.messages.empty());

    // The system tab's button compares the same; the values in the rows are both sides'.
    f.click("cmdSDCompare");
    CompareDialog* dialog = nullptr;
    QTRY_VERIFY((dialog = w.findChild<CompareDialog*>()) != nullptr);
    QTreeWidgetItem* serial = dialog->tree()->topLevelItem(0)->child(0);
    QCOMPARE(serial->text(1), qs(edited.text(pp::Sys::Serial)));
    QCOMPARE(serial->text(2),
             qs(instrument_->systemField(7)).trimmed().remove(QRegularExpression("^0+")));
    delete dialog;

    // Download both (the part first: the system download empties the part sheet), then the
    // comparison finds nothing.
    f.click("cmdPartDnload");
    QTRY_COMPARE_WITH_TIMEOUT(f.status(), QStringLiteral("Part Download successfully completed"),
                              10000);
    f.click("cmdSDDnLoad");
    QTRY_COMPARE_WITH_TIMEOUT(f.status(), QStringLiteral("System Download successfully completed"),
                              10000);
    f.click("cmdSDCompare");
    QCOMPARE(takeDialog(w), QStringList{CompareDialog::noDifferencesText()});
    f.click("cmdPartUpload");
    QTRY_VERIFY(!w.sheet().text(pp::Part::CustCode).empty());
    QVERIFY(pp::compareSheets(w.sheet(), edited).empty()); // the instrument holds what was sent
    f.click("cmdPartCompare");
    QCOMPARE(takeDialog(w), QStringList{CompareDialog::noDifferencesText()});
}

void TestCompareWindow::failedCompareShowsNoDialog() {
    startInstrument({1});
    Fixture f;
    MainWindow& w = *f.window;
    f.click("cmdSDUpload");
    QTRY_COMPARE(f.status(), QStringLiteral("SUCCESS"));
    const pp::Sheet before = w.sheet();

    instrument_->setRefuseAll(true);
    f.click("cmdSDCompare");
    QTRY_COMPARE(f.status(), QStringLiteral("Check QX7400 operating mode!"));
    instrument_->setRefuseAll(false);
    instrument_->setSilent(true);
    f.click("cmdSDCompare");
    QTRY_COMPARE_WITH_TIMEOUT(f.status(), QStringLiteral("Error - No response from QX7400"), 5000);
    QVERIFY(!w.findChild<CompareDialog*>());
    QVERIFY(w.sheet() == before);
    QVERIFY(f.button("cmdSDCompare")->isEnabled());
}

void TestCompareWindow::compareWithAFile() {
    startInstrument({3});
    Fixture f;
    MainWindow& w = *f.window;
    QAction* compare = f.find<QAction>(QStringLiteral("mnuCompareFile"));
    QVERIFY(compare);
    QVERIFY(!compare->isEnabled());

    f.click("cmdSDUpload");
    QTRY_COMPARE(f.status(), QStringLiteral("SUCCESS"));
    w.sheet().setPartSelection("03");
    f.click("cmdPartUpload");
    QTRY_VERIFY(!w.sheet().text(pp::Part::CustCode).empty());
    QVERIFY(compare->isEnabled());

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("other.QX"));
    pp::Sheet other = w.sheet();
    other.selectOption(pp::Sys::EPS, other.option(pp::Sys::EPS) == 0 ? 1 : 0);
    other.setText(pp::Part::CustCode, "4711");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString(pp::ParamFileText(other)));
    file.close();

    w.window().setFileHook([&](bool save, const QString&) -> std::optional<QString> {
        if (save)
            return std::nullopt;
        return path;
    });
    const pp::Sheet before = w.sheet();
    compare->trigger();
    QString column;
    QCOMPARE(takeDialog(w, &column), (QStringList{"System Parameters/External Program Select",
                                                  "Part Parameters/Customer Code"}));
    QCOMPARE(column, QStringLiteral("In file"));
    QVERIFY(w.sheet() == before);

    // The same file as on screen: nothing.
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(QByteArray::fromStdString(pp::ParamFileText(before)));
    file.close();
    compare->trigger();
    QCOMPARE(takeDialog(w), QStringList{CompareDialog::noDifferencesText()});

    // A file that cannot be read: its message, no dialog, the sheet unchanged.
    w.window().setFileHook([&](bool, const QString&) -> std::optional<QString> {
        return dir.filePath(QStringLiteral("missing.QX"));
    });
    compare->trigger();
    QVERIFY(!w.findChild<CompareDialog*>());
    QCOMPARE(f.messages.size(), size_t(1));
    QCOMPARE(f.messages[0].text, QStringLiteral("Error reading file"));
    QVERIFY(w.sheet() == before);
}

void TestCompareWindow::backupWritesEveryPart() {
    startInstrument({1, 2, 32});
    instrument_->setPartField(32, 2, "0120"); // parts differ from one another
    Fixture f;
    MainWindow& w = *f.window;
    const pp::Sheet before = w.sheet();
    QTemporaryDir dir;
    w.compareActions().backup().setFolderHook([&] { return std::optional<QString>(dir.path()); });

    f.find<QAction>(QStringLiteral("mnuBackup"))->trigger();
    QCOMPARE(f.messages.size(), size_t(1));
    QCOMPARE(f.messages[0].caption, QStringLiteral("Back Up All Parts"));
    QVERIFY2(f.messages[0].text.startsWith(QStringLiteral("3 files written to ")),
             qPrintable(f.messages[0].text));

    const QStringList files = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
    QCOMPARE(files.size(), 3);
    const int parts[] = {1, 2, 32};
    for (int i = 0; i < 3; ++i) {
        const QString prefix = QStringLiteral("QX7400_%1_").arg(parts[i], 2, 10, QLatin1Char('0'));
        QVERIFY2(files[i].startsWith(prefix), qPrintable(files[i]));
        QCOMPARE(readFile(dir.filePath(files[i])),
                 pp::test::instrumentFile(*instrument_, parts[i]));
    }
    QVERIFY(w.sheet() == before);
    QVERIFY(!w.session().busy());
}

void TestCompareWindow::backupNamesTheFailedPart() {
    startInstrument({1, 2, 32});
    Fixture f;
    MainWindow& w = *f.window;
    f.click("cmdSDUpload");
    QTRY_COMPARE(f.status(), QStringLiteral("SUCCESS"));
    const pp::Sheet before = w.sheet();
    QTemporaryDir dir;
    pp::ui::PartsBackup& backup = w.compareActions().backup();
    backup.setFolderHook([&] { return std::optional<QString>(dir.path()); });
    // The instrument goes silent for part number 02 only.
    QObject::connect(&backup, &pp::ui::PartsBackup::partStarted, &backup,
                     [this](const QString& part) { instrument_->setSilent(part == "02"); });

    f.find<QAction>(QStringLiteral("mnuBackup"))->trigger();
    QCOMPARE(f.messages.size(), size_t(1));
    const QString summary = f.messages[0].text;
    QVERIFY2(summary.startsWith(QStringLiteral("2 files written to ")), qPrintable(summary));
    QVERIFY2(
        summary.contains(QStringLiteral("Part number 02 failed: Error - No response from QX7400")),
        qPrintable(summary));
    const QStringList files = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
    QCOMPARE(files.size(), 2);
    QVERIFY(files[0].startsWith(QStringLiteral("QX7400_01_")));
    QVERIFY(files[1].startsWith(QStringLiteral("QX7400_32_")));
    QCOMPARE(readFile(dir.filePath(files[1])), pp::test::instrumentFile(*instrument_, 32));
    QVERIFY(w.sheet() == before);

    // Nothing to read: nothing written, and the reason.
    f.messages.clear();
    instrument_->setRefuseAll(true);
    QTemporaryDir empty;
    backup.setFolderHook([&] { return std::optional<QString>(empty.path()); });
    f.find<QAction>(QStringLiteral("mnuBackup"))->trigger();
    QCOMPARE(f.messages.size(), size_t(1));
    QCOMPARE(f.messages[0].text,
             QStringLiteral("No files were written: the system parameters could not be read: "
                            "Check QX7400 operating mode!"));
    QVERIFY(QDir(empty.path()).entryList(QDir::Files).isEmpty());
    QVERIFY(w.sheet() == before);
}

// ------------------------------------------------------------------ history

namespace {

// "action scope part" of every row of the History dialog, newest first.
QStringList historyRows(pp::ui::HistoryDialog* dialog) {
    QStringList rows;
    pp::ui::HistoryModel* m = dialog->model();
    for (int r = 0; r < m->rowCount(); ++r) {
        const pp::history::Entry* e = m->entryAt(r);
        rows << QStringLiteral("%1 %2 %3")
                    .arg(qs(pp::history::actionWord(e->action)),
                         qs(pp::history::scopeWord(e->scope)),
                         e->part.empty() ? QStringLiteral("-") : qs(e->part));
    }
    return rows;
}

} // namespace

// Upload, change, download; then the earlier upload opened from the history and downloaded:
// the instrument holds the earlier values again.
void TestCompareWindow::historyRestoresEarlierValues() {
    startInstrument({1, 2, 5});
    Fixture f;
    MainWindow& w = *f.window;
    QTemporaryDir dir;
    auto* history = new pp::ui::HistoryActions(w, dir.filePath("history.sqlite").toStdString());

    f.click("cmdSDUpload");
    QTRY_COMPARE(f.status(), QStringLiteral("SUCCESS"));
    // Typed as one digit: recorded as the frame carries it, and found again as such.
    auto* parts = f.find<QComboBox>("cmbParts");
    parts->lineEdit()->selectAll();
    QTest::keyClicks(parts->lineEdit(), QStringLiteral("2"));
    QCOMPARE(w.sheet().partSelection(), std::string("2"));
    f.click("cmdPartUpload");
    QTRY_VERIFY(!w.sheet().text(pp::Part::CustCode).empty());
    const pp::Sheet earlier = w.sheet();
    nudge(f.find<QScrollBar>("scrFillTime"));
    nudge(f.find<QScrollBar>("scrReadTime"));
    const QStringList changed{"Part Parameters/Fill Time", "Part Parameters/Read Time"};

    // Before the download: what differs from the last upload of this instrument and part.
    QMenu* file = f.find<QMenu>(QStringLiteral("mnuFile"));
    emit file->aboutToShow();
    QAction* compareLast = history->compareLastUploadAction();
    compareLast->trigger();
    QString column;
    QCOMPARE(takeDialog(w, &column), changed);
    QCOMPARE(column, QStringLiteral("Last upload"));

    f.click("cmdPartDnload");
    QTRY_COMPARE_WITH_TIMEOUT(f.status(), QStringLiteral("Part Download successfully completed"),
                              10000);

    QAction* open = f.find<QAction>(QStringLiteral("mnuHistory"));
    QVERIFY(file->actions().contains(open));
    QVERIFY(f.find<QToolBar>(QStringLiteral("Toolbar1"))->actions().contains(open));
    open->trigger();
    pp::ui::HistoryDialog* d = history->dialog();
    QVERIFY(d->isVisible());
    QCOMPARE(historyRows(d),
             (QStringList{"download part 02", "upload part 02", "upload system -"}));
    // The download is selected: what it changed since the upload.
    auto* differences = d->findChild<QTreeWidget*>(QStringLiteral("treeHistoryDifferences"));
    QStringList rows;
    for (int i = 0; i < differences->topLevelItem(0)->childCount(); ++i)
        rows << differences->topLevelItem(0)->text(0) + "/" +
                    differences->topLevelItem(0)->child(i)->text(0);
    QCOMPARE(rows, changed);
    QCOMPARE(differences->headerItem()->text(1), QStringLiteral("Entry 2"));

    // Two clicks: the earlier upload, then Open in Editor.
    d->table()->selectRow(1);
    QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("cmdOpenInEditor")),
                      Qt::LeftButton);
    QVERIFY(pp::compareSheets(w.sheet(), earlier).empty());
    QVERIFY(w.sheet().filePath.empty());
    QCOMPARE(w.document().stack().undoText(), QStringLiteral("Open History Entry"));
    f.click("cmdPartDnload");
    QTRY_COMPARE_WITH_TIMEOUT(f.status(), QStringLiteral("Part Download successfully completed"),
                              10000);
    w.sheet().ClearPartSheet();
    f.click("cmdPartUpload");
    QTRY_VERIFY(!w.sheet().text(pp::Part::CustCode).empty());
    QVERIFY(pp::compareSheets(w.sheet(), earlier).empty());
    QTRY_COMPARE(d->model()->rowCount(), 5); // the open dialog follows

    // Export the selected entry and the filtered table.
    QTemporaryDir out;
    d->setSaveHook([&](const QString&, const QString& filter, const QString&) {
        return std::optional<QString>(out.filePath(filter.contains("csv") ? "t" : "e"));
    });
    d->select(2);
    QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("cmdHistoryExport")),
                      Qt::LeftButton);
    QCOMPARE(readFile(out.filePath("e.QX")), pp::ParamFileText(earlier));
    d->findChild<QComboBox*>(QStringLiteral("cmbHistoryAction"))->setCurrentIndex(2); // download
    QCOMPARE(historyRows(d), (QStringList{"download part 02", "download part 02"}));
    QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("cmdHistoryExportCsv")),
                      Qt::LeftButton);
    const QStringList csv = QString::fromStdString(readFile(out.filePath("t.csv"))).split("\r\n");
    QCOMPARE(csv.size(), 4); // header, two rows, nothing after the last line end
    QVERIFY(csv[1].startsWith("\"4\",") && csv[1].contains("\"download\",\"part\",\"02\""));
    QVERIFY(f.messages.empty());
}

void TestCompareWindow::historyRecordsScratchUploads() {
    startInstrument({1, 2});
    Fixture f;
    MainWindow& w = *f.window;
    QTemporaryDir dir;
    const std::string db = dir.filePath("history.sqlite").toStdString();
    new pp::ui::HistoryActions(w, db);

    f.click("cmdSDUpload");
    QTRY_COMPARE(f.status(), QStringLiteral("SUCCESS"));
    w.sheet().AddPartNumber("02");
    w.sheet().setPartSelection("02");
    w.mirror();
    f.click("cmdPartUpload");
    QTRY_VERIFY(!w.sheet().text(pp::Part::CustCode).empty());
    f.click("cmdPartCompare");
    QCOMPARE(takeDialog(w), QStringList{CompareDialog::noDifferencesText()});
    w.compareActions().backup().setFolderHook([&] { return std::optional<QString>(dir.path()); });
    f.find<QAction>(QStringLiteral("mnuBackup"))->trigger();
    QCOMPARE(f.messages.size(), size_t(1)); // the backup's summary

    pp::history::Store store;
    QVERIFY(store.open(db, pp::history::Store::Mode::Existing));
    const auto entries = store.list({}, 0);
    QVERIFY(entries);
    QStringList rows;
    for (const pp::history::Entry& e : *entries) {
        rows << QStringLiteral("%1 %2 %3")
                    .arg(qs(pp::history::scopeWord(e.scope)), qs(e.part), qs(e.result));
        QCOMPARE(e.serial, std::string("1234")); // the instrument read, every one
    }
    QCOMPARE(rows, (QStringList{"part 02 SUCCESS", "part 01 SUCCESS", "system  SUCCESS",
                                "part 02 SUCCESS", "system  SUCCESS", "part 02 SUCCESS",
                                "system  SUCCESS"}));
}

void TestCompareWindow::historyFailureNeverStopsATransfer() {
    startInstrument({1});
    Fixture f;
    MainWindow& w = *f.window;
    QTemporaryDir dir;
    const QString damaged = dir.filePath("history.sqlite");
    QFile file(damaged);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    new pp::ui::HistoryActions(w, damaged.toStdString());

    f.click("cmdSDUpload");
    QTRY_COMPARE(f.status(), QStringLiteral("SUCCESS"));
    QVERIFY(w.sheet().commands.sdDownload); // the upload went through
    QTRY_COMPARE(f.status(),
                 "History not recorded: " + damaged + QStringLiteral(": file is not a database"));
    QVERIFY(f.messages.empty());
}

// Instrument A (1234) on COMM 1, instrument B (5678) on COMM 2, A's values on screen: what is
// written to B, and what the history and the report say of it, is B's.
void TestCompareWindow::twoInstrumentsAreNeverMixedUp() {
    SimulatorOnComm a(1);
    SimulatorOnComm b(2);
    QVERIFY(a.started && b.started);
    QVERIFY(b.instrument.setSystemField(7, "5678"));
    QVERIFY(b.instrument.setSystemField(5, "2222")); // its system zero
    b.instrument.setConfiguredParts({2, 5});
    QVERIFY(b.instrument.setPartField(5, 25, "5005"));
    Fixture f;
    MainWindow& w = *f.window;
    QTemporaryDir dir;
    const std::string db = dir.filePath("history.sqlite").toStdString();
    new pp::ui::HistoryActions(w, db);
    auto newest = [&] {
        pp::history::Store store;
        store.open(db, pp::history::Store::Mode::Existing);
        const auto entries = store.list({}, 1);
        return entries && !entries->empty() ? entries->front() : pp::history::Entry{};
    };

    f.click("cmdSDUpload");
    QTRY_COMPARE(f.status(), QStringLiteral("SUCCESS"));
    w.sheet().AddPartNumber("02");
    w.sheet().setPartSelection("02");
    w.mirror();
    f.click("cmdPartUpload");
    QTRY_VERIFY(!w.sheet().text(pp::Part::CustCode).empty());
    const std::string partOfA = a.instrument.partRecord(2);
    QCOMPARE(newest().serial, std::string("1234"));
    w.session().setCommPortNumber(2);

    // B's own calibration of part 2 (flow zero, flow factor), which a copy must not touch.
    QVERIFY(b.instrument.setPartField(2, 8, "2100"));
    QVERIFY(b.instrument.setPartField(2, 21, "7.7"));
    const std::string calibrationOfB = b.instrument.partField(2, 8) + b.instrument.partField(2, 21);

    // The cable to B: asked first, No is the default, and No writes nothing.
    const QString question = QStringLiteral(
        "The QX7400 on COMM 2 is serial 5678; the values on screen came from serial 1234. "
        "Download the settings to serial 5678? Its serial number, clock and calibration values "
        "stay as they are.");
    f.answers.push_back(pp::Answer::No);
    f.click("cmdPartDnload");
    QCOMPARE(f.messageTexts(), QStringList{question});
    QCOMPARE(f.messages[0].buttons, pp::Buttons::NoYes);
    QVERIFY(b.instrument.downloadFrames().empty());
    QCOMPARE(newest().action, pp::history::Action::Upload);

    // Yes copies the part's settings and keeps B's calibration; the entry names B.
    f.answers.push_back(pp::Answer::Yes);
    f.click("cmdPartDnload");
    QTRY_COMPARE_WITH_TIMEOUT(f.status(), QStringLiteral("Part Download successfully completed"),
                              10000);
    QCOMPARE(f.messages.size(), size_t(2));
    QCOMPARE(b.instrument.partField(2, 8) + b.instrument.partField(2, 21), calibrationOfB);
    QCOMPARE(b.instrument.partField(2, 11), a.instrument.partField(2, 11)); // a setting
    QCOMPARE(b.instrument.systemField(7), std::string("5678"));
    const pp::history::Entry download = newest();
    QCOMPARE(download.action, pp::history::Action::Download);
    QCOMPARE(download.serial, std::string("5678"));
    QVERIFY(download.succeeded());

    // The sheet still came from A: the system download asks again, and B keeps its serial
    // number and system zero.
    const std::string zeroOfB = b.instrument.systemField(5);
    QVERIFY(zeroOfB != a.instrument.systemField(5));
    f.answers.push_back(pp::Answer::Yes);
    f.click("cmdSDDnLoad");
    QTRY_COMPARE_WITH_TIMEOUT(f.status(), QStringLiteral("System Download successfully completed"),
                              10000);
    QCOMPARE(f.messageTexts().back(), question);
    QCOMPARE(b.instrument.systemField(7), std::string("5678"));
    QCOMPARE(b.instrument.systemField(5), zeroOfB);
    QCOMPARE(newest().serial, std::string("5678"));
    QCOMPARE(w.sheet().text(pp::Sys::Serial), std::string("1234"));

    // An identity that cannot be read stops the download: its own words, nothing written.
    const size_t frames = b.instrument.downloadFrames().size();
    b.instrument.corruptNextChecksum();
    f.click("cmdSDDnLoad");
    QTRY_COMPARE(f.status(), QStringLiteral("Check sum error"));
    b.instrument.setRefuseAll(true);
    f.click("cmdSDDnLoad");
    QTRY_COMPARE(f.status(), QStringLiteral("Check QX7400 operating mode!"));
    b.instrument.setRefuseAll(false);
    QCOMPARE(b.instrument.downloadFrames().size(), frames);
    QCOMPARE(f.messages.size(), size_t(3)); // no question, no reason asked

    // Another generation is refused before anything is sent.
    b.instrument.setGeneration(pp::Generation::V70);
    f.click("cmdSDDnLoad");
    QCOMPARE(f.messageTexts().back(),
             QStringLiteral("The values on screen are for QX7400 V7.3 or later; the QX7400 on "
                            "COMM 2 is QX7400 V7.2 or earlier. Nothing was sent."));
    QCOMPARE(b.instrument.downloadFrames().size(), frames);
    b.instrument.setGeneration(pp::Generation::V73);

    // Print All Parts from B with A's system values still on screen: B's system record heads
    // the report, and its uploads are B's.
    w.sheet().AddPartNumber("05");
    const auto columns = w.gatherAllParts();
    QVERIFY(columns && columns->size() == 2);
    QCOMPARE(columns->front().text(pp::Sys::Serial), std::string("5678"));
    QCOMPARE(columns->back().text(pp::Part::CustCode), std::string("5005"));
    QCOMPARE(w.sheet().text(pp::Sys::Serial), std::string("1234"));
    const pp::history::Entry upload = newest();
    QCOMPARE(upload.part, std::string("05"));
    QCOMPARE(upload.serial, std::string("5678"));

    // A part uploaded from B is B's: writing it back to B asks nothing.
    f.click("cmdPartUpload");
    QTRY_COMPARE(newest().part, std::string("02"));
    const size_t asked = f.messages.size();
    f.click("cmdPartDnload");
    QCOMPARE(f.messages.size(), asked);
    QTRY_COMPARE_WITH_TIMEOUT(f.status(), QStringLiteral("Part Download successfully completed"),
                              10000);
}

// Approve an upload, find the instrument changed, see it on the Instruments page and in the
// marks, put the approved values back and download them with a reason.
void TestCompareWindow::approvedStateInTheWindow() {
    startInstrument({2});
    QVERIFY(instrument_->setPartField(2, 11, "7.5")); // leak limit
    Fixture f;
    MainWindow& w = *f.window;
    QTemporaryDir dir;
    auto* history = new pp::ui::HistoryActions(w, dir.filePath("history.sqlite").toStdString());
    f.click("cmdSDUpload");
    QTRY_COMPARE(f.status(), QStringLiteral("SUCCESS"));
    w.sheet().AddPartNumber("02");
    w.sheet().setPartSelection("02");
    w.mirror();
    f.click("cmdPartUpload");
    QTRY_COMPARE(f.text("txtLeakLimit"), QStringLiteral("7.5"));

    // The part upload approved, with what the signature means and why.
    f.find<QAction>(QStringLiteral("mnuHistory"))->trigger();
    pp::ui::HistoryDialog* d = history->dialog();
    QVERIFY(d->select(2));
    onNextModal([](QWidget* modal) {
        QTest::keyClicks(modal->findChild<QLineEdit*>(QStringLiteral("txtApproveReason")),
                         QStringLiteral("first article"));
        modal->findChild<QRadioButton*>(QStringLiteral("optApproved"))->click();
        modal->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("cmdApprove")), Qt::LeftButton);
    QCOMPARE(f.status(), QStringLiteral("Part 02 of serial 1234 approved"));
    QCOMPARE(historyRows(d).front(), QStringLiteral("approve part 02"));

    // Changed at the keypad: the upload says so, the history keeps it, the mark shows it.
    QVERIFY(instrument_->setPartField(2, 11, "9.9"));
    f.click("cmdPartUpload");
    QTRY_COMPARE_WITH_TIMEOUT(f.status(),
                              QStringLiteral("Part 02 differs from its approved values: Leak "
                                             "Limit 7.5 -> 9.9"),
                              5000);
    QTRY_COMPARE(d->model()->data(d->model()->index(0, pp::ui::HistoryModel::Findings)).toString(),
                 QStringLiteral("approved: Leak Limit 7.5 -> 9.9; last: Leak Limit 7.5 -> 9.9"));
    QVERIFY(f.find<QLineEdit>("txtLeakLimit")->toolTip().contains(QStringLiteral("Approved: 7.5")));

    d->showInstruments();
    pp::ui::InstrumentsView* instruments = d->instruments();
    QVERIFY(instruments->select("1234", "part 02"));
    QCOMPARE(pp::ui::InstrumentsView::stateText(*instruments->selectedRow()),
             QStringLiteral("differs: Leak Limit 7.5 -> 9.9; approval unsigned, local"));
    QTest::mouseClick(instruments->findChild<QPushButton*>(QStringLiteral("cmdRestoreApproved")),
                      Qt::LeftButton);
    QCOMPARE(f.text("txtLeakLimit"), QStringLiteral("7.5"));
    QCOMPARE(w.document().stack().undoText(), QStringLiteral("Restore Approved"));

    // Downloaded with a reason from the plant's list; the author may not approve it there.
    f.policy.reasons = {"restore approved", "new fixture"};
    f.policy.approverNotAuthor = true;
    f.reasons.push_back(QStringLiteral("restore approved"));
    f.click("cmdPartDnload");
    QTRY_COMPARE_WITH_TIMEOUT(f.status(), QStringLiteral("Part Download successfully completed"),
                              10000);
    QCOMPARE(f.reasonsOffered, f.policy.reasons);
    QTRY_COMPARE(historyRows(d).front(), QStringLiteral("download part 02"));
    QVERIFY(d->select(d->model()->entryAt(0)->id));
    QCOMPARE(d->selectedEntry()->reason, std::string("restore approved"));
    onNextModal([](QWidget* modal) {
        QTest::keyClicks(modal->findChild<QLineEdit*>(QStringLiteral("txtApproveReason")),
                         QStringLiteral("mine"));
        modal->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("cmdApprove")), Qt::LeftButton);
    QCOMPARE(f.messageTexts().back(), qs("This download was made by " + pp::history::accountName() +
                                         "; the plant requires another account to approve it."));
}

QTEST_MAIN(TestCompareWindow)
#include "test_compare_window.moc"
