// The main window's file and print commands, what it shows while it talks to the instrument,
// and Print All Parts, driven through the window against files and the simulated instrument.
#include "support/print_support.h"

#include "files/param_file.h"
#include "qt/session_driver.h"
#include "sheet/catalogue.h"
#include "sheet/sheet.h"
#include "sim/instrument.h"
#include "ui/dialogs/port_dialog.h"
#include "ui/dialogs/print_dialog.h"
#include "ui/main/main_window.h"

#include "support/window_fixture.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <deque>
#include <memory>

using pp::ui::MainWindow;
using namespace pp::test;
using Fixture = pp::test::WindowFixture;
using Simulator = pp::test::SimulatorOnComm;

namespace {

// A file of the earlier layout (no initial flow check line), part 05, serial 1234.
const char TwoLines[] =
    "\"1234\",\"ON\",\"N CLOSED\",\"NO\",\"1.5\",\"OFF\",\"2.5\",\"ON\",\"0.5\",\"100\",\"3\","
    "\"ON\",\"OPEN\",\"PSI\",\"1\",\"CCM\",\"1\",\"10\",\"OFF\",\"ON\",\"S04211F\","
    "\"Mar 07,2005 14:05\"\r\n"
    "\"05\",\"0.1 SEC\",\"2.5\",\"5\",\"2.5\",\"2\",\"ON\",\"3\",\"60.5\",\"5\",\"4\",\"OFF\","
    "\"12.5\",\"45\",\"6\",\"STAB\",\"22\",\"1\",\"80\",\"40.2\",\"1.2\",\"30\",\"0.8\",\"20\","
    "\"3995\",\"10\",\"50\",\"123456\",\"-25\"\r\n";

void putFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool cursorBusy() {
    return QApplication::overrideCursor() != nullptr;
}

} // namespace

class TestWindowCommands : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void openSaveAsThenSave();
    void failingOpenKeepsSheetAndPath_data();
    void failingOpenKeepsSheetAndPath();
    void toolbarFollowsTheMenuEntries();
    void shortcutsAndMnemonics();
    void shutDownClosesThePrintDialog();
    void progressBarDuringADownload();
    void requestsDuringADownloadLeaveItAlone();
    void downloadGoesToTheChosenPort();
    void emptyPartValuesAreNeverSent();
    void failedIdentityReadEndsTheTransfer();
    void cursorIsNeverLeftBusy_data();
    void cursorIsNeverLeftBusy();
    void printAllParts();
    void printTakesTheSheetAsItIsThen();
    void printAllPartsThatFails_data();
    void printAllPartsThatFails();
    void portDialogListsTheSerialDevices();
};

void TestWindowCommands::initTestCase() {
    isolateCommPorts();
}

void TestWindowCommands::openSaveAsThenSave() {
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("old.QX"));
    putFile(source, TwoLines);

    Fixture f;
    MainWindow& w = *f.window;
    f.answers.push_back(pp::Answer::No); // keep the earlier layout
    f.files.push_back(source);
    f.action("Toolbar1_open")->trigger();

    QCOMPARE(f.dialogs.size(), size_t(1));
    QVERIFY(!f.dialogs[0].save);
    QCOMPARE(f.messages.size(), size_t(1)); // the conversion question
    QCOMPARE(f.text("txtSerial"), QStringLiteral("1234"));
    QCOMPARE(f.text("txtCustCode"), QStringLiteral("123456"));
    QCOMPARE(f.path(), source);
    QCOMPARE(w.statusPanel(2)->text(), QStringLiteral("QX7400 V7.2 or earlier"));
    for (const char* name : {"mnuSave", "mnuSaveAs", "mnuPrint", "Toolbar1_save", "Toolbar1_print"})
        QVERIFY2(f.action(name)->isEnabled(), name);
    QVERIFY(f.find<QTabWidget>("SSTab1")->isTabEnabled(1));

    // Save As offers the default name with today's date; a name typed without ".QX" gets it.
    f.files.push_back(dir.filePath(QStringLiteral("copy")));
    f.action("mnuSaveAs")->trigger();
    QCOMPARE(f.dialogs.size(), size_t(2));
    QVERIFY(f.dialogs[1].save);
    QCOMPARE(f.dialogs[1].suggested, QStringLiteral("QX7400_05_1234_07Dec26.QX"));
    const QString copy = dir.filePath(QStringLiteral("copy.QX"));
    QCOMPARE(f.path(), copy);
    QCOMPARE(fileBytes(copy), QByteArray(TwoLines)); // two lines, as the file came

    // An edit, then Save: the same file, no dialog.
    f.find<QScrollBar>("scrSerial")->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(f.text("txtSerial"), QStringLiteral("1235"));
    f.action("Toolbar1_save")->trigger();
    QCOMPARE(f.dialogs.size(), size_t(2));
    QCOMPARE(f.path(), copy);
    QVERIFY(fileBytes(copy).startsWith("\"1235\","));
    QCOMPARE(fileBytes(copy), QByteArray::fromStdString(pp::ParamFileText(w.sheet())));
    QCOMPARE(fileBytes(source), QByteArray(TwoLines)); // the opened file stays as it was
    QCOMPARE(f.messages.size(), size_t(1));
}

void TestWindowCommands::failingOpenKeepsSheetAndPath_data() {
    QTest::addColumn<QString>("choice"); // file name in the folder; empty: cancelled
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("errorShown");
    QTest::newRow("cancelled") << QString() << QByteArray() << false;
    QTest::newRow("cut short") << "short.QX" << QByteArray(TwoLines).left(200) << true;
    QTest::newRow("missing") << "missing.QX" << QByteArray() << true;
    QTest::newRow("garbage slider")
        << "bad.QX" << QByteArray(TwoLines).replace("\"1234\"", "\"99999999\"") << true;
}

void TestWindowCommands::failingOpenKeepsSheetAndPath() {
    QFETCH(QString, choice);
    QFETCH(QByteArray, content);
    QFETCH(bool, errorShown);
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.QX"));
    putFile(good, TwoLines);

    Fixture f;
    MainWindow& w = *f.window;
    f.answers.push_back(pp::Answer::Yes); // convert: V7.3
    f.files.push_back(good);
    w.mnuOpen_Click();
    QCOMPARE(f.path(), good);
    const pp::Sheet before = w.sheet();
    f.messages.clear();

    QString chosen;
    if (!choice.isEmpty()) {
        chosen = dir.filePath(choice);
        if (!content.isEmpty())
            putFile(chosen, content);
    }
    f.files.push_back(chosen);
    f.action("mnuOpen")->trigger();

    QVERIFY(w.sheet() == before);
    QCOMPARE(f.path(), good);
    QCOMPARE(f.text("txtSerial"), QStringLiteral("1234"));
    QCOMPARE(w.statusPanel(2)->text(), QStringLiteral("QX7400 V7.3 or later"));
    QVERIFY(f.action("mnuSave")->isEnabled());
    // A conversion question may come first for a short file; the error is always last.
    QCOMPARE(!f.messages.empty() && f.messages.back().text == QStringLiteral("Error reading file"),
             errorShown);
    if (!errorShown)
        QVERIFY(f.messages.empty());
}

void TestWindowCommands::toolbarFollowsTheMenuEntries() {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a.QX"));
    putFile(file, TwoLines);
    Fixture f;
    auto same = [&f] {
        return f.action("mnuSave")->isEnabled() == f.action("Toolbar1_save")->isEnabled() &&
               f.action("mnuPrint")->isEnabled() == f.action("Toolbar1_print")->isEnabled();
    };
    QVERIFY(same());
    QVERIFY(!f.action("Toolbar1_save")->isEnabled());

    f.files.push_back(file);
    f.action("mnuOpen")->trigger();
    QVERIFY(same());
    QVERIFY(f.action("Toolbar1_save")->isEnabled());
    QVERIFY(f.action("Toolbar1_print")->isEnabled());

    // Another part number while a customer code shows: Save goes, Print stays.
    f.answers.push_back(pp::Answer::Yes);
    f.window->cmbParts_Click();
    f.window->mirror();
    QVERIFY(same());
    QVERIFY(!f.action("Toolbar1_save")->isEnabled());
    QVERIFY(f.path().isEmpty());
    QVERIFY(f.action("Toolbar1_print")->isEnabled());
    // Save does nothing without a path (and the disabled button cannot even be pressed).
    f.window->Toolbar1_ButtonClick(QStringLiteral("save"));
    QVERIFY(f.dialogs.size() == 1 && f.path().isEmpty());

    // The print button and the menu entry both open the print dialog for the sheet.
    for (const char* name : {"Toolbar1_print", "mnuPrint"}) {
        QString seen;
        onNextModal([&seen](QWidget* modal) {
            seen = modal ? modal->objectName() : QStringLiteral("none");
            if (modal)
                modal->findChild<QPushButton*>(QStringLiteral("cmdCancel"))->click();
        });
        f.action(name)->trigger();
        QCOMPARE(seen, QStringLiteral("FormPrinter"));
    }
    // One dialog, kept hidden, that offers Print All Parts.
    QCOMPARE(f.window->findChildren<pp::ui::FormPrinter*>().size(), 1);
    QVERIFY(f.window->printDialog()->isHidden());
    QVERIFY(f.window->printDialog()->findChild<QRadioButton*>("optAllParts")->isEnabled());
}

void TestWindowCommands::shortcutsAndMnemonics() {
    Fixture f;
    // Each file command has its own key, and they do not clash.
    QList<QKeySequence> keys;
    for (const char* name : {"mnuOpen", "mnuSave", "mnuSaveAs", "mnuPrint", "mnuExit"}) {
        const QKeySequence key = f.action(name)->shortcut();
        QVERIFY2(!key.isEmpty(), name);
        QVERIFY2(!keys.contains(key), name);
        keys.append(key);
    }
    QCOMPARE(f.action("mnuOpen")->shortcut(), QKeySequence(QKeySequence::Open));

    // The Open key runs Open.
    f.window->show();
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    QTest::keySequence(f.window.get(), f.action("mnuOpen")->shortcut());
    QCOMPARE(f.dialogs.size(), size_t(1));
    QVERIFY(!f.dialogs[0].save);
}

void TestWindowCommands::shutDownClosesThePrintDialog() {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a.QX"));
    putFile(file, TwoLines);
    Fixture f;
    f.files.push_back(file);
    f.window->mnuOpen_Click();
    f.window->show();

    QString seen;
    onNextModal([&f, &seen](QWidget* modal) {
        seen = modal ? modal->objectName() : QStringLiteral("none");
        f.window->close(); // while the print dialog is up
    });
    f.window->mnuPrint_Click(); // returns only when the dialog has gone
    QCOMPARE(seen, QStringLiteral("FormPrinter"));
    QVERIFY(!f.window->printDialog()->isVisible());
    QVERIFY(!f.window->isVisible());
}

void TestWindowCommands::progressBarDuringADownload() {
    Simulator sim;
    QVERIFY(sim.started);
    Fixture f;
    MainWindow& w = *f.window;
    QProgressBar* bar = w.transferProgress();
    QVERIFY(bar);
    QVERIFY(bar->isHidden());

    QTest::mouseClick(f.find<QPushButton>("cmdSDUpload"), Qt::LeftButton);
    QTRY_COMPARE(w.statusPanel(1)->text(), QStringLiteral("SUCCESS"));
    QVERIFY(bar->isHidden()); // uploads have no fields to count

    struct Seen {
        bool visible;
        int value;
        int maximum;
        bool busy;
    };
    std::vector<Seen> seen;
    connect(&w.driver(), &pp::qt::SessionDriver::fieldSent, this, [&](int, int) {
        seen.push_back({bar->isVisible(), bar->value(), bar->maximum(), cursorBusy()});
    });
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::mouseClick(f.find<QPushButton>("cmdSDDnLoad"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w.statusPanel(1)->text(),
                              QStringLiteral("System Download successfully completed"), 10000);
    const int fields = sim.instrument.lastSystemIndex() + 1;
    QCOMPARE(int(seen.size()), fields);
    for (int k = 0; k < fields; ++k) {
        QVERIFY(seen[size_t(k)].visible);
        QCOMPARE(seen[size_t(k)].value, k + 1);
        QCOMPARE(seen[size_t(k)].maximum, fields);
        QVERIFY(seen[size_t(k)].busy);
    }
    QVERIFY(bar->isHidden());
    QVERIFY(!cursorBusy());

    // A download broken off by a NAK hides it too.
    sim.instrument.setNakAtField(3);
    seen.clear();
    QTest::mouseClick(f.find<QPushButton>("cmdSDDnLoad"), Qt::LeftButton);
    QTRY_VERIFY(!w.session().busy());
    QVERIFY(!seen.empty() && seen.back().visible);
    QVERIFY(bar->isHidden());
    QVERIFY(!cursorBusy());
}

void TestWindowCommands::requestsDuringADownloadLeaveItAlone() {
    Simulator sim;
    QVERIFY(sim.started);
    Fixture f;
    f.click("cmdSDUpload");
    QTRY_COMPARE(f.status(), QStringLiteral("SUCCESS"));
    sim.instrument.clearLogs();
    sim.instrument.setPacing(true); // the download takes the better part of a second

    f.click("cmdSDDnLoad");
    // The part tab turns without asking for the part list.
    f.tabs()->setCurrentIndex(1);
    QCOMPARE(f.tabs()->currentIndex(), 1);
    QVERIFY(f.messages.empty());
    // A button of the mode window is refused.
    onNextModal([&f](QWidget* modal) {
        QTest::mouseClick(modal->findChild<QPushButton*>(QStringLiteral("cmdQuery")),
                          Qt::LeftButton);
        QTest::mouseClick(modal->findChild<QPushButton*>(QStringLiteral("cmdClose")),
                          Qt::LeftButton);
    });
    f.action("mnuQX7400")->trigger();
    QCOMPARE(f.messageTexts(),
             QStringList{QStringLiteral("Please wait until the transfer with QX7400 has ended.")});

    QTRY_COMPARE_WITH_TIMEOUT(f.status(), QStringLiteral("System Download successfully completed"),
                              5000);
    QCOMPARE(int(sim.instrument.downloadFrames().size()), sim.instrument.lastSystemIndex() + 1);
    // Who is on the line, then the download and nothing else.
    const std::vector<std::string> frames = sim.instrument.framesReceived();
    QCOMPARE(frames.front(), std::string("2"));
    for (size_t i = 1; i < frames.size(); ++i)
        QVERIFY(frames[i][0] == '4');
}

// Copying a part from the instrument on COMM 1 to the one on COMM 2.
void TestWindowCommands::downloadGoesToTheChosenPort() {
    Simulator first(1);
    Simulator second(2);
    QVERIFY(first.started && second.started);
    first.instrument.setPartField(2, 2, "130");
    QVERIFY(second.instrument.partRecord(2) != first.instrument.partRecord(2));
    Fixture f;
    MainWindow& w = *f.window;
    f.click("cmdSDUpload");
    QTRY_COMPARE(f.status(), QStringLiteral("SUCCESS"));
    w.sheet().AddPartNumber("02");
    w.sheet().setPartSelection("02");
    w.mirror();
    f.click("cmdPartUpload");
    QTRY_VERIFY(!w.sheet().text(pp::Part::CustCode).empty());

    onNextModal([](QWidget* modal) {
        QTest::mouseClick(modal->findChild<QRadioButton*>(QStringLiteral("optComm2")),
                          Qt::LeftButton, {}, QPoint(6, 6));
        QTest::mouseClick(modal->findChild<QPushButton*>(QStringLiteral("cmdOK")), Qt::LeftButton);
    });
    f.action("mnuComm")->trigger();
    f.click("cmdPartDnload");
    QTRY_COMPARE_WITH_TIMEOUT(f.status(), QStringLiteral("Part Download successfully completed"),
                              5000);
    QCOMPARE(second.instrument.partRecord(2), first.instrument.partRecord(2));
    QVERIFY(first.instrument.downloadFrames().empty());
}

// A customer code typed onto a part that was never read: the other values are empty, and the
// download would write them all as zeros.
void TestWindowCommands::emptyPartValuesAreNeverSent() {
    Simulator sim;
    QVERIFY(sim.started);
    Fixture f;
    MainWindow& w = *f.window;
    f.click("cmdSDUpload");
    QTRY_COMPARE(f.status(), QStringLiteral("SUCCESS"));
    const std::string before = sim.instrument.partRecord(5);
    sim.instrument.clearLogs();
    w.sheet().AddPartNumber("05");
    w.sheet().setPartSelection("05");
    w.mirror();
    auto* code = f.find<QLineEdit>("txtCustCode");
    code->setFocus();
    QTest::keyClicks(code, QStringLiteral("123"));
    QVERIFY(f.button("cmdPartDnload")->isEnabled());
    f.click("cmdPartDnload");
    QCOMPARE(f.messageTexts(), QStringList{QStringLiteral("Some part values are empty. Upload the "
                                                          "part or open a parameter file before "
                                                          "downloading.")});
    QVERIFY(sim.instrument.framesReceived().empty());
    QCOMPARE(sim.instrument.partRecord(5), before);
}

// Who is on the line is read before a part upload or any download; when that fails, its own
// words end the transfer: nothing else is sent, no reason asked, no second time-out after it.
void TestWindowCommands::failedIdentityReadEndsTheTransfer() {
    Simulator sim;
    QVERIFY(sim.started);
    Fixture f;
    MainWindow& w = *f.window;
    f.click("cmdSDUpload");
    QTRY_COMPARE(f.status(), QStringLiteral("SUCCESS"));
    w.sheet().AddPartNumber("05");
    w.sheet().setPartSelection("05");
    w.mirror();
    f.click("cmdPartUpload");
    QTRY_COMPARE(f.text("txtCustCode").isEmpty(), false);

    sim.instrument.clearLogs();
    sim.instrument.setSilent(true);
    f.click("cmdPartUpload");
    QTRY_COMPARE(f.status(), QStringLiteral("Error - No response from QX7400"));
    f.click("cmdSDDnLoad");
    QTRY_COMPARE(f.status(), QStringLiteral("Error - No response from QX7400"));
    QCOMPARE(sim.instrument.framesReceived(), (std::vector<std::string>{"2", "2"}));
    QVERIFY(!w.session().transferRunning());

    // A port that does not open says so once, and nothing follows.
    qputenv("PARAMPORTER_COMM1", "/nonexistent/paramporter-test-1");
    f.click("cmdPartDnload");
    QCOMPARE(f.messageTexts(), QStringList{"Can't open comm port! Please Try Again"});
    QVERIFY(!w.session().transferRunning());
    QVERIFY(f.reasonsOffered.empty());
}

void TestWindowCommands::cursorIsNeverLeftBusy_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("status");
    QTest::newRow("answered") << "answered"
                              << "SUCCESS";
    QTest::newRow("time-out") << "silent"
                              << "Error - No response from QX7400";
    QTest::newRow("no port, upload") << "noport"
                                     << "";
    QTest::newRow("no port, download") << "noport-download"
                                       << "/nonexistent/paramporter-test-1: No such file or "
                                          "directory";
    QTest::newRow("port lost") << "hangup"
                               << "";
}

void TestWindowCommands::cursorIsNeverLeftBusy() {
    QFETCH(QString, how);
    QFETCH(QString, status);
    Simulator sim;
    QVERIFY(sim.started);
    if (how == "silent")
        sim.instrument.setSilent(true);
    if (how.startsWith("noport"))
        qputenv("PARAMPORTER_COMM1", "/nonexistent/paramporter-test-1");
    if (how == "hangup")
        sim.instrument.setSilent(true);

    Fixture f;
    MainWindow& w = *f.window;
    QVERIFY(!cursorBusy());
    if (how == "noport-download") {
        // The timer a download starts before opening runs out later; nothing waits for it.
        w.sheet().commands.sdDownload = true;
        w.mirror();
        QTest::mouseClick(f.find<QPushButton>("cmdSDDnLoad"), Qt::LeftButton);
    } else {
        QTest::mouseClick(f.find<QPushButton>("cmdSDUpload"), Qt::LeftButton);
    }
    if (how == "silent" || how == "answered") {
        QVERIFY(cursorBusy());
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::BusyCursor);
    }
    if (how == "hangup")
        sim.instrument.stop(); // like a pulled adapter
    QTRY_VERIFY_WITH_TIMEOUT(!w.session().busy(), 5000);
    if (!status.isEmpty())
        QCOMPARE(w.statusPanel(1)->text(), status);
    QVERIFY(!cursorBusy());
    QVERIFY(w.transferProgress()->isHidden());
    // Nothing runs, so nothing is refused.
    f.messages.clear();
    QTest::mouseClick(f.find<QPushButton>("cmdSDUpload"), Qt::LeftButton);
    QVERIFY(!f.messageTexts().contains(QStringLiteral("Please wait until the transfer with QX7400 "
                                                      "has ended.")));
}

void TestWindowCommands::printAllParts() {
    Simulator sim;
    QVERIFY(sim.started);
    sim.instrument.setConfiguredParts({2, 7, 11});
    sim.instrument.setPartField(11, 25, "987654"); // a customer code of its own

    Fixture f;
    MainWindow& w = *f.window;
    QTest::mouseClick(f.find<QPushButton>("cmdSDUpload"), Qt::LeftButton);
    QTRY_COMPARE(w.statusPanel(1)->text(), QStringLiteral("SUCCESS"));
    f.find<QTabWidget>("SSTab1")->setCurrentIndex(1); // fetches the part list
    auto* parts = f.find<QComboBox>("cmbParts");
    QTRY_COMPARE(parts->count(), 3);
    // Part 07 on screen.
    w.sheet().setPartSelection("07");
    w.mirror();
    QTest::mouseClick(f.find<QPushButton>("cmdPartUpload"), Qt::LeftButton);
    QTRY_COMPARE(f.text("txtCustCode"), QStringLiteral("1007"));
    const pp::Sheet before = w.sheet();
    sim.instrument.clearLogs();

    // Through the print dialog into a PDF, "Print All Parts" chosen.
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("all.pdf"));
    pp::ui::FormPrinter* dialog = w.printDialog();
    dialog->setPdfPathChooser([pdf](const QString&) { return pdf; });
    int progressMax = 0;
    onNextModal([&](QWidget* modal) {
        QCOMPARE(modal, static_cast<QWidget*>(dialog));
        auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("Combo1"));
        combo->setCurrentIndex(combo->findText(pp::ui::FormPrinter::pdfEntry()));
        dialog->findChild<QRadioButton*>(QStringLiteral("optAllParts"))->click();
        connect(&w.driver(), &pp::qt::SessionDriver::exchangeEnded, dialog,
                [&] { progressMax = w.transferProgress()->maximum(); });
        dialog->findChild<QPushButton*>(QStringLiteral("cmdPrint"))->click();
    });
    w.mnuPrint_Click();

    QCOMPARE(progressMax, 3);
    const std::vector<std::string> frames = sim.instrument.framesReceived();
    // The instrument's own system record first: the report names what it read.
    QCOMPARE(frames, (std::vector<std::string>{"2", "302", "307", "311"}));
    QVERIFY(w.sheet() == before); // the screen keeps part 07
    QCOMPARE(f.text("txtCustCode"), QStringLiteral("1007"));
    QVERIFY(w.transferProgress()->isHidden());
    QVERIFY(!cursorBusy());
    // Only the print dialog's own word about the printers may have come (none installed).
    for (const QString& m : f.messageTexts())
        QCOMPARE(m, QStringLiteral("No printers are available!"));
    QVERIFY(QFile::exists(pdf));
    if (pp::testing::havePdfTools()) {
        const QString text = pp::testing::pdfText(pdf);
        for (const char* code : {"1002", "1007", "987654"})
            QVERIFY2(text.contains(QLatin1String(code)), code);
    }

    // The columns themselves: one per part number, each with its own values.
    const auto columns = w.gatherAllParts();
    QVERIFY(columns);
    QCOMPARE(columns->size(), size_t(3));
    const char* numbers[] = {"02", "07", "11"};
    const char* codes[] = {"1002", "1007", "987654"};
    for (size_t i = 0; i < 3; ++i) {
        QCOMPARE((*columns)[i].partSelection(), std::string(numbers[i]));
        QCOMPARE((*columns)[i].text(pp::Part::CustCode), std::string(codes[i]));
        QCOMPARE((*columns)[i].text(pp::Sys::Serial), before.text(pp::Sys::Serial));
    }
    QVERIFY(w.sheet() == before);
}

// The dialog is opened while an upload is still on its way; PRINT reports what it brought.
void TestWindowCommands::printTakesTheSheetAsItIsThen() {
    Simulator sim;
    QVERIFY(sim.started);
    Fixture f;
    MainWindow& w = *f.window;
    f.click("cmdSDUpload");
    QTRY_COMPARE(f.status(), QStringLiteral("SUCCESS"));
    w.sheet().setPartSelection("02");
    w.mirror();
    f.click("cmdPartUpload");
    QTRY_COMPARE(f.text("txtCustCode"), QStringLiteral("1002"));

    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    pp::ui::FormPrinter* dialog = w.printDialog();
    dialog->setPdfPathChooser([pdf](const QString&) { return pdf; });
    sim.instrument.setPacing(true);
    w.sheet().setPartSelection("07");
    w.mirror();
    f.click("cmdPartUpload");
    QVERIFY(w.sheet().text(pp::Part::CustCode).empty());
    onNextModal([&](QWidget*) {
        QVERIFY(QTest::qWaitFor([&] { return f.status() == QStringLiteral("SUCCESS"); }, 5000));
        auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("Combo1"));
        combo->setCurrentIndex(combo->findText(pp::ui::FormPrinter::pdfEntry()));
        dialog->findChild<QPushButton*>(QStringLiteral("cmdPrint"))->click();
    });
    f.action("mnuPrint")->trigger();
    QVERIFY(QFile::exists(pdf));
    if (!pp::testing::havePdfTools())
        QSKIP("pdftotext is not installed");
    QVERIFY(pp::testing::pdfText(pdf).contains(QStringLiteral("1007")));
}

void TestWindowCommands::printAllPartsThatFails_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("framesSent");
    QTest::addColumn<QString>("message");
    QTest::newRow("bad checksum") << "checksum" << 1
                                  << "The system parameters could not be uploaded: ";
    QTest::newRow("silent") << "silent" << 1
                            << "The system parameters could not be uploaded: Error - No response "
                               "from QX7400";
    QTest::newRow("wrong part") << "wrong" << 2 << "Part 02 could not be uploaded: ";
    QTest::newRow("cancelled") << "cancel" << 1 << "";
    QTest::newRow("no part numbers") << "none" << 0
                                     << "No part numbers are listed. Query QX7400 for its part "
                                        "numbers first.";
}

void TestWindowCommands::printAllPartsThatFails() {
    QFETCH(QString, fault);
    QFETCH(int, framesSent);
    QFETCH(QString, message);
    Simulator sim;
    QVERIFY(sim.started);

    Fixture f;
    MainWindow& w = *f.window;
    QTest::mouseClick(f.find<QPushButton>("cmdSDUpload"), Qt::LeftButton);
    QTRY_COMPARE(w.statusPanel(1)->text(), QStringLiteral("SUCCESS"));
    if (fault != "none") {
        for (const char* pn : {"02", "03", "04"})
            w.sheet().AddPartNumber(pn);
        w.sheet().setPartSelection("03");
    }
    w.mirror();
    const pp::Sheet before = w.sheet();
    sim.instrument.clearLogs();

    if (fault == "checksum")
        sim.instrument.corruptNextChecksum();
    if (fault == "silent")
        sim.instrument.setSilent(true);
    if (fault == "wrong")
        sim.instrument.setWrongPartNumber(true);
    if (fault == "cancel") {
        // Cancel as soon as the progress dialog is up: the running upload still ends.
        QTimer::singleShot(0, [&w] {
            auto* progress = w.findChild<QProgressDialog*>(QStringLiteral("dlgAllParts"));
            QVERIFY(progress);
            progress->cancel();
        });
    }
    const auto columns = w.gatherAllParts();
    QVERIFY(!columns);
    QCOMPARE(int(sim.instrument.framesReceived().size()), framesSent);
    QVERIFY(w.sheet() == before);
    QVERIFY(!w.session().busy());
    QVERIFY(!cursorBusy());
    QVERIFY(w.transferProgress()->isHidden());
    if (message.isEmpty()) {
        QVERIFY(f.messages.empty());
    } else {
        QCOMPARE(f.messages.size(), size_t(1));
        QVERIFY2(f.messages[0].text.startsWith(message), qPrintable(f.messages[0].text));
    }
    if (fault == "checksum" || fault == "wrong") // the decoder's own words follow
        QVERIFY(f.messages[0].text.size() > message.size());
}

void TestWindowCommands::portDialogListsTheSerialDevices() {
    qputenv("PARAMPORTER_COMM3", "/dev/ttyUSB0");
    int port = 1;
    pp::ui::PortDialog dialog([&port] { return port; }, [&port](int n) { port = n; });
    QList<pp::ui::SerialDevice> devices = {
        {"ttyS0", "/dev/ttyS0", "", ""},
        {"ttyUSB0", "/dev/ttyUSB0", "FT232R USB UART", "FTDI"},
    };
    dialog.setDeviceSource([&devices] { return devices; });
    dialog.show();
    auto* list = dialog.findChild<QTreeWidget*>(QStringLiteral("lstDevices"));
    QVERIFY(list);
    QCOMPARE(list->topLevelItemCount(), 2);
    const QTreeWidgetItem* usb = list->topLevelItem(1);
    QCOMPARE(usb->text(0), QStringLiteral("ttyUSB0"));
    QCOMPARE(usb->text(1), QStringLiteral("FT232R USB UART"));
    QCOMPARE(usb->text(2), QStringLiteral("FTDI"));
    QCOMPARE(usb->text(3), QStringLiteral("COMM 3"));
    QCOMPARE(list->topLevelItem(0)->text(3), QString()); // ttyS0 is not COMM 1 here
    dialog.hide();

    // Taken afresh at each showing: the adapter was pulled.
    devices.clear();
    dialog.show();
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("(none found)"));
    dialog.hide();
    qputenv("PARAMPORTER_COMM3", "/nonexistent/paramporter-test-3");

    // The system's own list can be read here without a port being opened.
    const QList<pp::ui::SerialDevice> system = pp::ui::PortDialog::systemDevices();
    for (const auto& device : system)
        QVERIFY(!device.portName.isEmpty());
}

QTEST_MAIN(TestWindowCommands)
#include "test_window_commands.moc"
