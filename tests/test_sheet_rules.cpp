#include "sheet/sheet.h"

#include <QtTest>

using namespace pp;

Q_DECLARE_METATYPE(pp::Sys)
Q_DECLARE_METATYPE(pp::Part)

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// Moves a slider so that its rule runs even when it already stands at the target.
template <typename Id> void moveTo(Sheet& s, Id id, int pos) {
    if (s.slider(id).pos == pos)
        QVERIFY(s.setSlider(id, pos == s.slider(id).max ? pos - 1 : pos + 1));
    QVERIFY(s.setSlider(id, pos));
}

void setFlowDecimals(Sheet& s, int n) {
    moveTo(s, Sys::FlowNumDecimals, n * 10);
}
void setPresDecimals(Sheet& s, int n) {
    moveTo(s, Sys::PresNumDecimals, n * 10);
}

// The worked compensation case: FlowZero 3995, FlowFactor 10, TempFactor 2, one flow decimal.
Sheet compensationSheet() {
    Sheet s;
    setFlowDecimals(s, 1);
    s.setSlider(Part::FlowZero, 3995);
    s.setSlider(Part::FlowFactor, 100);
    s.setSlider(Part::TempFactor, 20);
    return s;
}

} // namespace

class TestSheet : public QObject {
    Q_OBJECT
private slots:
    // ------------------------------------------------------------ start and controls

    void startState() {
        Sheet s;
        for (const auto& r : systemCatalogue()) {
            QVERIFY(s.text(r.id).empty());
            QCOMPARE(s.option(r.id), -1);
            if (!r.slider.empty())
                QCOMPARE(int(s.slider(r.id).pos), int(r.range.start));
        }
        for (const auto& r : partCatalogue()) {
            QVERIFY(s.text(r.id).empty());
            QCOMPARE(s.option(r.id), -1);
            if (!r.slider.empty())
                QCOMPARE(int(s.slider(r.id).pos), int(r.range.start));
        }
        QCOMPARE(int(s.slider(Sys::SysZero).pos), 10);
        QCOMPARE(int(s.slider(Part::StabTime).pos), 50);
        QCOMPARE(int(s.slider(Part::CalOffset).pos), 1);
        QCOMPARE(int(s.slider(Part::BlkTime).min), 0);
        QCOMPARE(s.generation(), Generation::None);
        QCOMPARE(s.lastSysIndex(), 0);
        QCOMPARE(s.lastPartIndex(), 0);
        QCOMPARE(s.presDecimals(), 0);
        QCOMPARE(s.flowDecimals(), 0);
        QCOMPARE(s.flowMax(), 999.0f);
        QCOMPARE(s.compLimits(), CompLimits{});
        QVERIFY(!s.compLimitsCurrent());
        QVERIFY(s.commands == Commands{});
        QVERIFY(s.partNumbers().empty());
    }

    void sliderRefusesOutOfRangeAndSamePositionRunsNoRule() {
        Sheet s;
        QVERIFY(!s.setSlider(Sys::SysZero, 0));
        QVERIFY(!s.setSlider(Sys::SysZero, 4096));
        QVERIFY(!s.setSlider(Part::CalOffset, -501));
        QVERIFY(!s.setSlider(Sys::EPS, 0)); // no slider at all
        QVERIFY(!s.setSlider(Part::CustCode, 0));
        QCOMPARE(int(s.slider(Sys::SysZero).pos), 10);
        QVERIFY(s.text(Sys::SysZero).empty());

        // A decoder writes the received text, then the slider: an unchanged position keeps it.
        s.setText(Sys::SysZero, "0010");
        QVERIFY(s.setSlider(Sys::SysZero, 10));
        QCOMPARE(q(s.text(Sys::SysZero)), QString("0010"));
    }

    // ------------------------------------------------------------ system rules

    void systemSliderTexts_data() {
        QTest::addColumn<Sys>("id");
        QTest::addColumn<int>("pos");
        QTest::addColumn<QString>("text");
        QTest::newRow("delay off") << Sys::GPRDelay << 0 << "OFF";
        QTest::newRow("delay tenth") << Sys::GPRDelay << 1 << "0.1";
        QTest::newRow("delay half") << Sys::GPRDelay << 5 << "0.5";
        QTest::newRow("delay whole") << Sys::LCDDelay << 10 << "1";
        QTest::newRow("delay 1.5") << Sys::DrnVlvDelay << 15 << "1.5";
        QTest::newRow("delay 12") << Sys::GPRDelay << 120 << "12";
        QTest::newRow("delay max") << Sys::DrnVlvDelay << 999 << "99.9";
        QTest::newRow("rs232 1") << Sys::RS232 << 10 << "1";
        QTest::newRow("rs232 3") << Sys::RS232 << 30 << "3";
        QTest::newRow("rs232 4") << Sys::RS232 << 40 << "4";
        QTest::newRow("sys zero") << Sys::SysZero << 4095 << "4095";
        QTest::newRow("serial") << Sys::Serial << 10000 << "10000";
        QTest::newRow("leak readings") << Sys::NumLeakRdgs << 5 << "5";
        QTest::newRow("pres decimals 0") << Sys::PresNumDecimals << 0 << "0";
        QTest::newRow("flow decimals 2") << Sys::FlowNumDecimals << 20 << "2";
    }
    void systemSliderTexts() {
        QFETCH(Sys, id);
        QFETCH(int, pos);
        QFETCH(QString, text);
        Sheet s;
        moveTo(s, id, pos);
        QCOMPARE(q(s.text(id)), text);
    }

    void decimalSliderLocksThePartTabWhateverTheValue() {
        Sheet s;
        s.commands.partTab = true;
        QVERIFY(s.setSlider(Sys::PresNumDecimals, 10));
        QCOMPARE(q(s.text(Sys::PresNumDecimals)), QString("1"));
        QCOMPARE(s.presDecimals(), 1);
        QVERIFY(!s.commands.partTab);
        s.commands.partTab = true;
        QVERIFY(s.setSlider(Sys::PresNumDecimals, 0));
        QCOMPARE(s.presDecimals(), 0);
        QVERIFY(!s.commands.partTab);
        // Same position: no rule, the tab stays as it is.
        s.commands.partTab = true;
        QVERIFY(s.setSlider(Sys::PresNumDecimals, 0));
        QVERIFY(s.commands.partTab);
        // Other sliders never touch the tab.
        QVERIFY(s.setSlider(Sys::RS232, 20));
        QVERIFY(s.commands.partTab);
    }

    void decimalTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("flowDecimals");
        QTest::addColumn<float>("flowMax");
        // The sheet starts each row from two flow decimals (FlowMax 9.99).
        QTest::newRow("0") << "0" << 0 << 999.0f;
        QTest::newRow("1") << "1" << 1 << 99.9f;
        QTest::newRow("2") << "2" << 2 << 9.99f;
        QTest::newRow("empty") << "" << 0 << 999.0f;
        QTest::newRow("not a number") << "x" << 2 << 9.99f;
        QTest::newRow("fraction") << "1.5" << 2 << 9.99f;
        QTest::newRow("too many") << "3" << 2 << 9.99f;
        QTest::newRow("negative") << "-1" << 2 << 9.99f;
        QTest::newRow("huge") << "99999" << 2 << 9.99f;
    }
    void decimalTexts() {
        QFETCH(QString, text);
        QFETCH(int, flowDecimals);
        QFETCH(float, flowMax);
        Sheet s;
        s.setText(Sys::FlowNumDecimals, "2");
        QCOMPARE(s.flowDecimals(), 2);
        s.setText(Sys::FlowNumDecimals, text.toStdString());
        QCOMPARE(s.flowDecimals(), flowDecimals);
        QCOMPARE(s.flowMax(), flowMax);
        QCOMPARE(s.presDecimals(), 0);

        s.setText(Sys::PresNumDecimals, "2");
        s.setText(Sys::PresNumDecimals, text.toStdString());
        QCOMPARE(s.presDecimals(), flowDecimals);
    }

    void systemOptionsSetTheirStateText() {
        Sheet s;
        for (const auto& r : systemCatalogue()) {
            if (r.kind != SysKind::TwoState)
                continue;
            for (int which : {1, 0}) {
                s.selectOption(r.id, which);
                QCOMPARE(s.option(r.id), which);
                QCOMPARE(s.text(r.id), std::string(r.states[size_t(which)]));
            }
        }
        // Selecting the selected button again runs no rule.
        s.setText(Sys::EPS, "X");
        s.selectOption(Sys::EPS, 0);
        QCOMPARE(q(s.text(Sys::EPS)), QString("X"));
        // No unit choice converts a part value.
        setFlowDecimals(s, 1);
        s.setSlider(Part::LeakLimit, 125);
        s.selectOption(Sys::FlowEngUnits, 1);
        QCOMPARE(q(s.text(Sys::FlowEngUnits)), QString("LPM"));
        QCOMPARE(q(s.text(Part::LeakLimit)), QString("12.5"));
        // Rows without buttons and buttons that do not exist are ignored.
        s.selectOption(Sys::SysZero, 0);
        s.selectOption(Sys::ErrFlash, 2);
        QCOMPARE(s.option(Sys::SysZero), -1);
        QCOMPARE(s.option(Sys::ErrFlash), 0);
    }

    void clearSystemSheetEmptiesTextsOnly() {
        Sheet s;
        for (const auto& r : systemCatalogue())
            s.setText(r.id, "x");
        setFlowDecimals(s, 2);
        setPresDecimals(s, 1);
        s.selectOption(Sys::EPS, 1);
        moveTo(s, Sys::SysZero, 99);
        const Sheet before = s;
        s.ClearSystemSheet();
        for (const auto& r : systemCatalogue()) {
            QVERIFY(s.text(r.id).empty());
            QCOMPARE(s.slider(r.id).pos, before.slider(r.id).pos);
            QCOMPARE(s.option(r.id), before.option(r.id));
        }
        QCOMPARE(s.flowDecimals(), 0);
        QCOMPARE(s.presDecimals(), 0);
        QCOMPARE(s.flowMax(), 999.0f);
    }

    void setTime() {
        Sheet s;
        std::tm t{};
        t.tm_year = 2005 - 1900;
        t.tm_mon = 2;
        t.tm_mday = 7;
        t.tm_hour = 14;
        t.tm_min = 5;
        s.pressSetTime(t);
        QCOMPARE(q(s.text(Sys::Time)), QString("Mar 07,2005 14:05"));
        QCOMPARE(q(clockText(2004, 1, 1, 0, 0)), QString("Jan 01,2004 00:00"));
        QCOMPARE(q(clockText(2099, 12, 31, 23, 59)), QString("Dec 31,2099 23:59"));
    }

    void firmwareGeneration() {
        Sheet s;
        s.SetFirmwareGeneration(Generation::V70);
        QCOMPARE(s.generation(), Generation::V70);
        QCOMPARE(s.lastSysIndex(), 24);
        QCOMPARE(s.lastPartIndex(), 27);
        QVERIFY(!s.initFlowEnabled());
        s.SetFirmwareGeneration(Generation::None); // anything but V7.0 means V7.3
        QCOMPARE(s.generation(), Generation::V73);
        QCOMPARE(s.lastSysIndex(), 25);
        QCOMPARE(s.lastPartIndex(), 29);
        QVERIFY(s.initFlowEnabled());
    }

    void partNumberList() {
        Sheet s;
        s.AddPartNumber("12");
        s.AddPartNumber("03");
        s.AddPartNumber("7");
        s.AddPartNumber("32");
        s.AddPartNumber("07"); // already there
        s.AddPartNumber("7");  // the same part number, not a second entry
        QCOMPARE(s.partNumbers(), (std::vector<std::string>{"03", "07", "12", "32"}));
        s.RemovePartNumber("7"); // only an equal entry goes
        QCOMPARE(s.partNumbers().size(), size_t(4));
        s.RemovePartNumber("07");
        s.RemovePartNumber("99");
        QCOMPARE(s.partNumbers(), (std::vector<std::string>{"03", "12", "32"}));
        s.AddPartNumber("X1"); // no number: after every number, on Windows' 32-bit long too
        s.AddPartNumber("01");
        QCOMPARE(s.partNumbers(), (std::vector<std::string>{"01", "03", "12", "32", "X1"}));
    }

    // ------------------------------------------------------------ part rules

    void timeBaseSwitchRedrawsTimes() {
        Sheet s;
        s.SetFirmwareGeneration(Generation::V73);
        s.selectOption(Part::TimeBase, 1); // "1 SEC"
        QCOMPARE(q(s.text(Part::TimeBase)), QString("1 SEC"));
        QVERIFY(s.setSlider(Part::CompTime, 25));
        QVERIFY(s.setSlider(Part::InitTime, 30));
        QVERIFY(s.setSlider(Part::FCDelay, 5));
        QCOMPARE(q(s.text(Part::CompTime)), QString("25"));
        s.selectOption(Part::TimeBase, 0); // "0.1 SEC"
        QCOMPARE(q(s.text(Part::TimeBase)), QString("0.1 SEC"));
        QCOMPARE(q(s.text(Part::CompTime)), QString("2.5"));
        QCOMPARE(q(s.text(Part::StabTime)), QString("5"));
        QCOMPARE(q(s.text(Part::InitTime)), QString("3"));
        QCOMPARE(q(s.text(Part::FCDelay)), QString("OFF"));
        QCOMPARE(int(s.slider(Part::CompTime).pos), 25);

        // In V7.0 the initial flow time is left alone.
        s.SetFirmwareGeneration(Generation::V70);
        s.selectOption(Part::TimeBase, 1);
        QCOMPARE(q(s.text(Part::CompTime)), QString("25"));
        QCOMPARE(q(s.text(Part::InitTime)), QString("3"));
    }

    void timeBaseSetsBlockTimeMinimum() {
        Sheet s;
        QCOMPARE(int(s.slider(Part::BlkTime).pos), 0);
        s.selectOption(Part::TimeBase, 0);
        QCOMPARE(int(s.slider(Part::BlkTime).min), 8);
        // The position follows the raised minimum, and so does its text.
        QCOMPARE(int(s.slider(Part::BlkTime).pos), 8);
        QCOMPARE(q(s.text(Part::BlkTime)), QString("0.8"));
        QVERIFY(!s.setSlider(Part::BlkTime, 7));
        s.selectOption(Part::TimeBase, 1);
        QCOMPARE(int(s.slider(Part::BlkTime).min), 1);
        QCOMPARE(int(s.slider(Part::BlkTime).pos), 8);
        QCOMPARE(q(s.text(Part::BlkTime)), QString("8"));
        QVERIFY(s.setSlider(Part::BlkTime, 1));
        QVERIFY(!s.setSlider(Part::BlkTime, 0));
    }

    void fastCycleDelay_data() {
        QTest::addColumn<int>("timeBase"); // option index: 0 = "0.1 SEC", 1 = "1 SEC"
        QTest::addColumn<int>("pos");
        QTest::addColumn<QString>("text");
        QTest::newRow("sec 0") << 1 << 0 << "OFF";
        QTest::newRow("sec 1") << 1 << 1 << "1";
        QTest::newRow("sec 55") << 1 << 55 << "55";
        QTest::newRow("tenths 9") << 0 << 9 << "OFF";
        QTest::newRow("tenths 10") << 0 << 10 << "1";
        QTest::newRow("tenths 15") << 0 << 15 << "1.5";
    }
    void fastCycleDelay() {
        QFETCH(int, timeBase);
        QFETCH(int, pos);
        QFETCH(QString, text);
        Sheet s;
        s.selectOption(Part::TimeBase, timeBase);
        moveTo(s, Part::FCDelay, pos);
        QCOMPARE(q(s.text(Part::FCDelay)), text);
    }

    void emptyTimeBaseCountsAsTenths() {
        Sheet s;
        QVERIFY(s.setSlider(Part::FillTime, 25));
        QCOMPARE(q(s.text(Part::FillTime)), QString("2.5"));
    }

    void scaledPartTexts_data() {
        QTest::addColumn<Part>("id");
        QTest::addColumn<int>("flowDec");
        QTest::addColumn<int>("presDec");
        QTest::addColumn<int>("pos");
        QTest::addColumn<QString>("text");
        QTest::newRow("flow 1") << Part::LeakLimit << 1 << 0 << 125 << "12.5";
        QTest::newRow("flow 2") << Part::LeakLimit << 2 << 0 << 125 << "1.25";
        QTest::newRow("flow 0") << Part::LeakLimit << 0 << 2 << 125 << "125";
        QTest::newRow("flow 2 small") << Part::CalLeak << 2 << 0 << 5 << "0.05";
        QTest::newRow("neg limit") << Part::NegLimit << 1 << 0 << 10 << "1";
        QTest::newRow("pressure 0") << Part::FFPres << 2 << 0 << 60 << "60";
        QTest::newRow("pressure 1") << Part::PresHiLim << 0 << 1 << 805 << "80.5";
        QTest::newRow("pressure 2") << Part::BlkPres << 0 << 2 << 999 << "9.99";
        QTest::newRow("flow factor low") << Part::FlowFactor << 2 << 2 << 1 << "0.1";
        QTest::newRow("flow factor high") << Part::FlowFactor << 0 << 0 << 9999 << "999.9";
        QTest::newRow("temp factor") << Part::TempFactor << 2 << 0 << 200 << "20";
        QTest::newRow("flow zero") << Part::FlowZero << 2 << 2 << 4095 << "4095";
        QTest::newRow("offset negative") << Part::CalOffset << 1 << 1 << -25 << "-25";
        QTest::newRow("pressure decay") << Part::PresDecay << 1 << 1 << 100 << "100";
    }
    void scaledPartTexts() {
        QFETCH(Part, id);
        QFETCH(int, flowDec);
        QFETCH(int, presDec);
        QFETCH(int, pos);
        QFETCH(QString, text);
        Sheet s;
        setFlowDecimals(s, flowDec);
        setPresDecimals(s, presDec);
        moveTo(s, id, pos);
        QCOMPARE(q(s.text(id)), text);
    }

    void partOptions() {
        Sheet s;
        s.selectOption(Part::ZeroSel, 2);
        QCOMPARE(q(s.text(Part::ZeroSel)), QString("OFFSET"));
        s.selectOption(Part::TempComp, 0);
        QCOMPARE(q(s.text(Part::TempComp)), QString("ON"));
        s.selectOption(Part::TempComp, 2); // only two buttons
        QCOMPARE(s.option(Part::TempComp), 0);
    }

    void customerCode_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        QTest::newRow("digits") << "1234"
                                << "1234";
        QTest::newRow("six digits") << "123456"
                                    << "123456";
        QTest::newRow("zero") << "0"
                              << "0";
        QTest::newRow("leading zeros") << "000123"
                                       << "000123";
        QTest::newRow("seven digits") << "1234567"
                                      << "";
        QTest::newRow("letter") << "12a"
                                << "";
        QTest::newRow("sign") << "-1"
                              << "";
        QTest::newRow("plus") << "+1"
                              << "";
        QTest::newRow("point") << "1.5"
                               << "";
        QTest::newRow("exponent") << "1e3"
                                  << "";
        QTest::newRow("leading blank") << " 12"
                                       << "";
        QTest::newRow("trailing blank") << "12 "
                                        << "";
        QTest::newRow("empty") << ""
                               << "";
    }
    void customerCode() {
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        Sheet s;
        s.setText(Part::CustCode, "99");
        s.setText(Part::CustCode, typed.toStdString());
        QCOMPARE(q(s.text(Part::CustCode)), kept);
    }

    void grossLimitFollowsLeakLimit() {
        Sheet s;
        setFlowDecimals(s, 1);
        QVERIFY(s.setSlider(Part::GrossLimit, 100));
        QVERIFY(s.setSlider(Part::LeakLimit, 125)); // above the gross limit: drags it up
        QCOMPARE(q(s.text(Part::GrossLimit)), QString("12.5"));
        QCOMPARE(int(s.slider(Part::GrossLimit).pos), 125);
        QVERIFY(s.setSlider(Part::GrossLimit, 110)); // below the leak limit: put back
        QCOMPARE(q(s.text(Part::GrossLimit)), QString("12.5"));
        QCOMPARE(int(s.slider(Part::GrossLimit).pos), 125);
        QVERIFY(s.setSlider(Part::GrossLimit, 300)); // above: nothing happens
        QCOMPARE(q(s.text(Part::GrossLimit)), QString("30"));
        QCOMPARE(q(s.text(Part::LeakLimit)), QString("12.5"));
    }

    void grossLimitIgnoresNonNumbers() {
        Sheet s;
        s.setText(Part::GrossLimit, "abc");
        s.setText(Part::LeakLimit, "5");
        QCOMPARE(q(s.text(Part::GrossLimit)), QString("abc"));
        s.setText(Part::GrossLimit, "");
        s.setText(Part::LeakLimit, "6");
        QCOMPARE(q(s.text(Part::GrossLimit)), QString());
        // A received leak limit with more decimals than the slider shows settles too.
        s.setText(Part::LeakLimit, "2.5");
        s.setText(Part::GrossLimit, "1"); // no flow decimals: slider 2, text back to 2.5
        QCOMPARE(q(s.text(Part::GrossLimit)), QString("2.5"));
        QCOMPARE(int(s.slider(Part::GrossLimit).pos), 2);
    }

    // ------------------------------------------------------------ compensation

    void compensationWorkedExample() {
        Sheet s = compensationSheet();
        QVERIFY(s.compLimitsCurrent());
        QCOMPARE(s.compLimits().posMax, 20.0f);
        QCOMPARE(s.compLimits().posLimit, 10.0f);
        QCOMPARE(s.compLimits().negMax, 99.9f); // 779, capped at FlowMax
        QCOMPARE(s.compLimits().negLimit, 99.9f / 2.0f);
        QVERIFY(s.setSlider(Part::CompPos, 120));
        QCOMPARE(int(s.slider(Part::CompPos).pos), 100);
        QCOMPARE(q(s.text(Part::CompPos)), QString("10"));
        QVERIFY(s.setSlider(Part::CompNeg, 499));
        QCOMPARE(int(s.slider(Part::CompNeg).pos), 499);
        QVERIFY(s.setSlider(Part::CompNeg, 500)); // 50 > 49.95
        QCOMPARE(int(s.slider(Part::CompNeg).pos), 499);
        QCOMPARE(q(s.text(Part::CompNeg)), QString("49.9"));
        // A new flow zero recomputes the limits and pulls the values in.
        s.setText(Part::FlowZero, "4045"); // posMax 10, limit 5
        QCOMPARE(s.compLimits().posLimit, 5.0f);
        QCOMPARE(int(s.slider(Part::CompPos).pos), 50);
    }

    void temperatureFactorZeroGivesTheMaxima() {
        Sheet s = compensationSheet();
        QVERIFY(s.setSlider(Part::TempFactor, 0));
        QCOMPARE(s.compLimits().posLimit, 20.0f);
        QCOMPARE(s.compLimits().negLimit, 99.9f);
    }

    void limitsNeedAllThreeTexts() {
        Sheet s = compensationSheet();
        const CompLimits before = s.compLimits();
        s.setText(Part::TempFactor, "");
        QVERIFY(!s.compLimitsCurrent());
        s.setText(Part::FlowZero, "4000");
        QCOMPARE(s.compLimits(), before);
        QVERIFY(s.setSlider(Part::CompPos, 300)); // no current limits: kept
        QCOMPARE(int(s.slider(Part::CompPos).pos), 300);
        s.setText(Part::TempFactor, "1"); // posMax (95 * 2) / 10 = 19
        QVERIFY(s.compLimitsCurrent());
        QCOMPARE(s.compLimits().posLimit, 19.0f);
        QCOMPARE(int(s.slider(Part::CompPos).pos), 190);
    }

    void failedLimitsKeepValuesAndStopActing_data() {
        QTest::addColumn<Part>("id");
        QTest::addColumn<QString>("text");
        QTest::newRow("flow factor 0") << Part::FlowFactor << "0";
        QTest::newRow("flow factor garbage") << Part::FlowFactor << "x";
        QTest::newRow("flow zero garbage") << Part::FlowZero << "12a";
        QTest::newRow("temp factor garbage") << Part::TempFactor << "-";
        QTest::newRow("flow zero beyond 16 bits") << Part::FlowZero << "40000";
        QTest::newRow("difference overflows") << Part::FlowZero << "-32768";
        QTest::newRow("doubling overflows") << Part::FlowZero << "-20000";
    }
    void failedLimitsKeepValuesAndStopActing() {
        QFETCH(Part, id);
        QFETCH(QString, text);
        Sheet s = compensationSheet();
        const CompLimits before = s.compLimits();
        s.setText(id, text.toStdString());
        QCOMPARE(s.compLimits(), before);
        QVERIFY(!s.compLimitsCurrent());
        QVERIFY(s.setSlider(Part::CompPos, 500));
        QCOMPARE(int(s.slider(Part::CompPos).pos), 500);
    }

    void noLimitsYetCutsNothing() {
        Sheet s;
        QVERIFY(s.setSlider(Part::CompPos, 50));
        QVERIFY(s.setSlider(Part::CompNeg, 70));
        QCOMPARE(q(s.text(Part::CompPos)), QString("50"));
        QCOMPARE(int(s.slider(Part::CompNeg).pos), 70);
    }

    void holdAndRelease() {
        Sheet s = compensationSheet();
        s.ClearPartSheet();
        s.holdCompensation();
        s.holdCompensation();
        // A record's values arrive before the texts their limits depend on.
        s.setText(Part::FlowZero, "3995");
        QVERIFY(s.setSlider(Part::CompPos, 150)); // out of its limit 10
        QVERIFY(s.setSlider(Part::CompNeg, 300)); // within 49.95
        s.setText(Part::TempFactor, "2");
        s.setText(Part::FlowFactor, "10");
        s.releaseCompensation();
        QCOMPARE(int(s.slider(Part::CompPos).pos), 150); // still held
        s.releaseCompensation();
        QCOMPARE(int(s.slider(Part::CompPos).pos), 100);
        QCOMPARE(q(s.text(Part::CompPos)), QString("10"));
        QCOMPARE(int(s.slider(Part::CompNeg).pos), 300);
        QVERIFY(s.compLimitsCurrent());
        s.releaseCompensation(); // unbalanced release does nothing harmful
        QVERIFY(s.setSlider(Part::CompPos, 101));
        QCOMPARE(int(s.slider(Part::CompPos).pos), 100);
    }

    void limitPositions_data() {
        QTest::addColumn<int>("flowDec");
        QTest::addColumn<QString>("flowZero");
        QTest::addColumn<QString>("flowFactor");
        QTest::addColumn<int>("expected"); // CompPos pulled in from 999
        // posMax = (4095 - z) * 2 / f, TempFactor 0.
        QTest::newRow("9.5 one decimal") << 1 << "4000"
                                         << "20" << 95;
        QTest::newRow("9.5 two decimals") << 2 << "4000"
                                          << "20" << 950;
        QTest::newRow("6.33 two decimals") << 2 << "4076"
                                           << "6" << 633;
        QTest::newRow("0.05 two decimals") << 2 << "4095"
                                           << "1" << 0;
        QTest::newRow("19 no decimals") << 0 << "4000"
                                        << "10" << 19;
        QTest::newRow("12.66 one decimal") << 1 << "4076"
                                           << "3" << 126;
    }
    void limitPositions() {
        QFETCH(int, flowDec);
        QFETCH(QString, flowZero);
        QFETCH(QString, flowFactor);
        QFETCH(int, expected);
        Sheet s;
        setFlowDecimals(s, flowDec);
        QVERIFY(s.setSlider(Part::CompPos, 999));
        s.setText(Part::TempFactor, "0");
        s.setText(Part::FlowZero, flowZero.toStdString());
        s.setText(Part::FlowFactor, flowFactor.toStdString());
        QVERIFY(s.compLimitsCurrent());
        QCOMPARE(int(s.slider(Part::CompPos).pos), expected);
        const float shown = float(double(expected) / std::pow(10.0, flowDec));
        QVERIFY(shown <= s.compLimits().posLimit);
    }

    void negativeLimitHoldsCompensationAtZero() {
        Sheet s;
        setFlowDecimals(s, 1);
        QVERIFY(s.setSlider(Part::CompNeg, 40));
        s.setText(Part::TempFactor, "1");
        s.setText(Part::FlowFactor, "10");
        s.setText(Part::FlowZero, "50"); // negMax (50 - 100) * 2 / 10 = -10
        QCOMPARE(s.compLimits().negLimit, -10.0f);
        QCOMPARE(int(s.slider(Part::CompNeg).pos), 0);
        QCOMPARE(q(s.text(Part::CompNeg)), QString("0"));
    }

    void clearPartSheetKeepsControls() {
        Sheet s = compensationSheet();
        s.selectOption(Part::TimeBase, 0);
        s.selectOption(Part::ZeroSel, 1);
        QVERIFY(s.setSlider(Part::CompPos, 80));
        QVERIFY(s.setSlider(Part::LeakLimit, 300));
        s.setText(Part::CustCode, "42");
        s.setPartSelection("05");
        const Sheet before = s;
        s.ClearPartSheet();
        for (const auto& r : partCatalogue()) {
            QVERIFY2(s.text(r.id).empty(), r.stem.data());
            QCOMPARE(s.slider(r.id).pos, before.slider(r.id).pos);
            QCOMPARE(s.option(r.id), before.option(r.id));
        }
        QCOMPARE(q(s.partSelection()), QString("05"));
        QCOMPARE(s.compLimits(), before.compLimits());
        QCOMPARE(int(s.slider(Part::BlkTime).min), 8);
    }

    void sheetIsAValue() {
        Sheet a = compensationSheet();
        Sheet b = a;
        QVERIFY(a == b);
        QVERIFY(b.setSlider(Part::CompPos, 120));
        QCOMPARE(int(b.slider(Part::CompPos).pos), 100);
        QCOMPARE(int(a.slider(Part::CompPos).pos), 0);
        QVERIFY(!(a == b));
    }
};

QTEST_APPLESS_MAIN(TestSheet)
#include "test_sheet_rules.moc"
