// System record: decoding an upload, the option block, the clock, and the download texts.
#include "link/records.h"
#include "support/records_support.h"

#include <QtTest>

using namespace pp;
using pp::testing::sealed;
using pp::testing::sealedWrong;

namespace {

// Flag string: EPS 0, DrnVlv 1, OpenDrn 0, CalProtect 0, AbortOP 1, HFFillVlv 1, pressure
// decimals 1, flow decimals 2, PresEngUnits 1, FCDelayStat 0, FlowEngUnits 1, ErrFlash 1,
// RTCPrompt 0 and, in the later generation, InitFlowChk 1.
const std::string FlagsV70 = "200100111210110";
const std::string FlagsV73 = FlagsV70 + "1";
// 2004 is a leap year: 366 days, then 65 days of 2005, 14:05 and 37 seconds.
const std::string ClockCount = "37289137";

std::vector<std::string> systemFields(const std::string& flags) {
    return {flags, "15", "0", "100", "3", "0010", "S04051F", "1234", "12", ClockCount};
}

// The state a system upload starts from: both sheets cleared, some sliders away from the
// values the record brings so that a missed assignment shows.
Sheet uploadStart() {
    Sheet s;
    s.setSlider(Sys::LCDDelay, 55);
    s.setSlider(Sys::SysZero, 77);
    s.setSlider(Sys::Serial, 9);
    s.ClearSystemSheet();
    s.ClearPartSheet();
    return s;
}

std::string str(const QString& q) {
    return q.toStdString();
}

} // namespace

class TestRecordsSystem : public QObject {
    Q_OBJECT
private slots:
    void decodesLaterGeneration() {
        Sheet s = uploadStart();
        QCOMPARE(DecodeSystemRecord(s, sealed(systemFields(FlagsV73))), std::nullopt);

        QCOMPARE(s.generation(), Generation::V73);
        QCOMPARE(s.lastSysIndex(), 25);
        QCOMPARE(s.lastPartIndex(), 29);
        QVERIFY(s.initFlowEnabled());

        const std::vector<std::pair<Sys, std::string>> texts{
            {Sys::EPS, "OFF"},           {Sys::DrnVlv, "N CLOSED"},
            {Sys::OpenDrn, "NO"},        {Sys::CalProtect, "OFF"},
            {Sys::AbortOP, "ON"},        {Sys::HFFillVlv, "CLOSED"},
            {Sys::PresNumDecimals, "1"}, {Sys::FlowNumDecimals, "2"},
            {Sys::PresEngUnits, "kPa"},  {Sys::FCDelayStat, "OFF"},
            {Sys::FlowEngUnits, "LPM"},  {Sys::ErrFlash, "ON"},
            {Sys::RTCPrompt, "OFF"},     {Sys::InitFlowChk, "ON"},
            {Sys::DrnVlvDelay, "1.5"},   {Sys::LCDDelay, "OFF"},
            {Sys::GPRDelay, "10"},       {Sys::RS232, "3"},
            {Sys::SysZero, "0010"},      {Sys::Serial, "1234"},
            {Sys::NumLeakRdgs, "12"},    {Sys::OptionCode, "S04051F"},
            {Sys::Model, "STD"},         {Sys::DateCode, "0405"},
            {Sys::OptTempComp, "ON"},    {Sys::RefFailure, "ON"},
            {Sys::OptSysZero, "ON"},     {Sys::CCooler, "ON"},
            {Sys::Block, "ON"},          {Sys::Time, "Mar 07,2005 14:05"},
        };
        for (const auto& [id, text] : texts)
            QVERIFY2(s.text(id) == text, row(id).stem.data());

        const std::vector<std::pair<Sys, int>> sliders{
            {Sys::PresNumDecimals, 10}, {Sys::FlowNumDecimals, 20}, {Sys::DrnVlvDelay, 15},
            {Sys::LCDDelay, 0},         {Sys::GPRDelay, 100},       {Sys::RS232, 30},
            {Sys::SysZero, 10},         {Sys::Serial, 1234},        {Sys::NumLeakRdgs, 12},
        };
        for (const auto& [id, pos] : sliders)
            QVERIFY2(s.slider(id).pos == pos, row(id).stem.data());

        QCOMPARE(s.presDecimals(), 1);
        QCOMPARE(s.flowDecimals(), 2);
        QCOMPARE(s.flowMax(), 9.99f);
    }

    void decodesEarlierGeneration() {
        Sheet s = uploadStart();
        s.selectOption(Sys::InitFlowChk, 0);
        const std::string initText = s.text(Sys::InitFlowChk);
        QCOMPARE(DecodeSystemRecord(s, sealed(systemFields(FlagsV70))), std::nullopt);

        QCOMPARE(s.generation(), Generation::V70);
        QCOMPARE(s.lastSysIndex(), 24);
        QCOMPARE(s.lastPartIndex(), 27);
        QVERIFY(!s.initFlowEnabled());
        QCOMPARE(s.text(Sys::InitFlowChk), initText);
        QCOMPARE(s.option(Sys::InitFlowChk), 0);
        QCOMPARE(s.text(Sys::RTCPrompt), std::string("OFF"));
    }

    // Every two-state parameter, found through the catalogue: "0" is the first state, any
    // other character (or none, past the end of a short flag string) the second.
    void twoStateFlags_data() {
        QTest::addColumn<QString>("flags");
        QTest::newRow("all zero") << "2000000000000000";
        QTest::newRow("all one") << "2111111111111111";
        QTest::newRow("other characters") << "2x77777700777777";
        QTest::newRow("short string") << "2000000"; // length 7: later generation
    }
    void twoStateFlags() {
        QFETCH(QString, flags);
        const std::string f = str(flags);
        Sheet s = uploadStart();
        auto fields = systemFields(f);
        QCOMPARE(DecodeSystemRecord(s, sealed(fields)), std::nullopt);
        QCOMPARE(s.generation(), Generation::V73);
        int checked = 0;
        for (const SysRow& r : systemCatalogue()) {
            if (r.kind != SysKind::TwoState)
                continue;
            const size_t p = static_cast<size_t>(r.flagPos);
            const int which = p <= f.size() && f[p - 1] == '0' ? 0 : 1;
            QVERIFY2(s.text(r.id) == r.states[which], r.stem.data());
            QVERIFY2(s.option(r.id) == which, r.stem.data());
            ++checked;
        }
        QCOMPARE(checked, 12);
    }

    void decimalsBeyondShortFlags() {
        Sheet s = uploadStart();
        s.setSlider(Sys::PresNumDecimals, 20);
        s.ClearSystemSheet();
        QCOMPARE(DecodeSystemRecord(s, sealed(systemFields("2000000"))), std::nullopt);
        QCOMPARE(s.text(Sys::PresNumDecimals), std::string());
        QCOMPARE(s.slider(Sys::PresNumDecimals).pos, 20);
        QCOMPARE(s.presDecimals(), 0);
        // The decimal sliders lock the part tab; the end of the decode opens it again.
        QVERIFY(s.commands.partTab);
    }

    void decimalOutOfRange() {
        Sheet s = uploadStart();
        std::string flags = FlagsV73;
        flags[8] = '3';
        QCOMPARE(DecodeSystemRecord(s, sealed(systemFields(flags))), std::nullopt);
        QCOMPARE(s.text(Sys::PresNumDecimals), std::string("3"));
        QCOMPARE(s.slider(Sys::PresNumDecimals).pos, 0); // 30 is beyond the slider
    }

    void delays_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("slider");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << "0" << 0 << "OFF";
        QTest::newRow("half") << "5" << 5 << "0.5";
        QTest::newRow("fifteen") << "150" << 150 << "15";
        QTest::newRow("leading zeros") << "015" << 15 << "1.5";
        QTest::newRow("largest") << "999" << 999 << "99.9";
        QTest::newRow("above slider") << "1000" << 55 << "100";
        QTest::newRow("negative") << "-5" << 55 << "-0.5";
        QTest::newRow("not a number") << "1x" << 55 << "";
    }
    void delays() {
        QFETCH(QString, field);
        QFETCH(int, slider);
        QFETCH(QString, text);
        Sheet s = uploadStart();
        auto fields = systemFields(FlagsV73);
        fields[2] = str(field); // LCDDelay, whose slider starts at 55
        QCOMPARE(DecodeSystemRecord(s, sealed(fields)), std::nullopt);
        QCOMPARE(s.slider(Sys::LCDDelay).pos, slider);
        QCOMPARE(s.text(Sys::LCDDelay), str(text));
    }

    // Counted fields: the slider takes the number when it can, the text is what was received.
    void countedFields_data() {
        QTest::addColumn<int>("field");
        QTest::addColumn<int>("param");
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("slider");
        const int rs232 = static_cast<int>(Sys::RS232);
        const int sysZero = static_cast<int>(Sys::SysZero);
        const int leak = static_cast<int>(Sys::NumLeakRdgs);
        const int serial = static_cast<int>(Sys::Serial);
        QTest::newRow("RS232 3") << 4 << rs232 << "3" << 30;
        QTest::newRow("RS232 leading zero") << 4 << rs232 << "03" << 30;
        QTest::newRow("RS232 5 refused") << 4 << rs232 << "5" << 10;
        QTest::newRow("RS232 not a number") << 4 << rs232 << "a" << 10;
        QTest::newRow("SysZero 0010") << 5 << sysZero << "0010" << 10;
        QTest::newRow("SysZero 4095") << 5 << sysZero << "4095" << 4095;
        QTest::newRow("SysZero 5000 refused") << 5 << sysZero << "5000" << 77;
        QTest::newRow("SysZero 0 refused") << 5 << sysZero << "0" << 77;
        QTest::newRow("NumLeakRdgs 4 refused") << 8 << leak << "4" << 5;
        QTest::newRow("NumLeakRdgs 060") << 8 << leak << "060" << 60;
        QTest::newRow("Serial 00042") << 7 << serial << "00042" << 42;
        QTest::newRow("Serial 10001 refused") << 7 << serial << "10001" << 9;
        QTest::newRow("Serial beyond 16 bits") << 7 << serial << "70000" << 9;
    }
    void countedFields() {
        QFETCH(int, field);
        QFETCH(int, param);
        QFETCH(QString, value);
        QFETCH(int, slider);
        const Sys id = static_cast<Sys>(param);
        Sheet s = uploadStart();
        auto fields = systemFields(FlagsV73);
        fields[static_cast<size_t>(field)] = str(value);
        QCOMPARE(DecodeSystemRecord(s, sealed(fields)), std::nullopt);
        QCOMPARE(s.slider(id).pos, slider);
        QCOMPARE(s.text(id), str(value));
    }

    void optionCode_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>(
            "flags"); // bits 0..4: OptTempComp RefFailure OptSysZero CCooler Block
        QTest::newRow("S with 1F") << "S04051F"
                                   << "STD"
                                   << "0405"
                                   << "11111";
        QTest::newRow("Q of five characters") << "Q0405"
                                              << "QTK"
                                              << "0405"
                                              << "00000";
        QTest::newRow("H with 12") << "H040512"
                                   << "HFL"
                                   << "0405"
                                   << "01001";
        QTest::newRow("other letter") << "X0405FF"
                                      << "???"
                                      << "0405"
                                      << "11111";
        QTest::newRow("lower-case s is no model") << "s04051"
                                                  << "???"
                                                  << "0405"
                                                  << "10000";
        QTest::newRow("lower-case hex, stops at non-hex") << "S0405aZ9"
                                                          << "STD"
                                                          << "0405"
                                                          << "01010";
        QTest::newRow("non-hex at once") << "S0405G1"
                                         << "STD"
                                         << "0405"
                                         << "00000";
        QTest::newRow("short") << "S04"
                               << "STD"
                               << "04"
                               << "00000";
        QTest::newRow("empty") << ""
                               << "???"
                               << ""
                               << "00000";
        QTest::newRow("many hex digits") << "S0405FFFFFF4"
                                         << "STD"
                                         << "0405"
                                         << "00101";
    }
    void optionCode() {
        QFETCH(QString, code);
        QFETCH(QString, model);
        QFETCH(QString, date);
        QFETCH(QString, flags);
        Sheet s;
        DecodeOptionCode(s, str(code));
        QCOMPARE(s.text(Sys::Model), str(model));
        QCOMPARE(s.text(Sys::DateCode), str(date));
        const Sys bits[] = {Sys::OptTempComp, Sys::RefFailure, Sys::OptSysZero, Sys::CCooler,
                            Sys::Block};
        for (int b = 0; b < 5; ++b)
            QCOMPARE(s.text(bits[b]), std::string(flags[b] == '1' ? "ON" : "OFF"));
    }

    void optionCodeFromRecord() {
        Sheet s = uploadStart();
        auto fields = systemFields(FlagsV73);
        fields[6] = "Q0405";
        QCOMPARE(DecodeSystemRecord(s, sealed(fields)), std::nullopt);
        QCOMPARE(s.text(Sys::OptionCode), std::string("Q0405"));
        QCOMPARE(s.text(Sys::Model), std::string("QTK"));
        QCOMPARE(s.text(Sys::Block), std::string("OFF"));
    }

    void clock_data() {
        QTest::addColumn<QString>("count");
        QTest::addColumn<QString>("text");
        QTest::newRow("start") << "0"
                               << "Jan 01,2004 00:00";
        QTest::newRow("last second of January") << "2678399"
                                                << "Jan 31,2004 23:59";
        QTest::newRow("30 days") << "2592000"
                                 << "Jan 31,2004 00:00";
        QTest::newRow("59 days, leap day") << "5097600"
                                           << "Feb 29,2004 00:00";
        QTest::newRow("60 days") << "5184000"
                                 << "Mar 01,2004 00:00";
        QTest::newRow("366 days") << "31622400"
                                  << "Jan 01,2005 00:00";
        QTest::newRow("2005 has no leap day") << "36720000"
                                              << "Mar 01,2005 00:00";
        QTest::newRow("seconds dropped") << ClockCount.c_str() << "Mar 07,2005 14:05";
        QTest::newRow("end of the four-year block") << "126230340"
                                                    << "Dec 31,2007 23:59";
        QTest::newRow("next block") << "126230400"
                                    << "Jan 01,2008 00:00";
        QTest::newRow("end of 2020") << "536543999"
                                     << "Dec 31,2020 23:59";
        QTest::newRow("largest 32-bit count") << "2147483647"
                                              << "Jan 19,2072 03:14";
        QTest::newRow("leading zeros") << "000060"
                                       << "Jan 01,2004 00:01";
        QTest::newRow("beyond 32 bits") << "2147483648"
                                        << "";
        QTest::newRow("negative") << "-1"
                                  << "";
        QTest::newRow("not a number") << "12:00"
                                      << "";
        QTest::newRow("empty") << ""
                               << "";
    }
    void clock() {
        QFETCH(QString, count);
        QFETCH(QString, text);
        QCOMPARE(ClockTextFromSeconds(str(count)), str(text));
    }

    // A record that fails its check changes nothing: texts, sliders, options, generation,
    // decimal counts, commands.
    void rejected_data() {
        QTest::addColumn<QString>("record");
        const auto good = systemFields(FlagsV70);
        auto ten = good;
        ten.pop_back();
        auto twelve = good;
        twelve.push_back("1");
        QTest::newRow("checksum off by one") << QString::fromStdString(sealedWrong(good));
        QTest::newRow("checksum field missing")
            << QString::fromStdString(pp::testing::joinFields(good));
        QTest::newRow("ten fields") << QString::fromStdString(sealed(ten));
        QTest::newRow("twelve fields") << QString::fromStdString(sealed(twelve));
        QTest::newRow("checksum not a number")
            << QString::fromStdString(pp::testing::joinFields(good) + ",12a");
        QTest::newRow("checksum beyond 16 bits")
            << QString::fromStdString(pp::testing::joinFields(good) + ",70000");
        QTest::newRow("empty") << "";
    }
    void rejected() {
        QFETCH(QString, record);
        Sheet s = uploadStart();
        QCOMPARE(DecodeSystemRecord(s, sealed(systemFields(FlagsV73))), std::nullopt);
        s.commands = Commands{};
        const Sheet before = s;
        QCOMPARE(DecodeSystemRecord(s, str(record)), std::optional<std::string>("Check sum error"));
        QVERIFY(s == before);
    }

    void enablesCommands() {
        Sheet s = uploadStart();
        QVERIFY(!s.commands.partTab);
        QCOMPARE(DecodeSystemRecord(s, sealed(systemFields(FlagsV70))), std::nullopt);
        QVERIFY(s.commands.sdDownload);
        QVERIFY(s.commands.partUpload);
        QVERIFY(s.commands.partDownload);
        QVERIFY(s.commands.partTab);
        QVERIFY(!s.commands.saveAs);
    }

    void twoStateWire_data() {
        QTest::addColumn<int>("param");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("wire");
        const int eps = static_cast<int>(Sys::EPS);
        const int drn = static_cast<int>(Sys::DrnVlv);
        const int pres = static_cast<int>(Sys::PresEngUnits);
        QTest::newRow("OFF") << eps << "OFF"
                             << "00000";
        QTest::newRow("ON") << eps << "ON"
                            << "00001";
        QTest::newRow("empty") << eps << ""
                               << "00001";
        QTest::newRow("case counts") << eps << "off"
                                     << "00001";
        QTest::newRow("N OPEN") << drn << "N OPEN"
                                << "00000";
        QTest::newRow("blank counts") << drn << "N OPEN "
                                      << "00001";
        QTest::newRow("PSI") << pres << "PSI"
                             << "00000";
        QTest::newRow("kPa") << pres << "kPa"
                             << "00001";
    }
    void twoStateWire() {
        QFETCH(int, param);
        QFETCH(QString, text);
        QFETCH(QString, wire);
        const Sys id = static_cast<Sys>(param);
        Sheet s;
        s.setText(id, str(text));
        QCOMPARE(SystemParamWireText(s, row(id).downloadIndex), str(wire));
    }

    void delayWire_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("wire");
        QTest::newRow("OFF") << "OFF"
                             << "00000";
        QTest::newRow("2.5") << "2.5"
                             << "25";
        QTest::newRow("0.1") << "0.1"
                             << "1";
        QTest::newRow("0.3") << "0.3"
                             << "3";
        QTest::newRow("10") << "10"
                            << "100";
        QTest::newRow("99.9") << "99.9"
                              << "999";
        QTest::newRow("two decimals") << "5.55"
                                      << "55.5";
        QTest::newRow("not a number") << "abc"
                                      << "";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("lower-case off") << "off"
                                        << "";
    }
    void delayWire() {
        QFETCH(QString, text);
        QFETCH(QString, wire);
        Sheet s;
        for (Sys id : {Sys::DrnVlvDelay, Sys::LCDDelay, Sys::GPRDelay}) {
            s.setText(id, str(text));
            QCOMPARE(SystemParamWireText(s, row(id).downloadIndex), str(wire));
        }
    }

    void clockWire_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("pieces");
        QTest::newRow("as written") << "Mar 07,2005 14:05"
                                    << "2005 03 07 14 05";
        QTest::newRow("leap day") << "Feb 29,2008 23:59"
                                  << "2008 02 29 23 59";
        QTest::newRow("month in capitals") << "MAR 07,2005 14:05"
                                           << "2005 03 07 14 05";
        QTest::newRow("one-digit day and hour") << "Dec 1,2010 9:30"
                                                << "2010 12 01 09 30";
        QTest::newRow("empty") << ""
                               << "    ";
        QTest::newRow("no such day") << "Feb 29,2005 10:00"
                                     << "    ";
        QTest::newRow("no such hour") << "Mar 07,2005 24:00"
                                      << "    ";
        QTest::newRow("no such month") << "Mai 07,2005 14:05"
                                       << "    ";
        QTest::newRow("seconds") << "Mar 07,2005 14:05:10"
                                 << "    ";
        QTest::newRow("other form") << "2005/03/07 14:05"
                                    << "    ";
    }
    void clockWire() {
        QFETCH(QString, text);
        QFETCH(QString, pieces);
        Sheet s;
        s.setText(Sys::Time, str(text));
        QStringList sent;
        for (int i = 19; i <= 23; ++i)
            sent << QString::fromStdString(SystemParamWireText(s, i));
        QCOMPARE(sent.join(' '), pieces);
    }

    void unknownIndex() {
        Sheet s = uploadStart();
        QCOMPARE(DecodeSystemRecord(s, sealed(systemFields(FlagsV73))), std::nullopt);
        for (int i : {-1, 26, 27, 100})
            QCOMPARE(SystemParamWireText(s, i), std::string());
    }

    // Upload, then everything a download would send: the values must be the record's own.
    void roundTrip_data() {
        QTest::addColumn<QString>("flags");
        QTest::newRow("V7.0") << QString::fromStdString(FlagsV70);
        QTest::newRow("V7.3") << QString::fromStdString(FlagsV73);
    }
    void roundTrip() {
        QFETCH(QString, flags);
        Sheet s = uploadStart();
        QCOMPARE(DecodeSystemRecord(s, sealed(systemFields(str(flags)))), std::nullopt);
        const std::vector<std::string> expected{
            "00000", "00001", "00000", "00000", "00001", "3",  "00001", "15",    "00000",
            "100",   "00000", "0010",  "00001", "1",     "2",  "1234",  "12",    "00001",
            "00001", "2005",  "03",    "07",    "14",    "05", "00000", "00001",
        };
        const int last = s.lastSysIndex();
        QCOMPARE(last, flags.size() == 15 ? 24 : 25);
        for (int i = 0; i <= last; ++i)
            QVERIFY2(SystemParamWireText(s, i) == expected[static_cast<size_t>(i)],
                     qPrintable(QString("index %1").arg(i)));
    }
};

QTEST_APPLESS_MAIN(TestRecordsSystem)
#include "test_records_system.moc"
