#include "files/file_system.h"
#include "files/param_file.h"
#include "support/fakes.h"
#include "support/file_support.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

using namespace pp;
using namespace pp::test;

namespace {

const std::vector<std::pair<Sys, std::string>> SystemTexts{
    {Sys::Serial, "1234"},
    {Sys::EPS, "ON"},
    {Sys::DrnVlv, "N CLOSED"},
    {Sys::OpenDrn, "NO"},
    {Sys::DrnVlvDelay, "1.5"},
    {Sys::CalProtect, "OFF"},
    {Sys::LCDDelay, "2.5"},
    {Sys::AbortOP, "ON"},
    {Sys::GPRDelay, "0.5"},
    {Sys::SysZero, "100"},
    {Sys::RS232, "3"},
    {Sys::FCDelayStat, "ON"},
    {Sys::HFFillVlv, "OPEN"},
    {Sys::PresEngUnits, "PSI"},
    {Sys::PresNumDecimals, "1"},
    {Sys::FlowEngUnits, "CCM"},
    {Sys::FlowNumDecimals, "2"},
    {Sys::NumLeakRdgs, "10"},
    {Sys::ErrFlash, "OFF"},
    {Sys::RTCPrompt, "ON"},
    {Sys::OptionCode, "S04211F"},
    {Sys::Time, "Mar 07,2005 14:05"},
    {Sys::InitFlowChk, "ON"},
};

const std::vector<std::pair<Part, std::string>> PartTexts{
    {Part::TimeBase, "0.1 SEC"}, {Part::CompTime, "2.5"},   {Part::CompPos, "0.5"},
    {Part::CompNeg, "0.25"},     {Part::TempFactor, "2"},   {Part::TempComp, "ON"},
    {Part::FillTime, "3"},       {Part::FFPres, "60.5"},    {Part::StabTime, "5"},
    {Part::ReadTime, "4"},       {Part::FCDelay, "OFF"},    {Part::LeakLimit, "1.25"},
    {Part::GrossLimit, "4.5"},   {Part::CalLeak, "0.6"},    {Part::ZeroSel, "STAB"},
    {Part::SlopeLimit, "2.2"},   {Part::NegLimit, "0.01"},  {Part::PresHiLim, "80"},
    {Part::PresLowLim, "40.2"},  {Part::BlkTime, "1.2"},    {Part::BlkPres, "30"},
    {Part::CCTime, "0.8"},       {Part::CCPres, "20"},      {Part::FlowZero, "3995"},
    {Part::FlowFactor, "10"},    {Part::PresDecay, "50"},   {Part::CustCode, "123456"},
    {Part::CalOffset, "-25"},    {Part::InitLimit, "0.75"}, {Part::InitTime, "1.5"},
};

Sheet sampleSheet(Generation generation) {
    Sheet s;
    if (generation != Generation::None)
        s.SetFirmwareGeneration(generation);
    s.holdCompensation();
    for (const auto& [id, text] : SystemTexts)
        s.setText(id, text);
    s.setPartSelection("05");
    for (const auto& [id, text] : PartTexts)
        s.setText(id, text);
    s.releaseCompensation();
    return s;
}

const std::string Line1 =
    "\"1234\",\"ON\",\"N CLOSED\",\"NO\",\"1.5\",\"OFF\",\"2.5\",\"ON\",\"0.5\","
    "\"100\",\"3\",\"ON\",\"OPEN\",\"PSI\",\"1\",\"CCM\",\"2\",\"10\",\"OFF\","
    "\"ON\",\"S04211F\",\"Mar 07,2005 14:05\"\r\n";
const std::string Line2 = "\"05\",\"0.1 SEC\",\"2.5\",\"0.5\",\"0.25\",\"2\",\"ON\",\"3\",\"60.5\","
                          "\"5\",\"4\",\"OFF\",\"1.25\",\"4.5\",\"0.6\",\"STAB\",\"2.2\",\"0.01\","
                          "\"80\",\"40.2\",\"1.2\",\"30\",\"0.8\",\"20\",\"3995\",\"10\",\"50\","
                          "\"123456\",\"-25\"\r\n";
const std::string Line3 = "\"ON\",\"0.75\",\"1.5\"\r\n";

// The sample file as lists of fields, so single fields can be changed.
struct Fields {
    std::vector<std::string> sys, part, init;
    Fields() {
        auto split = [](const std::string& line) {
            std::vector<std::string> out;
            FieldReader in(line);
            while (auto f = in.next())
                out.push_back(*f);
            return out;
        };
        sys = split(Line1);
        part = split(Line2);
        init = split(Line3);
    }
    std::string text(bool withInit = true) const {
        auto line = [](const std::vector<std::string>& fields) {
            std::string out;
            for (size_t i = 0; i < fields.size(); ++i)
                out += (i ? ",\"" : "\"") + fields[i] + "\"";
            return out + "\r\n";
        };
        return line(sys) + line(part) + (withInit ? line(init) : std::string());
    }
};

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// Reads content through a real file, as the program does.
bool readText(Sheet& sheet, const std::string& content, FakeWindow& window) {
    QTemporaryDir dir;
    const QString path = dir.filePath("in.QX");
    putFile(path, content);
    return ReadParamFile(sheet, path.toStdString(), window);
}

} // namespace

class TestParamFile : public QObject {
    Q_OBJECT
private slots:
    // ---------------------------------------------------------------- writing

    void writesTheExactBytesOfEachGeneration() {
        QCOMPARE(ParamFileText(sampleSheet(Generation::V73)), Line1 + Line2 + Line3);
        QCOMPARE(ParamFileText(sampleSheet(Generation::V70)), Line1 + Line2);
        // Before any generation is known there is no third line either.
        QCOMPARE(ParamFileText(sampleSheet(Generation::None)), Line1 + Line2);
    }

    void saveReplacesAnOlderLongerFileWhole() {
        QTemporaryDir dir;
        const QString path = dir.filePath("a.QX");
        putFile(path, std::string(5000, 'x'));
        FakeWindow window;
        QVERIFY(WriteParamFile(sampleSheet(Generation::V73), path.toStdString(), window));
        QCOMPARE(fileBytes(path), Line1 + Line2 + Line3);
        QVERIFY(window.messages.empty());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"a.QX"});
    }

    void writeFailures_data() {
        QTest::addColumn<QString>("where");
        QTest::newRow("missing folder") << "missing/x.QX";
        QTest::newRow("under a regular file") << "plain/x.QX";
        QTest::newRow("a folder as target") << "folder";
        QTest::newRow("fails half-way") << "old.QX";
    }
    void writeFailures() {
        QFETCH(QString, where);
        QTemporaryDir dir;
        putFile(dir.filePath("plain"), "plain");
        putFile(dir.filePath("old.QX"), "old content");
        QVERIFY(QDir(dir.path()).mkdir("folder"));
        const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden);

        HalfWritingFileSystem halfWriting;
        FileSystem& fs = where == "old.QX" ? halfWriting : realFileSystem();
        FakeWindow window;
        QVERIFY(!WriteParamFile(sampleSheet(Generation::V73), dir.filePath(where).toStdString(),
                                window, fs));
        QCOMPARE(window.messages.size(), size_t(1));
        QCOMPARE(window.messages[0].text, std::string("Error writing file"));
        QCOMPARE(window.messages[0].buttons, Buttons::Ok);
        QCOMPARE(window.messages[0].caption, std::string("ParamPorter"));
        QCOMPARE(window.status(), std::string("File Error"));
        // The old file is whole and no temporary is left behind.
        QCOMPARE(fileBytes(dir.filePath("old.QX")), std::string("old content"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden), before);
    }

    // ---------------------------------------------------------------- fields

    void fieldReader_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("quoted, CR LF")
            << QByteArray("\"a\",\"b\"\r\n\"c\"\r\n") << QStringList{"a", "b", "c"};
        QTest::newRow("blanks before and after")
            << QByteArray("  \"a\" ,  b  ,\t\"c\"  \r\n") << QStringList{"a", "b", "c"};
        QTest::newRow("unquoted") << QByteArray("1,2.5,OFF\r\n-3")
                                  << QStringList{"1", "2.5", "OFF", "-3"};
        QTest::newRow("comma inside quotes")
            << QByteArray("\"Mar 07,2005 14:05\",\"x\"") << QStringList{"Mar 07,2005 14:05", "x"};
        QTest::newRow("empty quoted") << QByteArray("\"\",\"x\",\"\"") << QStringList{"", "x", ""};
        QTest::newRow("empty between commas") << QByteArray("a,,b") << QStringList{"a", "", "b"};
        QTest::newRow("comma at line end")
            << QByteArray("\"a\",\r\n\"b\"") << QStringList{"a", "", "b"};
        QTest::newRow("empty lines hold nothing")
            << QByteArray("\r\n\"a\"\r\n\r\n  \r\n\"b\"\r\n\r\n") << QStringList{"a", "b"};
        QTest::newRow("lone LF and CR")
            << QByteArray("\"a\"\n\"b\"\r\"c\"") << QStringList{"a", "b", "c"};
        QTest::newRow("text after the closing quote dropped")
            << QByteArray("\"a\"xy,\"b\"") << QStringList{"a", "b"};
        QTest::newRow("unterminated quote") << QByteArray("\"a,b\r\n") << QStringList{"a,b\r\n"};
        QTest::newRow("nothing") << QByteArray("") << QStringList{};
        QTest::newRow("comma then end") << QByteArray("a,") << QStringList{"a"};
    }
    void fieldReader() {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, fields);
        FieldReader in(std::string_view(text.constData(), size_t(text.size())));
        QStringList got;
        while (auto f = in.next())
            got << QString::fromStdString(*f);
        QCOMPARE(got, fields);
    }

    // ---------------------------------------------------------------- reading

    void roundTripKeepsEveryText_data() {
        QTest::addColumn<int>("generation");
        QTest::newRow("V7.3") << int(Generation::V73);
        QTest::newRow("V7.0") << int(Generation::V70);
    }
    void roundTripKeepsEveryText() {
        QFETCH(int, generation);
        const Sheet original = sampleSheet(Generation(generation));
        const std::string written = ParamFileText(original);
        Sheet read;
        FakeWindow window;
        window.yesNoDefault = Answer::No; // to the conversion question
        QVERIFY(readText(read, written, window));
        QCOMPARE(ParamFileText(read), written);
        QCOMPARE(read.generation(), Generation(generation));
        QCOMPARE(window.questions(), generation == int(Generation::V70) ? 1 : 0);
        QCOMPARE(window.status(), std::string());

        // Sliders and options follow the texts with the file's own decimal counts.
        QCOMPARE(int(read.slider(Part::LeakLimit).pos), 125);
        QCOMPARE(int(read.slider(Part::FFPres).pos), 605);
        QCOMPARE(int(read.slider(Part::FCDelay).pos), 9);
        QCOMPARE(int(read.slider(Part::CompTime).pos), 25);
        QCOMPARE(int(read.slider(Part::CompPos).pos), 50);
        QCOMPARE(int(read.slider(Part::CalOffset).pos), -25);
        QCOMPARE(int(read.slider(Sys::RS232).pos), 30);
        QCOMPARE(int(read.slider(Sys::LCDDelay).pos), 25);
        QCOMPARE(read.option(Part::ZeroSel), 1);
        QCOMPARE(read.text(Sys::Model), std::string("STD"));
        QCOMPARE(read.text(Sys::Block), std::string("ON"));
        QCOMPARE(read.partSelection(), std::string("05"));
        const Commands c = read.commands;
        QVERIFY(c.save && c.saveAs && c.print && c.sdDownload && c.partUpload && c.partDownload &&
                c.partTab);
        QVERIFY(c.sdUpload);
    }

    void layoutOfTheFieldsDoesNotMatter_data() {
        QTest::addColumn<QByteArray>("text");
        const std::string all = Line1 + Line2 + Line3;
        QTest::newRow("all on one line")
            << QByteArray::fromStdString(replaceAll(all, "\"\r\n\"", "\",\""));
        QTest::newRow("one field per line")
            << QByteArray::fromStdString(replaceAll(all, "\",\"", "\"\r\n\""));
        QTest::newRow("blanks and LF only") << QByteArray::fromStdString(
            replaceAll(replaceAll(all, "\",\"", "\" ,  \""), "\r\n", "\n"));
        // Unquoted except the clock, whose text holds a comma.
        std::string unquoted = replaceAll(all, "\"", "");
        unquoted = replaceAll(unquoted, "Mar 07,2005 14:05", "\"Mar 07,2005 14:05\"");
        QTest::newRow("unquoted") << QByteArray::fromStdString(unquoted);
    }
    void layoutOfTheFieldsDoesNotMatter() {
        QFETCH(QByteArray, text);
        Sheet read;
        FakeWindow window;
        QVERIFY(readText(read, text.toStdString(), window));
        QCOMPARE(window.questions(), 0);
        QCOMPARE(ParamFileText(read), Line1 + Line2 + Line3);
    }

    void shortThirdLineAsksOnceAndConverts_data() {
        QTest::addColumn<QByteArray>("tail");
        QTest::addColumn<int>("answer");
        QTest::newRow("two lines, yes") << QByteArray() << int(Answer::Yes);
        QTest::newRow("two lines, no") << QByteArray() << int(Answer::No);
        QTest::newRow("one field") << QByteArray("\"ON\"\r\n") << int(Answer::Yes);
        QTest::newRow("two fields") << QByteArray("\"ON\",\"0.75\"\r\n") << int(Answer::Yes);
        QTest::newRow("two fields, no") << QByteArray("\"ON\",\"0.75\"") << int(Answer::No);
        QTest::newRow("empty lines") << QByteArray("\r\n\r\n") << int(Answer::Yes);
    }
    void shortThirdLineAsksOnceAndConverts() {
        QFETCH(QByteArray, tail);
        QFETCH(int, answer);
        Sheet read;
        FakeWindow window;
        window.answers.push_back(Answer(answer));
        QVERIFY(readText(read, Line1 + Line2 + tail.toStdString(), window));
        QCOMPARE(window.messages.size(), size_t(1));
        QCOMPARE(window.messages[0].text,
                 std::string("The data in this file is for QX7400 V7.2 or earlier.\r"
                             "Do you want to convert the data format to QX7400 V7.3 or later?"));
        QCOMPARE(window.messages[0].buttons, Buttons::YesNo);
        QCOMPARE(window.messages[0].caption, std::string("Convert Data Format?"));
        QCOMPARE(read.generation(), answer == int(Answer::Yes) ? Generation::V73 : Generation::V70);
        QCOMPARE(read.text(Sys::InitFlowChk), std::string("OFF"));
        QCOMPARE(read.text(Part::InitLimit), std::string("0"));
        QCOMPARE(read.text(Part::InitTime), std::string("0"));
        QCOMPARE(int(read.slider(Part::InitLimit).pos), 0);
        QCOMPARE(int(read.slider(Part::InitTime).pos), 0);
        const std::string rewritten = ParamFileText(read);
        if (answer == int(Answer::Yes))
            QCOMPARE(rewritten, Line1 + Line2 + "\"OFF\",\"0\",\"0\"\r\n");
        else
            QCOMPARE(rewritten, Line1 + Line2);
    }

    void partNumberIsPaddedAndAddedOnce() {
        Fields f;
        f.part[0] = "7";
        Sheet read;
        FakeWindow window;
        QVERIFY(readText(read, f.text(), window));
        QVERIFY(readText(read, f.text(), window));
        QCOMPARE(read.partSelection(), std::string("07"));
        QCOMPARE(std::count(read.partNumbers().begin(), read.partNumbers().end(), "07"), 1);
        QVERIFY(ParamFileText(read).find("\r\n\"07\",") != std::string::npos);
    }

    void fastCycleDelayOffDependsOnTheTimeBase_data() {
        QTest::addColumn<QString>("timeBase");
        QTest::addColumn<QString>("delay");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("shown");
        QTest::newRow("OFF in seconds") << "1 SEC"
                                        << "OFF" << 0 << "OFF";
        QTest::newRow("OFF in tenths") << "0.1 SEC"
                                       << "OFF" << 9 << "OFF";
        QTest::newRow("seconds") << "1 SEC"
                                 << "3" << 3 << "3";
        QTest::newRow("tenths") << "0.1 SEC"
                                << "1.5" << 15 << "1.5";
        QTest::newRow("unknown base counts as tenths") << "FAST"
                                                       << "OFF" << 9 << "OFF";
    }
    void fastCycleDelayOffDependsOnTheTimeBase() {
        QFETCH(QString, timeBase);
        QFETCH(QString, delay);
        QFETCH(int, position);
        QFETCH(QString, shown);
        Fields f;
        f.part[1] = timeBase.toStdString();
        f.part[11] = delay.toStdString();
        f.part[10] = "5"; // a read time both bases allow (4 s is below the slider)
        Sheet read;
        FakeWindow window;
        QVERIFY(readText(read, f.text(), window));
        QCOMPARE(int(read.slider(Part::FCDelay).pos), position);
        QCOMPARE(read.text(Part::FCDelay), shown.toStdString());
        QCOMPARE(read.option(Part::TimeBase), timeBase == "1 SEC" ? 1 : 0);
    }

    void flowValuesAreScaledByTheFilesDecimals_data() {
        QTest::addColumn<QString>("decimals");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("leak");
        QTest::addColumn<int>("position");
        QTest::newRow("2 decimals") << "2" << 2 << "1.25" << 125;
        QTest::newRow("1 decimal") << "1" << 1 << "12.5" << 125;
        QTest::newRow("0 decimals, 1.5 up") << "0" << 0 << "1.5" << 2;
        QTest::newRow("0 decimals, 2.5 to even") << "0" << 0 << "2.5" << 2;
        QTest::newRow("float's own value") << "1" << 1 << "0.35" << 3;
        // The count is the text's integer even where the slider is already there and its
        // rule does not run.
        QTest::newRow("count text 1.6, slider in place") << "1.6" << 2 << "1.25" << 125;
    }
    void flowValuesAreScaledByTheFilesDecimals() {
        QFETCH(QString, decimals);
        QFETCH(int, count);
        QFETCH(QString, leak);
        QFETCH(int, position);
        Fields f;
        f.sys[16] = decimals.toStdString();
        f.part[12] = leak.toStdString();
        f.part[17] = "1"; // the minimum flow limit's slider starts at 1
        Sheet read;
        FakeWindow window;
        QVERIFY(readText(read, Fields().text(), window)); // two decimals before
        QVERIFY(readText(read, f.text(), window));
        QCOMPARE(read.flowDecimals(), count);
        QCOMPARE(int(read.slider(Part::LeakLimit).pos), position);
    }

    void compensationIsLimitedByTheFilesOwnValues() {
        // Flow zero 3995, flow factor 10 and temperature factor 2 allow 4.995 with two
        // decimals: the file's own values decide, once they are all in place.
        Sheet read;
        Fields f;
        f.part[3] = "4.9";
        FakeWindow window;
        QVERIFY(readText(read, f.text(), window));
        QCOMPARE(read.text(Part::CompPos), std::string("4.9"));
        QCOMPARE(int(read.slider(Part::CompPos).pos), 490);
        f.part[3] = "6";
        QVERIFY(readText(read, f.text(), window));
        QVERIFY(read.slider(Part::CompPos).pos <= 499);
        QVERIFY(read.slider(Part::CompPos).pos >= 400);
    }

    void failuresLeaveTheSheetAsItWas_data() {
        QTest::addColumn<QByteArray>("content");
        auto with = [](std::function<void(Fields&)> change, bool withInit = true) {
            Fields f;
            change(f);
            return QByteArray::fromStdString(f.text(withInit));
        };
        QTest::newRow("empty numeric field") << with([](Fields& f) { f.sys[9] = ""; });
        QTest::newRow("SysZero 0 below its slider") << with([](Fields& f) { f.sys[9] = "0"; });
        QTest::newRow("not a number") << with([](Fields& f) { f.part[12] = "1.2x"; });
        QTest::newRow("16-bit overflow") << with([](Fields& f) { f.sys[0] = "40000"; });
        QTest::newRow("overflow times 10") << with([](Fields& f) { f.sys[10] = "4000"; });
        QTest::newRow("above the slider") << with([](Fields& f) { f.sys[17] = "61"; });
        QTest::newRow("bad line 3 field") << with([](Fields& f) { f.init[1] = "x"; });
        QTest::newRow("two-line file, offset above its slider")
            << with([](Fields& f) { f.part[28] = "501"; }, false);
        QTest::newRow("truncated first line")
            << QByteArray::fromStdString(Line1.substr(0, Line1.find("\"100\"")));
        QTest::newRow("ends in the part line")
            << QByteArray::fromStdString(Line1 + Line2.substr(0, Line2.find("\"80\"")));
        QTest::newRow("empty file") << QByteArray();
    }
    void failuresLeaveTheSheetAsItWas() {
        QFETCH(QByteArray, content);
        Sheet sheet;
        FakeWindow setup;
        setup.yesNoDefault = Answer::No;
        QVERIFY(readText(sheet, Line1 + Line2, setup)); // V7.0 after answering No
        sheet.filePath = "/somewhere/before.QX";
        sheet.setPartSelection("05");
        sheet.commands.save = false;
        const Sheet before = sheet;

        FakeWindow window;
        window.answers.push_back(Answer::Yes);
        QVERIFY(!readText(sheet, content.toStdString(), window));
        QVERIFY(sheet == before);
        QCOMPARE(sheet.generation(), Generation::V70);
        QVERIFY(!window.messages.empty());
        QCOMPARE(window.messages.back().text, std::string("Error reading file"));
        QCOMPARE(window.messages.back().buttons, Buttons::Ok);
        QCOMPARE(window.messages.back().caption, std::string("ParamPorter"));
        QCOMPARE(window.status(), std::string("File Error"));
    }

    void unreadablePathsLeaveTheSheetAsItWas() {
        QTemporaryDir dir;
        Sheet sheet = sampleSheet(Generation::V73);
        const Sheet before = sheet;
        for (const QString& path : {dir.filePath("missing.QX"), dir.path(), QString()}) {
            FakeWindow window;
            QVERIFY(!ReadParamFile(sheet, path.toStdString(), window));
            QVERIFY(sheet == before);
            QCOMPARE(window.messages.size(), size_t(1));
            QCOMPARE(window.messages[0].text, std::string("Error reading file"));
            QCOMPARE(window.status(), std::string("File Error"));
        }
    }
};

QTEST_APPLESS_MAIN(TestParamFile)
#include "test_param_file.moc"
