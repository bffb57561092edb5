// Comparing two sheets: which parameters count, their captions and both texts, generations.
#include "files/param_file.h"
#include "sheet/compare.h"
#include "sheet/sheet.h"

#include "support/fakes.h"

#include <QtTest>

using namespace pp;

namespace {

// A sheet as a V7.3 file leaves it: every text set through the file reader.
Sheet loaded(Generation generation = Generation::V73) {
    const std::string file =
        "\"1234\",\"OFF\",\"N OPEN\",\"NO\",\"OFF\",\"OFF\",\"OFF\",\"OFF\",\"OFF\",\"10\","
        "\"1\",\"OFF\",\"OPEN\",\"PSI\",\"1\",\"CCM\",\"2\",\"5\",\"ON\",\"OFF\",\"00000000\","
        "\"Jan 01,2026 10:00\"\r\n"
        "\"07\",\"0.1 SEC\",\"1.0\",\"0.00\",\"0.00\",\"0.0\",\"OFF\",\"2.0\",\"10.0\",\"5.0\","
        "\"5.0\",\"OFF\",\"1.00\",\"0.00\",\"0.50\",\"CAL\",\"0.01\",\"0.01\",\"0.0\",\"0.0\","
        "\"0.8\",\"0.0\",\"0.0\",\"0.0\",\"1\",\"1.0\",\"2\",\"123\",\"0\"\r\n" +
        std::string(generation == Generation::V73 ? "\"ON\",\"3\",\"4\"\r\n" : "");
    Sheet sheet;
    test::FakeWindow window;
    window.yesNoDefault = Answer::No;
    if (!applyParamFileText(sheet, file, window))
        qFatal("test file refused");
    return sheet;
}

// Failures show the rows.
char* toString(const std::vector<Difference>& rows) {
    std::string text;
    for (const Difference& d : rows)
        text +=
            (d.group == CompareGroup::System ? "[system] " : "[part] ") + differenceLine(d) + "; ";
    return qstrdup(text.c_str());
}

} // namespace

namespace pp {
using ::toString;
}

class TestCompare : public QObject {
    Q_OBJECT

private slots:
    void equalSheetsGiveNothing();
    void reportsEachChangedParameterOnce();
    void optionBlockCountsByItsCode();
    void initialFlowRowsFollowTheGeneration_data();
    void initialFlowRowsFollowTheGeneration();
    void lineFormat();
    void settingsLeaveOutWhatBelongsToTheInstrument();
};

void TestCompare::equalSheetsGiveNothing() {
    const Sheet a = loaded();
    QVERIFY(compareSheets(a, a).empty());
    QVERIFY(compareSheets(Sheet(), Sheet()).empty());
    // Enabled commands, the file path and the part list are no parameters.
    Sheet b = a;
    b.filePath = "/elsewhere.QX";
    b.commands.save = !b.commands.save;
    b.AddPartNumber("31");
    QVERIFY(compareSheets(a, b).empty());
}

void TestCompare::reportsEachChangedParameterOnce() {
    const Sheet a = loaded();
    Sheet b = a;
    // Two system and three part changes, made the way the tabs make them.
    QVERIFY(b.setSlider(Sys::Serial, b.slider(Sys::Serial).pos + 1));
    b.selectOption(Sys::EPS, 1);
    QVERIFY(b.setSlider(Part::FillTime, b.slider(Part::FillTime).pos + 5));
    b.selectOption(Part::ZeroSel, 2);
    b.setText(Part::CustCode, "456");

    const std::vector<Difference> expected{
        {CompareGroup::System, "Serial Number", "1234", b.text(Sys::Serial)},
        {CompareGroup::System, "External Program Select", "OFF", "ON"},
        {CompareGroup::Part, "Zero Selection", "CAL", "OFFSET"},
        {CompareGroup::Part, "Fill Time", a.text(Part::FillTime), b.text(Part::FillTime)},
        {CompareGroup::Part, "Customer Code", "123", "456"},
    };
    QCOMPARE(compareSheets(a, b), expected);
    QCOMPARE(b.text(Sys::Serial), std::string("1235"));

    // The other way round swaps the texts, nothing else.
    const auto back = compareSheets(b, a);
    QCOMPARE(back.size(), expected.size());
    for (size_t i = 0; i < back.size(); ++i) {
        QCOMPARE(back[i].caption, expected[i].caption);
        QCOMPARE(back[i].a, expected[i].b);
    }

    // The part number is a part parameter of its own.
    Sheet c = a;
    c.setPartSelection("08");
    QCOMPARE(compareSheets(a, c),
             (std::vector<Difference>{{CompareGroup::Part, "Part Number", "07", "08"}}));
}

void TestCompare::optionBlockCountsByItsCode() {
    const Sheet a = loaded();
    Sheet b = a;
    b.setText(Sys::OptionCode, "00000001");
    b.setText(Sys::Model, "something decoded");
    b.setText(Sys::Time, "Feb 02,2026 11:00");
    const auto rows = compareSheets(a, b);
    QCOMPARE(rows.size(), size_t(2));
    QCOMPARE(rows[0].caption, std::string("Option Code"));
    QCOMPARE(rows[1].caption, std::string("Time"));
}

void TestCompare::initialFlowRowsFollowTheGeneration_data() {
    QTest::addColumn<Generation>("first");
    QTest::addColumn<Generation>("second");
    QTest::addColumn<bool>("counted");
    QTest::newRow("both V7.3") << Generation::V73 << Generation::V73 << true;
    QTest::newRow("V7.3 and V7.0") << Generation::V73 << Generation::V70 << true;
    QTest::newRow("V7.0 and V7.3") << Generation::V70 << Generation::V73 << true;
    QTest::newRow("both V7.0") << Generation::V70 << Generation::V70 << false;
}

void TestCompare::initialFlowRowsFollowTheGeneration() {
    QFETCH(Generation, first);
    QFETCH(Generation, second);
    QFETCH(bool, counted);
    Sheet a = loaded();
    a.SetFirmwareGeneration(first);
    Sheet b = a;
    b.SetFirmwareGeneration(second);
    b.setText(Sys::InitFlowChk, "OFF");
    b.setText(Part::InitLimit, "9");
    b.setText(Part::InitTime, "8");
    const auto rows = compareSheets(a, b);
    if (!counted) {
        QVERIFY(rows.empty());
        return;
    }
    const std::vector<Difference> expected{
        {CompareGroup::System, std::string(row(Sys::InitFlowChk).caption), "ON", "OFF"},
        {CompareGroup::Part, std::string(row(Part::InitLimit).caption), "3", "9"},
        {CompareGroup::Part, std::string(row(Part::InitTime).caption), "4", "8"},
    };
    QCOMPARE(rows, expected);
}

void TestCompare::lineFormat() {
    QCOMPARE(differenceLine({CompareGroup::Part, "Leak Limit", "1.00", ""}),
             std::string("Leak Limit: 1.00 -> "));
}

// Another instrument, or the same one after calibrating: its serial number, clock and calibrated
// values differ and are no finding; a setting that differs is.
void TestCompare::settingsLeaveOutWhatBelongsToTheInstrument() {
    const Sheet a = loaded();
    Sheet b = a;
    b.setText(Sys::Serial, "5678");
    b.setText(Sys::Time, "Feb 02,2026 11:00");
    b.setText(Sys::SysZero, "2050");
    b.setText(Part::FlowZero, "2100");
    b.setText(Part::FlowFactor, "9.5");
    b.setText(Part::CalOffset, "3");
    b.setPartSelection("08");
    QVERIFY(compareSettings(a, b, CompareGroup::System).empty());
    QVERIFY(compareSettings(a, b, CompareGroup::Part).empty());
    b.selectOption(Sys::EPS, 1);
    b.setText(Part::CustCode, "456");
    QCOMPARE(
        compareSettings(a, b, CompareGroup::System),
        (std::vector<Difference>{{CompareGroup::System, "External Program Select", "OFF", "ON"}}));
    QCOMPARE(compareSettings(a, b, CompareGroup::Part),
             (std::vector<Difference>{{CompareGroup::Part, "Customer Code", "123", "456"}}));
}

QTEST_APPLESS_MAIN(TestCompare)
#include "test_compare.moc"
