// The window as an editor, through its controls by name: undo and redo over every kind of
// change, the question before edited values are lost, changed-value marks, typed values,
// recent files and files opened from outside the window.
#include "files/param_file.h"
#include "sheet/catalogue.h"
#include "sheet/compare.h"
#include "sheet/sheet.h"
#include "ui/compare/compare_actions.h"
#include "ui/compare/compare_dialog.h"
#include "ui/dialogs/print_dialog.h"
#include "ui/dialogs/user_guide.h"
#include "ui/main/main_window.h"
#include "ui/main/recent_files.h"
#include "ui/main/sheet_view.h"

#include "support/file_support.h"
#include "support/instrument_files.h"
#include "support/window_fixture.h"

#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QUrl>

using namespace pp::test;
using pp::ui::MainWindow;
using Fixture = pp::test::WindowFixture;

namespace {

const QString SaveQuestion = QStringLiteral("The parameters have been changed. Save them?");

QString undoText(const Fixture& f) {
    return f.action("mnuUndo")->text().remove(QLatin1Char('&'));
}

// The system parameters and part `part`, uploaded through the window's buttons.
void upload(Fixture& f, int part) {
    f.click("cmdSDUpload");
    QTRY_COMPARE(f.status(), QStringLiteral("SUCCESS"));
    const std::string pn = pp::ZeroPad(std::to_string(part), 2);
    f.window->sheet().AddPartNumber(pn);
    f.window->sheet().setPartSelection(pn);
    f.window->mirror();
    f.click("cmdPartUpload");
    QTRY_VERIFY(!f.window->sheet().text(pp::Part::CustCode).empty());
}

// Types `text` into a value box and presses Enter.
void type(Fixture& f, const char* box, const QString& text) {
    auto* edit = f.find<QLineEdit>(box);
    QVERIFY(edit);
    edit->selectAll();
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
}

bool marked(const Fixture& f, const char* frame, const char* marker) {
    return f.find<QGroupBox>(frame)->property("marked").toBool() &&
           f.find<QWidget>(marker)->autoFillBackground();
}

QString writeInstrumentFile(const QTemporaryDir& dir, const char* name,
                            const pp::sim::Instrument& sim, int part) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    putFile(path, instrumentFile(sim, part));
    return path;
}

} // namespace

class TestEditor : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { isolateCommPorts(); }
    void undoAndRedoEachKindOfStep();
    void openAndTakeFromCompareAreSteps();
    void questionBeforeValuesAreLost_data();
    void questionBeforeValuesAreLost();
    void systemEditsOutliveAPartUpload();
    void marksFollowUploadEditDownloadAndOpen();
    void typedValues_data();
    void typedValues();
    void recentFilesAndFilesFromOutside();
    void whereAmI();
};

void TestEditor::undoAndRedoEachKindOfStep() {
    SimulatorOnComm sim;
    QVERIFY(sim.started);
    sim.instrument.setClockSeconds(0); // "Set Time" then changes the clock text
    Fixture f;
    MainWindow& w = *f.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    const pp::Sheet start = w.sheet();
    QVERIFY(!f.action("mnuUndo")->isEnabled());

    upload(f, 2);
    QCOMPARE(undoText(f), QStringLiteral("Undo Upload From QX 7400"));
    w.sheet().AddPartNumber("05"); // reported by the instrument: kept through undo
    w.mirror();
    const pp::Sheet uploaded = w.sheet();

    // Each change is one step, named after what changed.
    std::vector<pp::Sheet> before;
    auto step = [&](const QString& name, auto change) {
        before.push_back(w.sheet());
        change();
        QVERIFY2(!(w.sheet() == before.back()), qPrintable(name));
        QCOMPARE(undoText(f), QStringLiteral("Undo ") + name);
    };
    step(QStringLiteral("Comp Pos"), [&] { // a drag, however far, is one step
        auto* bar = f.find<QScrollBar>("scrCompPos");
        bar->setSliderDown(true);
        for (int i = 1; i <= 5; ++i)
            bar->setSliderPosition(bar->value() - 1);
        bar->setSliderDown(false);
    });
    step(QStringLiteral("Time Base"), [&] { // the second click changes nothing: no step
        auto* other = f.find<QRadioButton>(w.sheet().option(pp::Part::TimeBase) == 0 ? "optTBSlow"
                                                                                     : "optTBFast");
        other->click();
        other->click();
    });
    step(QStringLiteral("Customer Code"), [&] { // a run of typing merges
        auto* code = f.find<QLineEdit>("txtCustCode");
        code->setFocus();
        code->end(false);
        QTest::keyClicks(code, QStringLiteral("98"));
    });
    step(QStringLiteral("Set Time"), [&] { f.click("cmdTime"); });
    step(QStringLiteral("Leak Limit"), [&] { type(f, "txtLeakLimit", QStringLiteral("3.5")); });
    step(QStringLiteral("Select Part"), [&] { // not keeping the values empties them
        f.answers.push_back(pp::Answer::No);
        auto* parts = f.find<QComboBox>("cmbParts");
        parts->setFocus();
        QTest::keyClick(parts, Qt::Key_Down);
        QCOMPARE(parts->currentText(), QStringLiteral("05"));
        QVERIFY(w.sheet().text(pp::Part::CustCode).empty());
    });
    const pp::Sheet edited = w.sheet();

    // Ctrl+Z, also from inside a text box, takes the steps back one by one.
    f.find<QLineEdit>("txtCustCode")->setFocus();
    for (size_t i = before.size(); i-- > 0;) {
        QTest::keySequence(&w, QKeySequence::Undo);
        QVERIFY2(w.sheet() == before[i], qPrintable(QString::number(i)));
        QCOMPARE(f.text("txtCustCode"), qs(before[i].text(pp::Part::CustCode)));
        QCOMPARE(f.text("txtLeakLimit"), qs(before[i].text(pp::Part::LeakLimit)));
    }
    QVERIFY(w.sheet() == uploaded);
    QTest::keySequence(&w, QKeySequence::Undo);
    QTest::keySequence(&w, QKeySequence::Undo);
    // Commands, generation and selection as at start; the part numbers listed stay.
    QCOMPARE(w.sheet().partNumbers(), (std::vector<std::string>{"02", "05"}));
    pp::Sheet back = w.sheet();
    back.RemovePartNumber("02");
    back.RemovePartNumber("05");
    QVERIFY(back == start);
    QVERIFY(!f.tabs()->isTabEnabled(1));
    QVERIFY(!f.action("mnuUndo")->isEnabled());

    // Both redo keys bring it all back.
    for (size_t i = 0; i < before.size() + 2; ++i)
        QTest::keySequence(&w, i % 2 ? QKeySequence(Qt::CTRL | Qt::Key_Y)
                                     : QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    QVERIFY(w.sheet() == edited);
    QVERIFY(!f.action("mnuRedo")->isEnabled());

    // Part numbers the instrument reported meanwhile stay through undo and redo.
    w.sheet().AddPartNumber("07");
    w.mirror();
    QTest::keySequence(&w, QKeySequence::Undo);
    QCOMPARE(w.sheet().partNumbers(), (std::vector<std::string>{"02", "05", "07"}));
    QCOMPARE(f.find<QComboBox>("cmbParts")->count(), 3);
    QTest::keySequence(&w, QKeySequence::Redo);

    // While an exchange runs, undo waits.
    f.answers.push_back(pp::Answer::Discard);
    f.click("cmdSDUpload");
    QVERIFY(!f.action("mnuUndo")->isEnabled());
    QTRY_COMPARE(f.status(), QStringLiteral("SUCCESS"));
    QVERIFY(f.action("mnuUndo")->isEnabled());
}

void TestEditor::openAndTakeFromCompareAreSteps() {
    pp::sim::Instrument sim; // its records only
    QTemporaryDir dir;
    const QString first = writeInstrumentFile(dir, "first.QX", sim, 2);
    QVERIFY(sim.setPartField(2, 11, "7.5"));    // leak limit
    QVERIFY(sim.setPartField(2, 25, "654321")); // customer code
    QVERIFY(sim.setSystemField(7, "4711"));     // serial number
    const QString second = writeInstrumentFile(dir, "second.QX", sim, 2);

    Fixture f;
    MainWindow& w = *f.window;
    const pp::Sheet start = w.sheet();
    f.files.push_back(first);
    f.action("mnuOpen")->trigger();
    QCOMPARE(undoText(f), QStringLiteral("Undo Open File"));
    const pp::Sheet opened = w.sheet();
    QVERIFY(!w.isWindowModified());

    // Two of the three differences ticked and taken: only those change, as one step.
    f.files.push_back(second);
    f.action("mnuCompareFile")->trigger();
    auto* dialog = w.findChild<pp::ui::CompareDialog*>();
    QVERIFY(dialog);
    QTreeWidget* tree = dialog->tree();
    QVERIFY(!dialog->takeButton()->isEnabled());
    for (int g = 0; g < tree->topLevelItemCount(); ++g)
        for (int i = 0; i < tree->topLevelItem(g)->childCount(); ++i) {
            QTreeWidgetItem* row = tree->topLevelItem(g)->child(i);
            if (row->text(0) != QLatin1String("Serial Number"))
                row->setCheckState(0, Qt::Checked);
        }
    QCOMPARE(dialog->takeButton()->text(), QStringLiteral("Take Selected Into Sheet"));
    dialog->takeButton()->click();
    QTRY_VERIFY(!w.findChild<pp::ui::CompareDialog*>());
    QCOMPARE(f.text("txtLeakLimit"), QStringLiteral("7.5"));
    QCOMPARE(f.text("txtCustCode"), QStringLiteral("654321"));
    QCOMPARE(f.text("txtSerial"), qs(opened.text(pp::Sys::Serial)));
    QCOMPARE(undoText(f), QStringLiteral("Undo Take From Compare"));
    QVERIFY(w.isWindowModified());
    QCOMPARE(f.path(), first); // nothing about the file changed

    // A value the sheet cannot take leaves everything as it was.
    const pp::Sheet taken = w.sheet();
    QVERIFY(!w.takeFromCompare(
        {{pp::CompareGroup::Part, "Customer Code", "", "1", static_cast<int>(pp::Part::CustCode)},
         {pp::CompareGroup::Part, "Leak Limit", "", "500",
          static_cast<int>(pp::Part::LeakLimit)}}));
    QCOMPARE(f.messages.back().text,
             QStringLiteral("Nothing was taken. The value lies outside Leak Limit: 0 to 99.9"));
    QVERIFY(w.sheet() == taken);

    // Saved elsewhere, then the take undone: the values go back, Save keeps the new file.
    const QString savedAs = dir.filePath(QStringLiteral("taken.QX"));
    f.files.push_back(savedAs);
    f.action("mnuSaveAs")->trigger();
    f.action("mnuUndo")->trigger();
    QVERIFY(pp::compareSheets(w.sheet(), opened).empty());
    QCOMPARE(f.path(), savedAs);
    QVERIFY(f.action("mnuSave")->isEnabled());
    QVERIFY(w.isWindowModified()); // the file holds the taken values
    f.action("mnuUndo")->trigger();
    QVERIFY(w.sheet() == start);
    QCOMPARE(f.path(), QString());
}

void TestEditor::questionBeforeValuesAreLost_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("saveAsCancelled");
    for (const char* action : {"exit", "open", "upload"}) {
        QTest::addRow("%s, save", action) << action << int(pp::Answer::Save) << false;
        QTest::addRow("%s, discard", action) << action << int(pp::Answer::Discard) << false;
        QTest::addRow("%s, cancel", action) << action << int(pp::Answer::Cancel) << false;
        QTest::addRow("%s, save as cancelled", action) << action << int(pp::Answer::Save) << true;
    }
}

void TestEditor::questionBeforeValuesAreLost() {
    QFETCH(QString, action);
    QFETCH(int, answer);
    QFETCH(bool, saveAsCancelled);
    SimulatorOnComm sim;
    QVERIFY(sim.started);
    QTemporaryDir dir;
    const QString other = writeInstrumentFile(dir, "other.QX", sim.instrument, 2);
    Fixture f;
    MainWindow& w = *f.window;
    w.show();
    upload(f, 2);
    const pp::Sheet uploaded = w.sheet();
    f.find<QScrollBar>("scrNumLeakRdgs")->triggerAction(QAbstractSlider::SliderPageStepAdd);
    const pp::Sheet edited = w.sheet();
    QVERIFY(w.isWindowModified());
    sim.instrument.clearLogs();

    // Save has no file yet: Save As asks for one.
    const QString saved = dir.filePath(QStringLiteral("saved.QX"));
    f.answers.push_back(pp::Answer(answer));
    if (answer == int(pp::Answer::Save))
        f.files.push_back(saveAsCancelled ? QString() : saved);
    if (action == "open")
        f.files.push_back(other);
    if (action == "exit")
        w.close();
    else if (action == "open")
        f.action("mnuOpen")->trigger();
    else
        f.click("cmdSDUpload");

    QCOMPARE(f.messages.size(), size_t(1));
    QCOMPARE(f.messages[0].text, SaveQuestion);
    QCOMPARE(f.messages[0].buttons, pp::Buttons::SaveDiscardCancel);
    const bool goesOn =
        answer == int(pp::Answer::Discard) || (answer == int(pp::Answer::Save) && !saveAsCancelled);
    QCOMPARE(QFile::exists(saved), answer == int(pp::Answer::Save) && !saveAsCancelled);
    if (QFile::exists(saved))
        QCOMPARE(fileBytes(saved), pp::ParamFileText(edited));
    if (!goesOn) {
        QVERIFY(w.isVisible());
        QVERIFY(w.sheet().text(pp::Sys::NumLeakRdgs) == edited.text(pp::Sys::NumLeakRdgs));
        QVERIFY(sim.instrument.framesReceived().empty());
        QCOMPARE(f.dialogs.size(), size_t(answer == int(pp::Answer::Save) ? 1 : 0));
        return;
    }
    if (action == "exit") {
        QVERIFY(!w.isVisible());
    } else if (action == "open") {
        QCOMPARE(f.path(), other);
        QVERIFY(!w.isWindowModified());
    } else {
        QTRY_COMPARE(f.status(), QStringLiteral("SUCCESS"));
        QCOMPARE(f.text("txtNumLeakRdgs"), qs(uploaded.text(pp::Sys::NumLeakRdgs)));
        // The upload was unwanted after all: undo brings the edits back.
        f.action("mnuUndo")->trigger();
        QCOMPARE(f.text("txtNumLeakRdgs"), qs(edited.text(pp::Sys::NumLeakRdgs)));
        QCOMPARE(f.text("txtCustCode"), qs(edited.text(pp::Part::CustCode)));
    }
}

// A part upload replaces only the part values: edited system values are still unsaved, and
// Exit still asks.
void TestEditor::systemEditsOutliveAPartUpload() {
    SimulatorOnComm sim;
    QVERIFY(sim.started);
    Fixture f;
    MainWindow& w = *f.window;
    w.show();
    upload(f, 2);
    f.find<QScrollBar>("scrNumLeakRdgs")->triggerAction(QAbstractSlider::SliderPageStepAdd);
    f.click("cmdPartUpload");
    QTRY_COMPARE(f.status(), QStringLiteral("SUCCESS"));
    QVERIFY(f.messages.empty()); // the part values were not edited: nothing to ask
    QVERIFY(w.isWindowModified());
    f.answers.push_back(pp::Answer::Cancel);
    w.close();
    QCOMPARE(f.messageTexts(), QStringList{SaveQuestion});
    QVERIFY(w.isVisible());
}

void TestEditor::marksFollowUploadEditDownloadAndOpen() {
    SimulatorOnComm sim;
    QVERIFY(sim.started);
    QVERIFY(sim.instrument.setPartField(2, 23, "10")); // gross limit below what is typed
    QTemporaryDir dir;
    const QString asUploaded = writeInstrumentFile(dir, "as-uploaded.QX", sim.instrument, 2);
    Fixture f;
    MainWindow& w = *f.window;
    upload(f, 2);
    QVERIFY(!marked(f, "frmLeakLimit", "mrkLeakLimit"));
    QVERIFY(!w.isWindowModified());
    const QString leak = f.text("txtLeakLimit");

    // A typed leak limit drags the gross limit along: both marked, with what was uploaded.
    type(f, "txtLeakLimit", QStringLiteral("12.35"));
    QCOMPARE(f.text("txtLeakLimit"), QStringLiteral("12.4"));
    QCOMPARE(f.text("txtGrossLimit"), QStringLiteral("12.4"));
    QVERIFY(marked(f, "frmLeakLimit", "mrkLeakLimit"));
    QVERIFY(marked(f, "frmGrossLimit", "mrkGrossLimit"));
    QVERIFY(!marked(f, "frmCompPos", "mrkCompPos"));
    QCOMPARE(f.find<QGroupBox>("frmLeakLimit")->toolTip(), QStringLiteral("Uploaded: ") + leak);
    QCOMPARE(f.find<QLineEdit>("txtGrossLimit")->toolTip(),
             QStringLiteral("Gross Limit: 0 to 99.9 CCM\nUploaded: 10"));
    QVERIFY(w.isWindowModified());

    f.action("mnuUndo")->trigger();
    QVERIFY(!marked(f, "frmLeakLimit", "mrkLeakLimit"));
    f.action("mnuRedo")->trigger();
    QVERIFY(marked(f, "frmGrossLimit", "mrkGrossLimit"));

    // Written to the instrument: no marks, nothing unsaved, no question on exit.
    f.click("cmdPartDnload");
    QVERIFY(!f.action("mnuUndo")->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(f.status(), QStringLiteral("Part Download successfully completed"),
                              10000);
    QVERIFY(!marked(f, "frmLeakLimit", "mrkLeakLimit"));
    QVERIFY(!w.isWindowModified());

    // A file of other values for that instrument and part: what differs is marked.
    f.files.push_back(asUploaded);
    f.action("mnuOpen")->trigger();
    QCOMPARE(f.path(), asUploaded);
    QVERIFY(marked(f, "frmLeakLimit", "mrkLeakLimit"));
    QVERIFY(!marked(f, "frmCompPos", "mrkCompPos"));
    QVERIFY(!w.isWindowModified());
    w.close();
    QVERIFY(f.messages.empty());
    QVERIFY(!w.isVisible());
}

void TestEditor::typedValues_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("timeBase"); // option to click first, or empty
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("position");     // of the slider
    QTest::addColumn<QString>("shown");    // empty: refused, the old text stays
    QTest::addColumn<QString>("message");  // the refusal
    QTest::addColumn<QString>("decimals"); // pressure and flow decimal counts of the file
    const struct {
        const char *name, *box, *timeBase, *typed;
        int position;
        const char *shown, *message, *decimals = "11";
    } rows[] = {
        {"flow, a tie rounds to even", "txtLeakLimit", "", "12.25", 122, "12.2", ""},
        {"pressure", "txtFFPres", "", "45.6", 456, "45.6", ""},
        {"time in tenths", "txtFillTime", "optTBFast", "2.5", 25, "2.5", ""},
        {"time in seconds", "txtFillTime", "optTBSlow", "2.5", 2, "2", ""},
        {"tenths", "txtTempFactor", "", "1.75", 18, "1.8", ""},
        {"count", "txtCalOffset", "", "-25", -25, "-25", ""},
        {"system delay", "txtGPRDelay", "", "1.5", 15, "1.5", ""},
        {"system tens", "txtRS232", "", "3", 30, "3", ""},
        {"out of range", "txtLeakLimit", "", "100", 0, "", "Leak Limit: 0 to 99.9"},
        {"below the time base's minimum", "txtBlkTime", "optTBFast", "0.5", 0, "",
         "Block Test Time: 0.8 to 99.9"},
        {"not a number", "txtFFPres", "", "4x", 0, "", "Fast Fill Pressure: 0 to 99.9"},
        // Each kind scales by its own count.
        {"flow, two decimals beside none", "txtLeakLimit", "", "1.234", 123, "1.23", "", "02"},
        {"pressure, no decimals beside two", "txtFFPres", "", "45.6", 46, "46", "", "02"},
    };
    for (const auto& r : rows)
        QTest::newRow(r.name) << r.box << r.timeBase << r.typed << r.position << r.shown
                              << r.message << r.decimals;
}

void TestEditor::typedValues() {
    QFETCH(QString, box);
    QFETCH(QString, timeBase);
    QFETCH(QString, typed);
    QFETCH(int, position);
    QFETCH(QString, shown);
    QFETCH(QString, message);
    QFETCH(QString, decimals);
    pp::sim::Instrument sim;
    QVERIFY(sim.setSystemFlag(9, decimals[0].toLatin1()));  // pressure
    QVERIFY(sim.setSystemFlag(10, decimals[1].toLatin1())); // flow
    if (decimals != QLatin1String("11"))                    // values that fit any count
        for (const pp::PartRow& r : pp::partCatalogue())
            if (r.kind == pp::PartKind::Flow || r.kind == pp::PartKind::Pressure)
                QVERIFY(sim.setPartField(2, r.uploadField, "1"));
    QTemporaryDir dir;
    const QString file = writeInstrumentFile(dir, "a.QX", sim, 2);
    Fixture f;
    f.files.push_back(file);
    f.action("mnuOpen")->trigger();
    if (!timeBase.isEmpty())
        f.find<QRadioButton>(timeBase.toLatin1().constData())->click();
    const QByteArray name = box.toLatin1();
    const QString old = f.text(name.constData());
    const pp::Sheet before = f.window->sheet();

    type(f, name.constData(), typed);
    if (shown.isEmpty()) {
        QCOMPARE(f.messageTexts(), QStringList{message});
        QCOMPARE(f.text(name.constData()), old);
        QVERIFY(f.window->sheet() == before);
        return;
    }
    QVERIFY2(f.messages.empty(), qPrintable(f.messageTexts().join('|')));
    // The slider went where the value stands, and the slider's rule wrote the text.
    QCOMPARE(f.text(name.constData()), shown);
    auto* bar = f.find<QScrollBar>(QStringLiteral("scr") + box.mid(3));
    QVERIFY(bar);
    QCOMPARE(bar->value(), position);
    f.action("mnuUndo")->trigger();
    QVERIFY(f.window->sheet() == before);
    QCOMPARE(f.text(name.constData()), old);
}

void TestEditor::recentFilesAndFilesFromOutside() {
    pp::sim::Instrument sim;
    QTemporaryDir dir;
    const QString a = writeInstrumentFile(dir, "a.QX", sim, 2);
    const QString b = dir.filePath(QStringLiteral("b.QX"));
    {
        Fixture f;
        f.window->recentFiles().clear();
        f.files.push_back(a);
        f.action("mnuOpen")->trigger();
        f.files.push_back(b);
        f.action("mnuSaveAs")->trigger();
        QCOMPARE(f.window->recentFiles().files(), (QStringList{b, a}));
    }
    // After a restart the menu still lists them, newest first.
    Fixture f;
    MainWindow& w = *f.window;
    QCOMPARE(f.action("mnuRecent1")->text(), QStringLiteral("&1 ") + QDir::toNativeSeparators(b));
    f.action("mnuRecent2")->trigger();
    QCOMPARE(f.path(), a);
    QCOMPARE(w.recentFiles().files(), (QStringList{a, b}));

    // A recent file that became a folder: the usual error, nothing changed, the entry gone.
    QVERIFY(QFile::remove(b));
    QVERIFY(QDir().mkdir(b));
    const pp::Sheet before = w.sheet();
    f.action("mnuRecent2")->trigger();
    QCOMPARE(f.messageTexts(), QStringList{QStringLiteral("Error reading file")});
    QVERIFY(w.sheet() == before);
    QCOMPARE(w.recentFiles().files(), QStringList{a});

    // Dropped onto the window: a folder or another kind of file is refused; a .QX opens.
    auto drop = [&w](const QString& path) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(path)});
        // Qt hands a drop to the widget that accepted the drag's entry.
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(&w, &enter);
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&w, &event);
    };
    f.messages.clear();
    drop(b);
    QTRY_COMPARE(f.messageTexts(),
                 QStringList{QStringLiteral("Only QX7400 parameter files (*.QX) can be opened.")});
    const QString text = dir.filePath(QStringLiteral("notes.txt"));
    putFile(text, "\"1234\"\r\n");
    drop(text);
    QTRY_COMPARE(f.messages.size(), size_t(2));
    QVERIFY(w.sheet() == before);
    const QString c = dir.filePath(QStringLiteral("c.QX"));
    QVERIFY(QFile::copy(a, c));
    drop(c);
    QTRY_COMPARE(f.path(), c);

    // What `paramporter FILE.QX` does at start-up, on a fresh window.
    Fixture started;
    QVERIFY(started.window->openPath(a));
    QCOMPARE(started.path(), a);
    QCOMPARE(started.text("txtCustCode"), qs(instrumentSheet(sim, 2)->text(pp::Part::CustCode)));

    // Nine files opened: the eight newest are kept, the first is the one let go.
    QStringList nine;
    for (int i = 1; i <= 9; ++i) {
        nine.prepend(dir.filePath(QStringLiteral("n%1.QX").arg(i)));
        QVERIFY(QFile::copy(a, nine.front()));
        QVERIFY(w.openPath(nine.front()));
    }
    QCOMPARE(w.recentFiles().files(), nine.mid(0, 8));

    f.action("mnuRecentClear")->trigger();
    QVERIFY(w.recentFiles().files().isEmpty());
    QVERIFY(!f.action("mnuRecentClear")->isEnabled());
}

void TestEditor::whereAmI() {
    qputenv("PARAMPORTER_COMM2", "/dev/ttyUSB0"); // shown, never opened
    pp::sim::Instrument sim;
    QTemporaryDir dir;
    Fixture f;
    MainWindow& w = *f.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    // F1: the guide, with the everyday tasks.
    QTest::keyClick(&w, Qt::Key_F1);
    pp::ui::UserGuide* guide = w.userGuide();
    QVERIFY(guide->isVisible());
    guide->hide();

    // The port, at the right end of the status bar, follows the port dialog.
    QCOMPARE(w.statusPanel(4)->text(),
             QStringLiteral("COMM 1: ") + QString::fromLatin1(noDevice(1)));
    onNextModal([](QWidget* modal) {
        modal->findChild<QRadioButton*>(QStringLiteral("optComm2"))->click();
        modal->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    });
    f.action("mnuComm")->trigger();
    QCOMPARE(w.statusPanel(4)->text(), QStringLiteral("COMM 2: /dev/ttyUSB0"));
    qputenv("PARAMPORTER_COMM2", noDevice(2));

    // Print to PDF, through the menu, offers the parameter file's name and says where the
    // report went.
    f.files.push_back(writeInstrumentFile(dir, "a.QX", sim, 2));
    f.action("mnuOpen")->trigger();
    pp::ui::FormPrinter* print = w.printDialog();
    print->setClock([] { return date(2026, 12, 7); });
    QString offered;
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    print->setPdfPathChooser([&](const QString& suggested) {
        offered = suggested;
        return pdf;
    });
    onNextModal([print](QWidget*) {
        auto* printers = print->findChild<QComboBox*>(QStringLiteral("Combo1"));
        printers->setCurrentIndex(printers->findText(pp::ui::FormPrinter::pdfEntry()));
        print->findChild<QPushButton*>(QStringLiteral("cmdPrint"))->click();
    });
    f.action("mnuPrint")->trigger();
    QCOMPARE(offered, QStringLiteral("QX7400_02_%1_07Dec26.pdf").arg(f.text("txtSerial")));
    QCOMPARE(f.status(), QStringLiteral("Report written to ") + QDir::toNativeSeparators(pdf));
    QVERIFY(QFile::exists(pdf));
}

QTEST_MAIN(TestEditor)
#include "test_editor.moc"
