// The main window, its tabs and dialogs, driven through their widgets by objectName.
#include "qt/session_driver.h"
#include "sheet/catalogue.h"
#include "sheet/sheet.h"
#include "sim/instrument.h"
#include "ui/dialogs/mode_window.h"
#include "ui/dialogs/port_dialog.h"
#include "ui/history/history_actions.h"
#include "ui/history/history_dialog.h"
#include "ui/main/main_window.h"
#include "ui/main/sheet_view.h"
#include "ui/main/status_label.h"

#include "support/window_fixture.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QWindow>

#include <deque>
#include <memory>

using pp::ui::MainWindow;

using namespace pp::test;
using Fixture = pp::test::WindowFixture;

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void startState();
    void resizeSnapsBack();
    void everythingInReachOnASmallScreenOrWithALargeFont();
    void firstShowWithinTheScreen();
    void historyWithinTheScreen();
    void tabsAndButtonsStayWhileTheSheetScrolls();
    void longStatusTextIsElided();
    void systemControls_data();
    void systemControls();
    void partControls_data();
    void partControls();
    void slidersRunTheirRuleWhenAStepOrDragEnds();
    void decimalsSliderLocksThePartTab();
    void optionClickAndMirror();
    void mirrorClearsOptionsAndSetsRangeBeforeValue();
    void customerCodeTyping_data();
    void customerCodeTyping();
    void generationEnablesInitialFlowCheck();
    void choosingAPartNumber_data();
    void choosingAPartNumber();
    void toolbarAndMenusOpenTheirWindows();
    void modeWindowPartList();
    void modeWindowModeReport();
    void modeWindowTitleBarCloseDestroys();
    void portDialog_data();
    void portDialog();
    void portDialogShowsDevices();
    void shutDownSavesSettingsThenClosesThePort();
    void endToEndAgainstTheSimulator();
    void modeWindowAgainstTheSimulator();
    void typedPartNumber();
    void generationTextIsNeverCut();
};

void TestMainWindow::initTestCase() {
    // No test may reach a real serial port; the simulator takes COMM 1 or 2 where needed.
    isolateCommPorts();
}

void TestMainWindow::startState() {
    Fixture f;
    MainWindow& w = *f.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    QCOMPARE(w.size(), QSize(877, 710));
    QVERIFY(f.tabs()->isTabEnabled(0));
    QVERIFY(!f.tabs()->isTabEnabled(1));
    QVERIFY(f.find<QPushButton>("cmdSDUpload")->isEnabled());
    QVERIFY(!f.find<QPushButton>("cmdSDDnLoad")->isEnabled());
    QVERIFY(!f.find<QPushButton>("cmdPartUpload")->isEnabled());
    QVERIFY(!f.find<QPushButton>("cmdPartDnload")->isEnabled());
    // Only what has something to work on is offered.
    for (const char* name : {"mnuSave", "mnuSaveAs", "mnuPrint", "Toolbar1_save", "Toolbar1_print"})
        QVERIFY2(!f.action(name)->isEnabled(), name);
    for (const char* name : {"mnuOpen", "mnuExit", "mnuComm", "mnuQX7400", "mnuAbout",
                             "Toolbar1_open", "Toolbar1_mode"})
        QVERIFY2(f.action(name)->isEnabled(), name);

    // Status bar: three empty panels; 2 is a sixth of the width, 3 and the port beside it half:
    // the messages keep the rest, room for "System Download successfully completed".
    QVERIFY(f.find<QStatusBar>("StatusBar1"));
    for (int n = 1; n <= 3; ++n)
        QVERIFY(w.statusPanel(n)->text().isEmpty());
    QVERIFY(w.statusPanel(2)->width() >= 877 / 6); // wider where the generation text needs it
    QCOMPARE(w.statusPanel(3)->width() + w.statusPanel(4)->width(), 877 / 2);
    QVERIFY(w.statusPanel(1)->contentsRect().width() >=
            w.statusPanel(1)->fontMetrics().horizontalAdvance(
                QStringLiteral("System Download successfully completed")));

    // Nothing is connected at start.
    QVERIFY(!w.session().busy());
}

void TestMainWindow::resizeSnapsBack() {
    Fixture f;
    MainWindow& w = *f.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.resize(600, 400);
    QTRY_COMPARE(w.size(), QSize(877, 710));
    w.resize(1000, 800);
    QTRY_COMPARE(w.size(), QSize(877, 710));
    QVERIFY(w.statusPanel(2)->width() >= 877 / 6); // wider where the generation text needs it

    // A long status message is cut off in its panel; it never widens the window.
    w.window().setStatus(std::string(400, 'x'));
    QCOMPARE(w.statusPanel(1)->text().size(), 400);
    QCOMPARE(w.statusPanel(1)->toolTip(), w.statusPanel(1)->text()); // all of it on hover
    QTRY_COMPARE(w.size(), QSize(877, 710));
    QVERIFY(w.minimumSizeHint().width() <= 877);
    QVERIFY(w.minimumSizeHint().height() <= 710);
}

// test_main_window_small_screen runs this on a 1024 x 600 panel; the other runs on a desktop
// screen with a font half as large again.
void TestMainWindow::everythingInReachOnASmallScreenOrWithALargeFont() {
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    const bool small = room.height() < MainWindow::FixedHeight;
    const QFont normal = QApplication::font();
    if (!small) {
        QFont large = normal;
        large.setPointSizeF(normal.pointSizeF() * 1.5);
        QApplication::setFont(large);
    }
    Fixture f;
    MainWindow& w = *f.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    if (small)
        QTRY_VERIFY(w.height() <= room.height() && w.width() <= room.width());
    else
        QTRY_COMPARE(w.size(), QSize(877, 710));
    // The status bar inside the window, the values scrolling above it.
    const QRect bar = w.statusBar()->geometry();
    QVERIFY(w.statusBar()->isVisible() && bar.bottom() < w.height() && bar.top() > 0);
    auto* area = f.find<QScrollArea>("scrSystemParameters");
    QVERIFY(area->verticalScrollBar()->maximum() > 0);
    // The transfer buttons are in sight and take a click.
    QPushButton* upload = f.button("cmdSDUpload");
    QVERIFY(QRect(QPoint(0, 0), w.size())
                .contains(QRect(upload->mapTo(&w, QPoint(0, 0)), upload->size())));
    QTest::mouseClick(upload, Qt::LeftButton);
    QTRY_COMPARE(f.messageTexts(), QStringList{"Can't open comm port! Please Try Again"});
    QApplication::setFont(normal);
}

namespace {

// Where a widget is on the screen.
QRect onScreen(const QWidget* w) {
    return QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
}

QRect screenRoom() {
    return QGuiApplication::primaryScreen()->availableGeometry();
}

} // namespace

// test_main_window_800x600 runs this on an 800 x 600 screen: the first window, frame and all,
// within the screen from its first showing, its status bar on the screen.
void TestMainWindow::firstShowWithinTheScreen() {
    Fixture f;
    MainWindow& w = *f.window;
    // A window manager frames a window only once it is shown, and moves it then. The offscreen
    // platform frames it at once: shown frameless, the window is framed afterwards.
    w.setWindowFlag(Qt::FramelessWindowHint);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QWindow* handle = w.windowHandle();
    handle->setFlags(handle->flags() & ~Qt::FramelessWindowHint);
    handle->setFramePosition(QPoint(0, 0));
    QTRY_VERIFY(w.geometry().topLeft() != w.frameGeometry().topLeft()); // framed and moved
    QTRY_VERIFY(screenRoom().contains(handle->frameGeometry()));
    QVERIFY(w.statusBar()->isVisible());
    QVERIFY(screenRoom().contains(onScreen(w.statusBar())));
}

// test_main_window_small_screen runs this on a 1024 x 600 panel: the History window opens
// within the screen, its buttons on it.
void TestMainWindow::historyWithinTheScreen() {
    Fixture f;
    MainWindow& w = *f.window;
    QTemporaryDir dir;
    auto* history = new pp::ui::HistoryActions(w, dir.filePath("history.sqlite").toStdString());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    history->historyAction()->trigger();
    pp::ui::HistoryDialog* d = history->dialog();
    QVERIFY(QTest::qWaitForWindowExposed(d));
    QTRY_VERIFY(screenRoom().contains(d->frameGeometry()));
    auto* buttons = d->findChild<QDialogButtonBox*>();
    QVERIFY(buttons);
    QStringList captions;
    for (QAbstractButton* b : buttons->buttons()) {
        captions << b->text().remove('&');
        QVERIFY2(screenRoom().contains(onScreen(b)), qPrintable(b->text()));
    }
    for (const char* caption : {"Approve...", "Open in Editor", "Export...", "Close"})
        QVERIFY2(captions.contains(QString::fromLatin1(caption)), caption);
}

// Scrolled to the end of the values, each page keeps the tabs above it and its transfer
// buttons below it where they were, on the screen. Run on the 1024 x 600 panel, and on a
// desktop with a font half as large again.
void TestMainWindow::tabsAndButtonsStayWhileTheSheetScrolls() {
    const bool small = screenRoom().height() < MainWindow::FixedHeight;
    const QFont normal = QApplication::font();
    if (!small) {
        QFont large = normal;
        large.setPointSizeF(normal.pointSizeF() * 1.5);
        QApplication::setFont(large);
    }
    Fixture f;
    MainWindow& w = *f.window;
    w.sheet().commands.partTab = true;
    w.mirror();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTabBar* tabBar = f.tabs()->tabBar();
    const struct {
        int tab;
        const char* area;
        const char* firstFrame; // at the top of the values
        std::vector<const char*> buttons;
    } pages[] = {
        {0, "scrSystemParameters", "txtEPS", {"cmdSDUpload", "cmdSDDnLoad", "cmdSDCompare"}},
        {1,
         "scrPartParameters",
         "txtFlowZero",
         {"cmdPartUpload", "cmdPartDnload", "cmdPartCompare"}},
    };
    for (const auto& page : pages) {
        f.tabs()->setCurrentIndex(page.tab);
        auto* area = f.find<QScrollArea>(page.area);
        QVERIFY2(area && area->isVisible(), page.area);
        QTRY_VERIFY2(area->verticalScrollBar()->maximum() > 0, page.area);
        QVector<QRect> before;
        for (const char* name : page.buttons)
            before << onScreen(f.button(name));
        const QRect tabsBefore = onScreen(tabBar);
        auto* top = f.find<QWidget>(page.firstFrame);
        QVERIFY2(top, page.firstFrame);
        const QRect topBefore = onScreen(top);

        area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
        QVERIFY(onScreen(top).top() < topBefore.top()); // the values did scroll
        QCOMPARE(onScreen(tabBar), tabsBefore);
        QVERIFY(screenRoom().contains(tabsBefore));
        for (size_t i = 0; i < page.buttons.size(); ++i) {
            QPushButton* b = f.button(page.buttons[i]);
            QCOMPARE(onScreen(b), before[int(i)]);
            QVERIFY2(b->isVisible() && screenRoom().contains(onScreen(b)), page.buttons[i]);
            // Not behind the values: the window shows the whole button.
            QCOMPARE(b->visibleRegion().boundingRect(), b->rect());
        }
    }
    QApplication::setFont(normal);
}

// A status text longer than its panel ends in "…" in the panel, drawn so; the tooltip and the
// text the accessibility interface reads hold all of it.
void TestMainWindow::longStatusTextIsElided() {
    Fixture f;
    MainWindow& w = *f.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QString finding = QStringLiteral("Part 05 differs from its approved values: ");
    for (int n = 0; n < 12; ++n)
        finding += QStringLiteral("Leak Limit 0.5 instead of 0.7, ");
    finding += QStringLiteral("the end");
    w.window().setStatus(finding.toStdString());
    auto* panel = qobject_cast<pp::ui::StatusLabel*>(w.statusPanel(1));
    QVERIFY(panel);
    QCOMPARE(panel->text(), finding);
    QCOMPARE(panel->toolTip(), finding);
    const QString shown = panel->shownText();
    QVERIFY2(shown.endsWith(QChar(0x2026)) && shown.size() < finding.size(), qPrintable(shown));
    QVERIFY(finding.startsWith(shown.chopped(1)));
    QVERIFY(panel->fontMetrics().horizontalAdvance(shown) < panel->contentsRect().width());

    // What is painted is the shortened text, as a label of that text paints it.
    QLabel plain(shown);
    plain.setFont(panel->font());
    plain.setFrameShape(panel->frameShape());
    plain.setFrameShadow(panel->frameShadow());
    plain.setContentsMargins(panel->contentsMargins());
    plain.resize(panel->size());
    QCOMPARE(panel->grab().toImage().convertToFormat(QImage::Format_RGB32),
             plain.grab().toImage().convertToFormat(QImage::Format_RGB32));

    // A text that fits is shown whole.
    w.window().setStatus("Part Upload successfully completed");
    QCOMPARE(panel->shownText(), QStringLiteral("Part Upload successfully completed"));
}

void TestMainWindow::systemControls_data() {
    QTest::addColumn<int>("index");
    for (const pp::SysRow& r : pp::systemCatalogue())
        QTest::newRow(r.stem.data()) << static_cast<int>(r.id);
}

void TestMainWindow::systemControls() {
    QFETCH(int, index);
    const pp::SysRow& r = pp::systemCatalogue()[static_cast<size_t>(index)];
    Fixture f;

    auto* text = f.find<QLineEdit>(qs(r.textBox));
    QVERIFY2(text, r.textBox.data());
    QCOMPARE(text->isReadOnly(), r.slider.empty()); // a slider's box takes a typed number
    QCOMPARE(text->accessibleName(), qs(r.caption));

    if (r.kind == pp::SysKind::OptionInfo) {
        auto* options = f.find<QGroupBox>(qs(pp::OptionsFrameCaption));
        QVERIFY(options && options->isAncestorOf(text));
        QVERIFY(f.find<QLabel>(QStringLiteral("lbl") + qs(r.stem)));
        return;
    }

    const QString frameName = r.frame.empty() ? QStringLiteral("frm") + qs(r.stem) : qs(r.frame);
    auto* frame = f.find<QGroupBox>(frameName);
    QVERIFY2(frame, qPrintable(frameName));
    QVERIFY(frame->isAncestorOf(text));
    QVERIFY(f.window->view().systemPage()->isAncestorOf(frame));

    if (!r.slider.empty()) {
        auto* bar = f.find<QScrollBar>(qs(r.slider));
        QVERIFY2(bar, r.slider.data());
        QVERIFY(frame->isAncestorOf(bar));
        QCOMPARE(bar->orientation(), Qt::Horizontal);
        QCOMPARE(bar->minimum(), int(r.range.min));
        QCOMPARE(bar->maximum(), int(r.range.max));
        QCOMPARE(bar->singleStep(), int(r.range.small));
        QCOMPARE(bar->pageStep(), int(r.range.large));
        QCOMPARE(bar->value(), int(r.range.start));
    }
    if (r.kind == pp::SysKind::TwoState) {
        for (size_t i = 0; i < 2; ++i) {
            auto* option = f.find<QRadioButton>(qs(r.options[i]));
            QVERIFY2(option, r.options[i].data());
            QVERIFY(!option->isChecked());
            QVERIFY(frame->isAncestorOf(option));
        }
    }
    if (r.kind == pp::SysKind::Clock) {
        auto* button = f.find<QPushButton>(QStringLiteral("cmdTime"));
        QVERIFY(button && frame->isAncestorOf(button));
    }
}

void TestMainWindow::partControls_data() {
    QTest::addColumn<int>("index");
    for (const pp::PartRow& r : pp::partCatalogue())
        QTest::newRow(r.stem.data()) << static_cast<int>(r.id);
}

void TestMainWindow::partControls() {
    QFETCH(int, index);
    const pp::PartRow& r = pp::partCatalogue()[static_cast<size_t>(index)];
    Fixture f;

    const QString frameName = r.frame.empty() ? QStringLiteral("frm") + qs(r.stem) : qs(r.frame);
    auto* frame = f.find<QGroupBox>(frameName);
    QVERIFY2(frame, qPrintable(frameName));
    QVERIFY(f.window->view().partPage()->isAncestorOf(frame));

    auto* text = f.find<QLineEdit>(qs(r.textBox));
    QVERIFY2(text, r.textBox.data());
    QVERIFY(frame->isAncestorOf(text));
    QCOMPARE(text->isReadOnly(), r.kind == pp::PartKind::Option);
    QCOMPARE(text->accessibleName(), qs(r.caption));

    if (!r.slider.empty()) {
        auto* bar = f.find<QScrollBar>(qs(r.slider));
        QVERIFY2(bar, r.slider.data());
        QVERIFY(frame->isAncestorOf(bar));
        QCOMPARE(bar->minimum(), int(r.range.min));
        QCOMPARE(bar->maximum(), int(r.range.max));
        QCOMPARE(bar->value(), int(r.range.start));
    }
    int options = 0;
    for (size_t i = 0; i < r.options.size(); ++i) {
        if (r.options[i].empty())
            continue;
        ++options;
        auto* option = f.find<QRadioButton>(qs(r.options[i]));
        QVERIFY2(option, r.options[i].data());
        QVERIFY(frame->isAncestorOf(option));
    }
    if (r.id == pp::Part::ZeroSel)
        QCOMPARE(options, 3);
    if (r.id == pp::Part::CustCode) {
        QVERIFY(f.find<QLabel>(QStringLiteral("lblCustCodeRange")));
    }
}

void TestMainWindow::slidersRunTheirRuleWhenAStepOrDragEnds() {
    Fixture f;
    pp::Sheet& sheet = f.window->sheet();
    auto* bar = f.find<QScrollBar>("scrGPRDelay");

    // Arrow click.
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(int(sheet.slider(pp::Sys::GPRDelay).pos), 1);
    QCOMPARE(f.text("txtGPRDelay"), QStringLiteral("0.1"));
    // Track click.
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(int(sheet.slider(pp::Sys::GPRDelay).pos), 11);
    QCOMPARE(f.text("txtGPRDelay"), QStringLiteral("1.1"));
    // Keyboard.
    QTest::keyClick(bar, Qt::Key_Left);
    QCOMPARE(f.text("txtGPRDelay"), QStringLiteral("1"));

    // While dragging nothing happens; the release applies the position.
    bar->setSliderDown(true);
    bar->setSliderPosition(120);
    QCOMPARE(int(sheet.slider(pp::Sys::GPRDelay).pos), 10);
    QCOMPARE(f.text("txtGPRDelay"), QStringLiteral("1"));
    bar->setSliderDown(false);
    QCOMPARE(int(sheet.slider(pp::Sys::GPRDelay).pos), 120);
    QCOMPARE(f.text("txtGPRDelay"), QStringLiteral("12"));

    // Back to 0: "OFF".
    bar->setValue(0);
    QCOMPARE(f.text("txtGPRDelay"), QStringLiteral("OFF"));

    // A slider far beyond the scroll bar's default 0..99.
    auto* zero = f.find<QScrollBar>("scrSysZero");
    zero->setValue(3000);
    QCOMPARE(int(sheet.slider(pp::Sys::SysZero).pos), 3000);
    QCOMPARE(f.text("txtSysZero"), QStringLiteral("3000"));
}

void TestMainWindow::decimalsSliderLocksThePartTab() {
    Fixture f;
    pp::Sheet& sheet = f.window->sheet();
    sheet.commands.partTab = true;
    f.window->mirror();
    QVERIFY(f.tabs()->isTabEnabled(1));

    f.find<QScrollBar>("scrPresNumDecimals")->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(f.text("txtPresNumDecimals"), QStringLiteral("1"));
    QCOMPARE(sheet.presDecimals(), 1);
    QVERIFY(!f.tabs()->isTabEnabled(1));
}

void TestMainWindow::optionClickAndMirror() {
    Fixture f;
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    pp::Sheet& sheet = f.window->sheet();
    auto* lpm = f.find<QRadioButton>("optFlowLPM");
    QTest::mouseClick(lpm, Qt::LeftButton, {}, QPoint(6, lpm->height() / 2));
    QCOMPARE(sheet.option(pp::Sys::FlowEngUnits), 1);
    QCOMPARE(f.text("txtFlowEngUnits"), QStringLiteral("LPM"));

    auto* ccm = f.find<QRadioButton>("optFlowCCM");
    QTest::mouseClick(ccm, Qt::LeftButton, {}, QPoint(6, ccm->height() / 2));
    QCOMPARE(sheet.option(pp::Sys::FlowEngUnits), 0);
    QCOMPARE(f.text("txtFlowEngUnits"), QStringLiteral("CCM"));
    QVERIFY(!lpm->isChecked());

    // "Set Time" writes the clock text.
    QTest::mouseClick(f.find<QPushButton>("cmdTime"), Qt::LeftButton);
    QVERIFY(!f.text("txtTime").isEmpty());
    QCOMPARE(f.text("txtTime"), qs(sheet.text(pp::Sys::Time)));
}

void TestMainWindow::mirrorClearsOptionsAndSetsRangeBeforeValue() {
    Fixture f;
    pp::Sheet& sheet = f.window->sheet();
    sheet.selectOption(pp::Sys::EPS, 1);
    sheet.selectOption(pp::Part::ZeroSel, 2);
    f.window->mirror();
    QVERIFY(f.find<QRadioButton>("optEPSOn")->isChecked());
    QVERIFY(f.find<QRadioButton>("optZSOffset")->isChecked());

    // A fresh sheet has no option selected: the exclusive groups must let go.
    sheet = pp::Sheet();
    f.window->mirror();
    QVERIFY(!f.find<QRadioButton>("optEPSOn")->isChecked());
    QVERIFY(!f.find<QRadioButton>("optEPSOff")->isChecked());
    QVERIFY(!f.find<QRadioButton>("optZSOffset")->isChecked());

    // The time base moves the block-test minimum; the scroll bar follows range and value.
    sheet.selectOption(pp::Part::TimeBase, 0); // "0.1 SEC": minimum 8
    f.window->mirror();
    auto* blk = f.find<QScrollBar>("scrBlkTime");
    QCOMPARE(blk->minimum(), int(sheet.slider(pp::Part::BlkTime).min));
    QCOMPARE(blk->value(), int(sheet.slider(pp::Part::BlkTime).pos));
    QCOMPARE(blk->minimum(), 8);

    QVERIFY(sheet.setSlider(pp::Part::FlowFactor, 5000));
    f.window->mirror();
    QCOMPARE(f.find<QScrollBar>("scrFlowFactor")->value(), 5000);
    QCOMPARE(f.text("txtFlowFactor"), QStringLiteral("500"));
}

void TestMainWindow::customerCodeTyping_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("digits stay") << "123456"
                                 << "123456";
    QTest::newRow("a letter empties") << "12a"
                                      << "";
    QTest::newRow("a seventh digit empties") << "1234567"
                                             << "";
    QTest::newRow("typing goes on after emptying") << "1a7"
                                                   << "7";
}

void TestMainWindow::customerCodeTyping() {
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    Fixture f;
    f.window->sheet().commands.partTab = true;
    f.window->mirror();
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    auto* code = f.find<QLineEdit>("txtCustCode");
    QTest::keyClicks(code, typed);
    QCOMPARE(code->text(), shown);
    QCOMPARE(qs(f.window->sheet().text(pp::Part::CustCode)), shown);
}

void TestMainWindow::generationEnablesInitialFlowCheck() {
    Fixture f;
    pp::Sheet& sheet = f.window->sheet();
    const char* controls[] = {
        "frmInitFlowCheck", "txtInitFlowChk", "optIFCOff",       "optIFCOn",    "frmInitFlowLimit",
        "txtInitLimit",     "scrInitLimit",   "frmInitFlowTime", "txtInitTime", "scrInitTime"};
    sheet.commands.partTab = true;
    f.window->mirror();
    QWidget* tabs = f.tabs();
    for (const char* name : controls)
        QVERIFY2(f.find<QWidget>(name)->isEnabledTo(tabs), name);

    sheet.SetFirmwareGeneration(pp::Generation::V70);
    f.window->mirror();
    for (const char* name : controls)
        QVERIFY2(!f.find<QWidget>(name)->isEnabledTo(tabs), name);
    QCOMPARE(f.window->statusPanel(2)->text(), QStringLiteral("QX7400 V7.2 or earlier"));
    QVERIFY(f.find<QWidget>("frmEPS")->isEnabled());

    sheet.SetFirmwareGeneration(pp::Generation::V73);
    f.window->mirror();
    for (const char* name : controls)
        QVERIFY2(f.find<QWidget>(name)->isEnabledTo(tabs), name);
    QCOMPARE(f.window->statusPanel(2)->text(), QStringLiteral("QX7400 V7.3 or later"));
}

void TestMainWindow::choosingAPartNumber_data() {
    QTest::addColumn<QString>("custCode");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("kept");
    QTest::newRow("no part loaded") << "" << int(pp::Answer::Yes) << false << true;
    QTest::newRow("keep") << "1002" << int(pp::Answer::Yes) << true << true;
    QTest::newRow("do not keep") << "1002" << int(pp::Answer::No) << true << false;
}

void TestMainWindow::choosingAPartNumber() {
    QFETCH(QString, custCode);
    QFETCH(int, answer);
    QFETCH(bool, asked);
    QFETCH(bool, kept);
    Fixture f;
    pp::Sheet& sheet = f.window->sheet();
    sheet.AddPartNumber("01");
    sheet.AddPartNumber("02");
    sheet.setPartSelection("01");
    sheet.setText(pp::Part::CustCode, custCode.toStdString());
    QVERIFY(sheet.setSlider(pp::Part::FillTime, 30));
    sheet.filePath = "/tmp/QX7400_01.QX";
    sheet.commands.save = true;
    f.window->mirror();
    const std::string fillTime = sheet.text(pp::Part::FillTime);
    QVERIFY(!fillTime.empty());

    auto* parts = f.find<QComboBox>("cmbParts");
    QCOMPARE(parts->count(), 2);
    QCOMPARE(parts->currentText(), QStringLiteral("01"));
    f.answers.push_back(pp::Answer(answer));
    // The user picks the second entry.
    parts->setCurrentIndex(1);
    emit parts->activated(1);
    QCOMPARE(parts->currentText(), QStringLiteral("02"));
    QCOMPARE(sheet.partSelection(), std::string("02"));

    QCOMPARE(f.messages.size(), size_t(asked ? 1 : 0));
    if (asked) {
        QCOMPARE(f.messages[0].text,
                 QStringLiteral("Do you want to keep the current values of all parameters?"));
        QCOMPARE(f.messages[0].caption, QStringLiteral("QX7400 Parameters"));
        QCOMPARE(f.messages[0].buttons, pp::Buttons::YesNo);
        // Panel 3 emptied and Save unavailable, whatever the answer.
        QVERIFY(f.window->statusPanel(3)->text().isEmpty());
        QVERIFY(!f.action("mnuSave")->isEnabled());
        QVERIFY(!f.action("Toolbar1_save")->isEnabled());
    } else {
        QCOMPARE(f.window->statusPanel(3)->text(), QStringLiteral("/tmp/QX7400_01.QX"));
        QVERIFY(f.action("mnuSave")->isEnabled());
    }
    QCOMPARE(f.text("txtFillTime"), kept ? qs(fillTime) : QString());
    QCOMPARE(f.text("txtCustCode"), kept ? custCode : QString());
}

void TestMainWindow::toolbarAndMenusOpenTheirWindows() {
    Fixture f;
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));

    QString seen;
    onNextModal([&seen](QWidget* modal) {
        seen = modal ? modal->objectName() : QStringLiteral("none");
        if (modal)
            modal->findChild<QPushButton*>(QStringLiteral("cmdClose"))->click();
    });
    f.action("Toolbar1_mode")->trigger();
    QCOMPARE(seen, QStringLiteral("FormQX7400"));
    QVERIFY(f.window->modeWindow()->isHidden()); // hidden, kept

    onNextModal([&seen](QWidget* modal) {
        seen = modal ? modal->objectName() : QStringLiteral("none");
        if (modal)
            modal->findChild<QPushButton*>(QStringLiteral("cmdCancel"))->click();
    });
    f.action("mnuComm")->trigger();
    QCOMPARE(seen, QStringLiteral("FormPort"));

    QPointer<QWidget> about;
    onNextModal([&seen, &about](QWidget* modal) {
        seen = modal ? modal->objectName() : QStringLiteral("none");
        about = modal;
        if (modal)
            modal->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    });
    f.action("mnuAbout")->trigger();
    QCOMPARE(seen, QStringLiteral("frmAbout"));
    QTRY_VERIFY(about.isNull()); // destroyed by its button

    // Exit closes the window.
    f.action("mnuExit")->trigger();
    QVERIFY(!f.window->isVisible());
}

void TestMainWindow::modeWindowPartList() {
    Fixture f;
    pp::Sheet& sheet = f.window->sheet();
    sheet.AddPartNumber("03");
    sheet.AddPartNumber("07");
    f.window->mirror();

    // Created on first use: the boxes show what the selector holds.
    pp::ui::ModeWindow* mode = f.window->modeWindow();
    for (int i = 0; i < 32; ++i) {
        auto* box = f.find<QCheckBox>(QStringLiteral("Check1_%1").arg(i));
        QVERIFY(box);
        QCOMPARE(box->isChecked(), i == 2 || i == 6);
    }

    // An answer listing parts 1, 2 and 32 replaces 01..32 in the selector.
    std::string list = "A" + std::string(32, '0');
    list[1] = list[2] = list[32] = '1';
    mode->ProcessPartsList(list);
    f.window->mirror();
    QCOMPARE(sheet.partNumbers(), (std::vector<std::string>{"01", "02", "32"}));
    auto* parts = f.find<QComboBox>("cmbParts");
    QCOMPARE(parts->count(), 3);
    QCOMPARE(parts->itemText(2), QStringLiteral("32"));
    QVERIFY(mode->partBox(0)->isChecked() && mode->partBox(31)->isChecked());
    QVERIFY(!mode->partBox(2)->isChecked());

    // Twice adds nothing; a short answer reads as not configured.
    mode->ProcessPartsList(list);
    QCOMPARE(sheet.partNumbers().size(), size_t(3));
    mode->ProcessPartsList("A1");
    QCOMPARE(sheet.partNumbers(), (std::vector<std::string>{"01"}));

    // Ticking box 4 and CLOSE adds 05, in numeric order.
    mode->partBox(4)->setChecked(true);
    mode->partBox(31)->setChecked(true);
    QTest::mouseClick(f.find<QPushButton>("cmdClose"), Qt::LeftButton);
    QCOMPARE(sheet.partNumbers(), (std::vector<std::string>{"01", "05", "32"}));
    QCOMPARE(parts->count(), 3);
    QCOMPARE(parts->itemText(1), QStringLiteral("05"));
}

void TestMainWindow::modeWindowModeReport() {
    Fixture f;
    pp::ui::ModeWindow* mode = f.window->modeWindow();
    auto* current = f.find<QLineEdit>("txtCurrentMode");
    QVERIFY(current->isReadOnly());
    const struct {
        const char* report;
        const char* text;
        const char* option;
    } cases[] = {{"800", "SETUP", "optSetUp"},
                 {"810", "CALIBRATE", "optCal"},
                 {"820", "RUN", "optRun"},
                 {"830", "DATA", "optData"}};
    for (const auto& c : cases) {
        mode->ProcessModeData(c.report);
        QCOMPARE(current->text(), QString::fromLatin1(c.text));
        QVERIFY(f.find<QRadioButton>(c.option)->isChecked());
    }
    QVERIFY(f.messages.empty());

    // An unknown digit changes nothing; the running flag is reported after the display.
    mode->ProcessModeData("871");
    QCOMPARE(current->text(), QStringLiteral("DATA"));
    QCOMPARE(f.messages.size(), size_t(1));
    QCOMPARE(f.messages[0].text, QStringLiteral("Test is in progress! Mode cannot be changed"));
    QCOMPARE(f.messages[0].caption, QStringLiteral("ParamPorter"));
    QCOMPARE(f.messages[0].buttons, pp::Buttons::Ok);
    mode->ProcessModeData("821");
    QCOMPARE(current->text(), QStringLiteral("RUN"));
    QCOMPARE(f.messages.size(), size_t(2));
}

void TestMainWindow::modeWindowTitleBarCloseDestroys() {
    Fixture f;
    pp::ui::MainWindow& w = *f.window;
    QPointer<pp::ui::ModeWindow> first = w.modeWindow();
    first->ProcessModeData("820");
    // Shown as the menu shows it; CLOSE hides it with its state.
    onNextModal([](QWidget* modal) {
        modal->findChild<QCheckBox*>(QStringLiteral("Check1_9"))->setChecked(true);
        modal->findChild<QRadioButton*>(QStringLiteral("optData"))->click();
        QTest::mouseClick(modal->findChild<QPushButton*>(QStringLiteral("cmdClose")),
                          Qt::LeftButton);
    });
    f.action("mnuQX7400")->trigger();
    QCoreApplication::processEvents();
    QVERIFY(first);
    // Escape hides it too; the state is still there.
    bool kept = false;
    onNextModal([&kept](QWidget* modal) {
        kept = modal->findChild<QCheckBox*>(QStringLiteral("Check1_9"))->isChecked() &&
               modal->findChild<QRadioButton*>(QStringLiteral("optData"))->isChecked() &&
               modal->findChild<QLineEdit*>(QStringLiteral("txtCurrentMode"))->text() == "RUN";
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    f.action("mnuQX7400")->trigger();
    QCoreApplication::processEvents();
    QVERIFY(kept);
    QCOMPARE(w.modeWindow(), first.data());
    QCOMPARE(w.sheet().partNumbers(), std::vector<std::string>{"10"}); // CLOSE carried it over

    // The title bar's close ends it; the next use builds a new one.
    onNextModal([](QWidget* modal) { modal->close(); });
    f.action("mnuQX7400")->trigger();
    QTRY_VERIFY(first.isNull());
    pp::ui::ModeWindow* second = w.modeWindow();
    QVERIFY(second);
    QVERIFY(!second->findChild<QRadioButton*>(QStringLiteral("optData"))->isChecked());
}

void TestMainWindow::portDialog_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("choose"); // empty: keep the preselection
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("preselected");
    QTest::addColumn<int>("result");
    QTest::newRow("out of range, cancel") << 7 << "" << false << "optComm1" << 1;
    QTest::newRow("zero, ok") << 0 << "" << true << "optComm1" << 1;
    QTest::newRow("4 shown") << 4 << "" << true << "optComm4" << 4;
    QTest::newRow("choose 3") << 1 << "optComm3" << true << "optComm1" << 3;
    QTest::newRow("choose 5, cancel") << 2 << "optComm5" << false << "optComm2" << 2;
}

void TestMainWindow::portDialog() {
    QFETCH(int, stored);
    QFETCH(QString, choose);
    QFETCH(bool, ok);
    QFETCH(QString, preselected);
    QFETCH(int, result);
    int port = stored;
    pp::ui::PortDialog dialog([&port] { return port; }, [&port](int n) { port = n; });
    dialog.show();
    QVERIFY(dialog.findChild<QRadioButton*>(preselected)->isChecked());
    if (!choose.isEmpty())
        QTest::mouseClick(dialog.findChild<QRadioButton*>(choose), Qt::LeftButton, {},
                          QPoint(6, 6));
    QTest::mouseClick(
        dialog.findChild<QPushButton*>(ok ? QStringLiteral("cmdOK") : QStringLiteral("cmdCancel")),
        Qt::LeftButton);
    QVERIFY(dialog.isHidden());
    QCOMPARE(port, result);
}

void TestMainWindow::portDialogShowsDevices() {
    qputenv("PARAMPORTER_COMM2", "/dev/ttyUSB7"); // shown, never opened
    int port = 1;
    pp::ui::PortDialog dialog([&port] { return port; }, [&port](int n) { port = n; });
    dialog.show();
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("lblDevice2"))->text(),
             QStringLiteral("/dev/ttyUSB7"));
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("lblDevice3"))->text(),
             pp::qt::devicePathForPort(3));
    qputenv("PARAMPORTER_COMM2", "/nonexistent/paramporter-test-2");
}

void TestMainWindow::shutDownSavesSettingsThenClosesThePort() {
    SimulatorOnComm sim(2);
    QVERIFY(sim.started);
    sim.instrument.setSilent(true); // the exchange stays open

    std::vector<std::pair<int, bool>> saved; // port number, port still open
    MainWindow* w = nullptr;
    pp::ui::AppSettingsHooks hooks;
    hooks.load = [] { return 2; };
    hooks.save = [&saved, &w](int port, pp::Window&) {
        saved.push_back({port, w->session().busy()});
    };
    Fixture f(hooks);
    w = f.window.get();
    QCOMPARE(w->session().commPortNumber(), 2);
    w->show();
    QTest::mouseClick(f.find<QPushButton>("cmdSDUpload"), Qt::LeftButton);
    QVERIFY(w->session().busy());

    w->close();
    QCOMPARE(saved.size(), size_t(1));
    QCOMPARE(saved[0].first, 2);
    QVERIFY(saved[0].second); // saved first, port closed after
    QVERIFY(!w->session().busy());
}

void TestMainWindow::endToEndAgainstTheSimulator() {
    SimulatorOnComm sim;
    QVERIFY(sim.started);
    pp::sim::Instrument& instrument = sim.instrument;
    instrument.setConfiguredParts({1, 2, 5});

    Fixture f;
    MainWindow& w = *f.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    // System upload: every text follows the record, the generation shows, the tab opens.
    QTest::mouseClick(f.find<QPushButton>("cmdSDUpload"), Qt::LeftButton);
    QTRY_COMPARE(w.statusPanel(1)->text(), QStringLiteral("SUCCESS"));
    QCOMPARE(f.text("txtSerial"), qs(instrument.systemField(7)));
    QCOMPARE(f.text("txtSerial"), qs(w.sheet().text(pp::Sys::Serial)));
    QCOMPARE(f.find<QScrollBar>("scrSerial")->value(), int(w.sheet().slider(pp::Sys::Serial).pos));
    QVERIFY(!f.text("txtTime").isEmpty());
    QCOMPARE(w.statusPanel(2)->text(), QStringLiteral("QX7400 V7.3 or later"));
    QVERIFY(f.tabs()->isTabEnabled(1));
    QVERIFY(f.find<QPushButton>("cmdSDDnLoad")->isEnabled());
    QVERIFY(f.find<QPushButton>("cmdPartUpload")->isEnabled());

    // Turning to the part tab with no part loaded fetches the part list.
    f.tabs()->setCurrentIndex(1);
    auto* parts = f.find<QComboBox>("cmbParts");
    QTRY_COMPARE(parts->count(), 3);
    QCOMPARE(parts->itemText(2), QStringLiteral("05"));
    QVERIFY(instrument.framesReceived().back() == "A");
    QVERIFY(f.messages.empty());

    // Part upload of 02.
    parts->setFocus();
    QTest::keyClick(parts, Qt::Key_Down);
    QTest::keyClick(parts, Qt::Key_Down);
    QCOMPARE(parts->currentText(), QStringLiteral("02"));
    QTest::mouseClick(f.find<QPushButton>("cmdPartUpload"), Qt::LeftButton);
    QTRY_VERIFY(!f.text("txtCustCode").isEmpty());
    QCOMPARE(w.statusPanel(1)->text(), QStringLiteral("SUCCESS"));
    QCOMPARE(f.text("txtCustCode"), qs(w.sheet().text(pp::Part::CustCode)));
    QVERIFY(f.find<QPushButton>("cmdPartDnload")->isEnabled());
    QVERIFY(f.action("mnuPrint")->isEnabled());

    // Back and forth again: a part is loaded, so nothing is asked of the instrument.
    const size_t frames = instrument.framesReceived().size();
    f.tabs()->setCurrentIndex(0);
    f.tabs()->setCurrentIndex(1);
    QVERIFY(!w.session().busy()); // a request would have opened the port at once
    QCOMPARE(instrument.framesReceived().size(), frames);

    // Edit the serial number through its scroll bar and download the system parameters.
    f.tabs()->setCurrentIndex(0);
    auto* serial = f.find<QScrollBar>("scrSerial");
    serial->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    const QString newSerial = f.text("txtSerial");
    QTest::mouseClick(f.find<QPushButton>("cmdSDDnLoad"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w.statusPanel(1)->text(),
                              QStringLiteral("System Download successfully completed"), 10000);
    QCOMPARE(qs(instrument.systemField(7)).toInt(), newSerial.toInt());
    // The download emptied the part sheet.
    QVERIFY(f.text("txtCustCode").isEmpty());

    // No instrument: the time-out message after a second.
    instrument.setSilent(true);
    QTest::mouseClick(f.find<QPushButton>("cmdSDUpload"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w.statusPanel(1)->text(),
                              QStringLiteral("Error - No response from QX7400"), 5000);
    QVERIFY(!w.session().busy());
}

void TestMainWindow::modeWindowAgainstTheSimulator() {
    SimulatorOnComm sim;
    QVERIFY(sim.started);
    pp::sim::Instrument& instrument = sim.instrument;
    instrument.setMode(2);
    instrument.setConfiguredParts({3, 32});

    Fixture f;
    MainWindow& w = *f.window;
    QPointer<pp::ui::ModeWindow> mode = w.modeWindow();
    auto* current = f.find<QLineEdit>("txtCurrentMode");

    QTest::mouseClick(f.find<QPushButton>("cmdReqMode"), Qt::LeftButton);
    QTRY_COMPARE(current->text(), QStringLiteral("RUN"));
    QVERIFY(f.find<QRadioButton>("optRun")->isChecked());

    // The selector follows the instrument's list at once.
    QTest::mouseClick(f.find<QPushButton>("cmdQuery"), Qt::LeftButton);
    QTRY_COMPARE(f.find<QComboBox>("cmbParts")->count(), 2);
    QVERIFY(mode->partBox(2)->isChecked() && mode->partBox(31)->isChecked());

    // Changing the mode.
    f.find<QRadioButton>("optCal")->click();
    QTest::mouseClick(f.find<QPushButton>("cmdSetMode"), Qt::LeftButton);
    QTRY_COMPARE(current->text(), QStringLiteral("CALIBRATE"));
    QCOMPARE(instrument.mode(), 1);

    // While a test runs the instrument keeps its mode and says why.
    instrument.setTestRunning(true);
    f.find<QRadioButton>("optData")->click();
    QTest::mouseClick(f.find<QPushButton>("cmdSetMode"), Qt::LeftButton);
    QTRY_COMPARE(f.messages.size(), size_t(1));
    QCOMPARE(f.messages[0].text, QStringLiteral("Test is in progress! Mode cannot be changed"));
    QCOMPARE(instrument.mode(), 1);
    QVERIFY(!w.session().busy());

    // A new window has no mode chosen: "9?" is sent and refused.
    mode->close();
    QTRY_VERIFY(mode.isNull());
    w.modeWindow()->cmdSetMode_Click();
    QTRY_COMPARE(w.statusPanel(1)->text(), QStringLiteral("Check QX7400 operating mode!"));
    QCOMPARE(instrument.framesReceived().back(), std::string("9?"));
}

// A part number the list does not hold, typed into the selector.
void TestMainWindow::typedPartNumber() {
    SimulatorOnComm sim;
    QVERIFY(sim.started);
    sim.instrument.setConfiguredParts({1});
    Fixture f;
    f.click("cmdSDUpload");
    QTRY_COMPARE(f.status(), QStringLiteral("SUCCESS"));
    f.tabs()->setCurrentIndex(1);
    auto* parts = f.find<QComboBox>("cmbParts");
    QTRY_COMPARE(parts->count(), 1);
    parts->lineEdit()->selectAll();
    QTest::keyClicks(parts->lineEdit(), QStringLiteral("7"));
    f.click("cmdPartUpload");
    QTRY_COMPARE(f.text("txtCustCode"), QStringLiteral("1007"));
    QCOMPARE(sim.instrument.framesReceived().back(), std::string("307"));
    QCOMPARE(parts->currentText(), QStringLiteral("7"));
    QCOMPARE(parts->count(), 1); // typing adds nothing to the instrument's list
}

void TestMainWindow::generationTextIsNeverCut() {
    Fixture f;
    pp::ui::MainWindow& w = *f.window;
    w.sheet().SetFirmwareGeneration(pp::Generation::V70);
    w.mirror();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QLabel* panel = w.statusPanel(2);
    const QFont normal = QApplication::font();
    for (double scale : {1.0, 1.5}) {
        QFont font = normal;
        font.setPointSizeF(normal.pointSizeF() * scale);
        QApplication::setFont(font);
        QCoreApplication::processEvents();
        QTRY_VERIFY2(panel->contentsRect().width() >=
                         panel->fontMetrics().horizontalAdvance(panel->text()),
                     qPrintable(QStringLiteral("%1 %").arg(scale * 100)));
    }
    QApplication::setFont(normal);
}

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
