// The simulated instrument on its own: a test plays the editor on the slave side of the
// pseudo-terminal with plain POSIX descriptors. The qx7400-sim program's options, keypad and
// state file are tried on the program itself.
#include "link/frames.h"
#include "sim/instrument.h"
#include "support/pty.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace pp;
using namespace std::chrono_literals;
using sim::Instrument;

Q_DECLARE_METATYPE(pp::Generation)

namespace {

std::vector<std::string> split(const std::string& s) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t comma = s.find(',', start);
        out.push_back(s.substr(start, comma == std::string::npos ? comma : comma - start));
        if (comma == std::string::npos)
            return out;
        start = comma + 1;
    }
}

// The editor's end of the line.
class Line {
public:
    explicit Line(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ >= 0)
            pp::test::makeRaw(fd_);
    }
    ~Line() { close(); }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    bool ok() const { return fd_ >= 0; }
    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    bool write(std::string_view bytes) { return pp::test::writeAll(fd_, bytes); }

    // Reads until `done` holds for what has arrived, or the deadline. Returns everything
    // read; `reads` counts the reads that returned data.
    template <class Done> std::string readUntil(Done done, std::chrono::milliseconds timeout) {
        pp::test::ReadResult r = pp::test::readUntil(fd_, done, timeout);
        reads += r.reads;
        hangUpSeen = hangUpSeen || r.hangUp;
        return r.bytes;
    }

    // The first complete frame's content (bytes before STX dropped); empty on a timeout.
    std::string readFrame(std::chrono::milliseconds timeout = 2000ms) {
        pending += readUntil(
            [this](const std::string& got) {
                std::string all = pending + got;
                size_t s = all.find(STX);
                return s != std::string::npos && all.find(ETX, s) != std::string::npos;
            },
            timeout);
        size_t s = pending.find(STX);
        if (s == std::string::npos)
            return {};
        size_t e = pending.find(ETX, s);
        if (e == std::string::npos)
            return {};
        std::string content = pending.substr(s + 1, e - s - 1);
        beforeFrame = pending.substr(0, s);
        pending.erase(0, e + 1);
        return content;
    }

    // Exactly `n` bytes, or fewer on a timeout.
    std::string readBytes(size_t n, std::chrono::milliseconds timeout = 2000ms) {
        std::string got =
            pending +
            readUntil([&](const std::string& g) { return pending.size() + g.size() >= n; },
                      timeout);
        pending = got.size() > n ? got.substr(n) : std::string();
        return got.substr(0, n);
    }

    // Anything that arrives within `window` (used to show that nothing does).
    std::string drain(std::chrono::milliseconds window) {
        std::string got = pending + readUntil([](const std::string&) { return false; }, window);
        pending.clear();
        return got;
    }

    std::string exchange(std::string_view content) {
        write(frame(content));
        return readFrame();
    }

    int reads = 0;
    bool hangUpSeen = false;
    std::string beforeFrame;
    std::string pending;

private:
    int fd_ = -1;
};

std::string sysField(int index, std::string_view value) {
    return downloadFieldFrame('4', value, "", index);
}
std::string partField(int part, int index, std::string_view value) {
    return downloadFieldFrame('5', value, ZeroPad(std::to_string(part), 2), index);
}

// A frame with the checksum written by hand.
std::string rawFrame(std::string_view body, int checksum) {
    return frame(std::string(body) + ZeroPad(std::to_string(checksum), 4));
}

const std::string Ack(1, ACK);
const std::string Nak(1, NAK);

std::string fileText(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The qx7400-sim program, stopped with SIGTERM at the end unless it ended by itself.
class SimProgram {
public:
    // False when it did not print its device path (see `status` and `err`).
    bool start(const QStringList& args) {
        p.start(QStringLiteral(PP_SIM_BINARY), args);
        if (!p.waitForStarted())
            return false;
        path = readLine();
        if (!path.empty())
            return true;
        p.waitForFinished();
        status = p.exitCode();
        err += p.readAllStandardError().toStdString();
        return false;
    }
    ~SimProgram() {
        if (p.state() != QProcess::NotRunning) {
            p.terminate();
            p.waitForFinished();
        }
    }
    // One line of standard output, without its end; empty after 5 s without one.
    std::string readLine() {
        while (!p.canReadLine() && p.waitForReadyRead(5000)) {
        }
        return p.readLine().trimmed().toStdString();
    }
    void type(std::string_view line) { p.write(QByteArray(line.data(), qsizetype(line.size()))); }
    bool stderrHas(const std::string& text) { return errors().find(text) != std::string::npos; }
    const std::string& errors() {
        err += p.readAllStandardError().toStdString();
        return err;
    }
    int stop() { // SIGTERM, then its exit status
        p.terminate();
        p.waitForFinished();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    QProcess p;
    std::string path;
    int status = -1;
    std::string err;
};

} // namespace

class TestInstrument : public QObject {
    Q_OBJECT

    std::unique_ptr<Instrument> sim;
    std::unique_ptr<Line> line;

    void startOn(Generation g) {
        sim = std::make_unique<Instrument>(g);
        QVERIFY2(sim->start(), sim->lastError().c_str());
        line = std::make_unique<Line>(sim->devicePath());
        QVERIFY(line->ok());
    }

private slots:
    void cleanup() {
        line.reset();
        sim.reset();
    }

    // ------------------------------------------------------------------ records

    void systemRecord_data() {
        QTest::addColumn<Generation>("gen");
        QTest::addColumn<int>("flagLength");
        QTest::newRow("V7.0") << Generation::V70 << 15;
        QTest::newRow("V7.3") << Generation::V73 << 16;
    }
    void systemRecord() {
        QFETCH(Generation, gen);
        QFETCH(int, flagLength);
        startOn(gen);
        const std::string rec = line->exchange("2");
        const auto fields = split(rec);
        QCOMPARE(fields.size(), size_t(sim::SystemFieldCount));
        QCOMPARE(int(fields[0].size()), flagLength);
        QCOMPARE(fields[0][0], '2');
        QVERIFY(recordChecksumValid(rec, 10));
        QCOMPARE(rec, sim->systemRecord());
        // Plausible defaults the editor's sliders accept.
        QCOMPARE(fields[0].substr(8, 2), std::string("11")); // one pressure, one flow decimal
        const int sysZero = std::stoi(fields[5]);
        QVERIFY(sysZero >= 1 && sysZero <= 4095);
        const int readings = std::stoi(fields[8]);
        QVERIFY(readings >= 5 && readings <= 60);
        const int rs232 = std::stoi(fields[4]);
        QVERIFY(rs232 >= 1 && rs232 <= 4);
    }

    void partRecord_data() {
        QTest::addColumn<Generation>("gen");
        QTest::addColumn<int>("part");
        QTest::addColumn<int>("fieldCount");
        QTest::newRow("V7.0 part 1") << Generation::V70 << 1 << 28;
        QTest::newRow("V7.0 part 32") << Generation::V70 << 32 << 28;
        QTest::newRow("V7.3 part 5") << Generation::V73 << 5 << 30;
        QTest::newRow("V7.3 part 10") << Generation::V73 << 10 << 30;
    }
    void partRecord() {
        QFETCH(Generation, gen);
        QFETCH(int, part);
        QFETCH(int, fieldCount);
        startOn(gen);
        const std::string pn = ZeroPad(std::to_string(part), 2);
        const std::string rec = line->exchange("3" + pn);
        const auto fields = split(rec);
        QCOMPARE(int(fields.size()), fieldCount);
        QCOMPARE(fields[0], "3" + pn);
        QCOMPARE(fields[1].size(), size_t(3));
        QVERIFY(recordChecksumValid(rec, fieldCount - 1));
        QVERIFY(!recordChecksumValid(rec, fieldCount == 30 ? 27 : 29));
        QCOMPARE(rec, sim->partRecord(part));
        // Gross limit never below the leak limit; compensation within its own limits.
        QVERIFY(std::stod(fields[23]) >= std::stod(fields[11]));
        const double flowZero = std::stod(fields[8]);
        const double limit =
            std::min(99.9, (4095 - flowZero) * 2 / std::stod(fields[21])) / std::stod(fields[15]);
        QVERIFY(std::stod(fields[9]) <= limit);
        QVERIFY(std::stod(fields[10]) <= limit);
    }

    void plantedFieldsGoOutVerbatim() {
        startOn(Generation::V73);
        QVERIFY(sim->setSystemField(5, "0010"));
        QVERIFY(sim->setPartField(3, 11, " 012.5"));
        QVERIFY(!sim->setPartField(33, 11, "1"));
        QVERIFY(!sim->setSystemField(10, "1"));
        QCOMPARE(split(line->exchange("2"))[5], std::string("0010"));
        const std::string rec = line->exchange("303");
        QCOMPARE(split(rec)[11], std::string(" 012.5"));
        QVERIFY(recordChecksumValid(rec, 29));
    }

    void generationSwitchKeepsValues() {
        startOn(Generation::V73);
        sim->setSystemFlag(16, '1');
        sim->setGeneration(Generation::V70);
        QCOMPARE(split(line->exchange("2"))[0].size(), size_t(15));
        QCOMPARE(split(line->exchange("301")).size(), size_t(28));
        sim->setGeneration(Generation::V73);
        QCOMPARE(split(line->exchange("2"))[0].back(), '1');
    }

    // ------------------------------------------------------------------ downloads

    void systemDownload() {
        startOn(Generation::V73);
        // index -> value text before padding
        const std::vector<std::string> values{
            "00001", "00001", "00000", "00000", "00001", "3",  "00001", "25",   "0",
            "1",     "00001", "0010",  "00001", "2",     "0",  "4321",  "30",   "00001",
            "00000", "2005",  "03",    "07",    "14",    "05", "00001", "00001"};
        for (int i = 0; i <= 25; ++i) {
            QVERIFY(line->write(sysField(i, values[size_t(i)])));
            if (i < 25) {
                QCOMPARE(line->readBytes(1), Ack);
            } else {
                // The last field: ACK and the closing frame, in one write.
                const std::string rest = line->readUntil(
                    [](const std::string& g) { return g.find(ETX) != std::string::npos; }, 2000ms);
                QCOMPARE(rest, Ack + frame("4"));
                QCOMPARE(line->reads, 25 + 1);
            }
        }
        const auto logged = sim->downloadFrames();
        QCOMPARE(logged.size(), size_t(26));
        QCOMPARE(logged[3], sysField(3, "00000").substr(1, 13));

        const auto f = split(line->exchange("2"));
        //           "2" pos2 EPS DV OD CP AO FV PD FD PU FC FU EF RTC IFC
        QCOMPARE(f[0], std::string("20") + "110011" + "20" + "1110" + "11");
        QCOMPARE(f[1], std::string("25"));
        QCOMPARE(f[2], std::string("0"));
        QCOMPARE(f[3], std::string("1"));
        QCOMPARE(f[4], std::string("3"));
        QCOMPARE(f[5], std::string("10")); // kept as a number, sent in shortest form
        QCOMPARE(f[7], std::string("4321"));
        QCOMPARE(f[8], std::string("30"));
        QCOMPARE(f[9], std::string("37289100")); // Mar 07,2005 14:05
        QCOMPARE(sim->clockSeconds(), 37289100LL);
    }

    void emptyClockLeavesClockAlone() {
        startOn(Generation::V70);
        const long long before = sim->clockSeconds();
        for (int i = 19; i <= 23; ++i) {
            QVERIFY(line->write(sysField(i, "")));
            QCOMPARE(line->readBytes(1), Ack);
        }
        QCOMPARE(sim->clockSeconds(), before);
        QCOMPARE(*sim::secondsSince2004(2004, 3, 1, 0, 0), 60LL * 86400);
        QCOMPARE(*sim::secondsSince2004(2005, 1, 1, 0, 0), 31622400LL);
        QVERIFY(!sim::secondsSince2004(2005, 2, 29, 0, 0));
    }

    void partDownload_data() {
        QTest::addColumn<Generation>("gen");
        QTest::addColumn<int>("last");
        QTest::newRow("V7.0") << Generation::V70 << 27;
        QTest::newRow("V7.3") << Generation::V73 << 29;
    }
    void partDownload() {
        QFETCH(Generation, gen);
        QFETCH(int, last);
        startOn(gen);
        sim->setConfiguredParts({1});
        std::vector<std::string> values(30, "5");
        values[0] = "00000"; // TempComp OFF
        values[1] = "00001"; // 0.1 SEC
        values[2] = "00002"; // OFFSET
        values[3] = "25";
        values[12] = "12.5";
        values[22] = "999.9";
        values[26] = "1234";
        values[27] = "-12";
        values[28] = "3.5";
        for (int i = 0; i <= last; ++i) {
            QVERIFY(line->write(partField(7, i, values[size_t(i)])));
            const std::string expected = i < last ? Ack : Ack + frame("5");
            QCOMPARE(line->readBytes(expected.size()), expected);
        }
        QCOMPARE(sim->configuredParts(), (std::vector<int>{1, 7}));
        const auto f = split(line->exchange("307"));
        QCOMPARE(int(f.size()), last + 1);
        QCOMPARE(f[1], std::string("012"));
        QCOMPARE(f[2], std::string("25"));
        QCOMPARE(f[11], std::string("12.5"));
        QCOMPARE(f[21], std::string("999.9"));
        QCOMPARE(f[25], std::string("1234"));
        QCOMPARE(f[26], std::string("-12"));
        if (gen == Generation::V73)
            QCOMPARE(f[27], std::string("3.5"));
        // Another part is untouched.
        QCOMPARE(sim->partField(8, 11), std::string("9"));
    }

    void downloadRefusals_data() {
        QTest::addColumn<std::string>("bytes");
        const std::string good = sysField(3, "00001");
        std::string badSum = good;
        badSum[13] = badSum[13] == '9' ? '0' : char(badSum[13] + 1);
        QTest::newRow("checksum off by one") << badSum;
        QTest::newRow("value too long") << sysField(15, "1234567");
        QTest::newRow("short frame") << frame("4000001030");
        QTest::newRow("index not digits") << rawFrame("4000001x3", FrameChecksum("4000001x3"));
        QTest::newRow("value not a number") << sysField(15, "12a4");
        QTest::newRow("two-state code 2") << sysField(0, "00002");
        QTest::newRow("three decimals") << sysField(13, "3");
        QTest::newRow("system index past V7.3's last") << sysField(26, "0");
        QTest::newRow("part 00") << partField(0, 3, "5");
        QTest::newRow("part 33") << partField(33, 3, "5");
        QTest::newRow("part option code 3") << partField(1, 2, "00003");
        QTest::newRow("part index past V7.3's last") << partField(1, 30, "5");
        QTest::newRow("impossible date") << sysField(19, "2005") + sysField(20, "02") +
                                                sysField(21, "30") + sysField(22, "00") +
                                                sysField(23, "00");
    }
    void downloadRefusals() {
        QFETCH(std::string, bytes);
        startOn(Generation::V73);
        const std::string before = sim->systemRecord() + sim->partRecord(1);
        QVERIFY(line->write(bytes));
        const std::string answer = line->readUntil(
            [](const std::string& g) { return g.find(NAK) != std::string::npos; }, 2000ms);
        QVERIFY(answer.ends_with(Nak));
        QVERIFY(answer.find(STX) == std::string::npos);
        if (answer.size() == 1) // nothing was taken over
            QCOMPARE(sim->systemRecord() + sim->partRecord(1), before);
    }

    void v70EndsAtItsOwnLastField() {
        startOn(Generation::V70);
        QVERIFY(line->write(sysField(24, "00001")));
        QCOMPARE(line->readBytes(3), Ack + std::string(1, STX) + "4");
        line->drain(50ms);
        QVERIFY(line->write(sysField(25, "00001")));
        QCOMPARE(line->readBytes(1), Nak);
    }

    // ------------------------------------------------------------------ mode and list

    void modeAndList() {
        startOn(Generation::V73);
        QCOMPARE(line->exchange("8"), std::string("800"));
        QCOMPARE(line->exchange("92"), std::string("820"));
        QCOMPARE(sim->mode(), 2);
        QCOMPARE(line->exchange("94"), std::string(sim::RefusalContent));
        QCOMPARE(line->exchange("9?"), std::string(sim::RefusalContent));
        QCOMPARE(sim->mode(), 2);
        sim->setTestRunning(true);
        QCOMPARE(line->exchange("90"), std::string("821")); // refused: a test is running
        QCOMPARE(sim->mode(), 2);

        sim->setConfiguredParts({1, 2, 32});
        const std::string list = line->exchange("A");
        QCOMPARE(list.size(), size_t(33));
        QCOMPARE(list, "A11" + std::string(29, '0') + "1");
    }

    void refusals_data() {
        QTest::addColumn<std::string>("content");
        QTest::newRow("empty frame") << std::string();
        QTest::newRow("lower-case a") << std::string("a");
        QTest::newRow("unknown command") << std::string("7");
        QTest::newRow("system upload with argument") << std::string("2x");
        QTest::newRow("part 00") << std::string("300");
        QTest::newRow("part 33") << std::string("333");
        QTest::newRow("part number one digit") << std::string("35");
    }
    void refusals() {
        QFETCH(std::string, content);
        startOn(Generation::V73);
        QCOMPARE(line->exchange(content), std::string(sim::RefusalContent));
    }

    // ------------------------------------------------------------------ the line

    void framingOnTheInstrumentsSide() {
        startOn(Generation::V73);
        // Noise before a frame, a frame in pieces, two frames in one write, a frame that
        // starts over.
        QVERIFY(line->write("\x7fzz" + frame("8")));
        QCOMPARE(line->readFrame(), std::string("800"));
        QVERIFY(line->write(std::string(1, STX)));
        QVERIFY(line->write("8"));
        QCOMPARE(line->drain(30ms), std::string());
        QVERIFY(line->write(std::string(1, ETX)));
        QCOMPARE(line->readFrame(), std::string("800"));
        QVERIFY(line->write(frame("8") + frame("A")));
        QCOMPARE(line->readFrame(), std::string("800"));
        QCOMPARE(line->readFrame().substr(0, 1), std::string("A"));
        QVERIFY(line->write(std::string(1, STX) + "3" + frame("8")));
        QCOMPARE(line->readFrame(), std::string("800"));
        QCOMPARE(sim->framesReceived(), (std::vector<std::string>{"8", "8", "8", "A", "8"}));
        QCOMPARE(sim->receivedTimeline().size(), sim->bytesReceived().size());
        QCOMPARE(sim->sentTimeline().size(), sim->bytesSent().size());
    }

    void survivesTheEditorClosingItsPort() {
        startOn(Generation::V73);
        QCOMPARE(line->exchange("8"), std::string("800"));
        line->close();
        QVERIFY(sim->running());
        Line again(sim->devicePath());
        QVERIFY(again.ok());
        QCOMPARE(again.exchange("8"), std::string("800"));
    }

    // ------------------------------------------------------------------ faults

    void silence() {
        startOn(Generation::V73);
        sim->setSilent(true);
        QVERIFY(line->write(frame("2") + sysField(0, "00001")));
        QVERIFY(sim->waitForFrames(2, 2000ms));
        QCOMPARE(line->drain(100ms), std::string());
        QCOMPARE(sim->systemFlag(3), '0'); // not applied either
        sim->setSilent(false);
        QCOMPARE(line->exchange("8"), std::string("800"));
    }

    void nakAtField() {
        startOn(Generation::V73);
        sim->setNakAtField(4);
        for (int i = 0; i < 4; ++i) {
            QVERIFY(line->write(sysField(i, "00001")));
            QCOMPARE(line->readBytes(1), Ack);
        }
        QVERIFY(line->write(sysField(4, "00001")));
        QCOMPARE(line->readBytes(1), Nak);
        QCOMPARE(sim->systemFlag(7), '0');
        QVERIFY(line->write(partField(1, 4, "5")));
        QCOMPARE(line->readBytes(1), Nak);
    }

    void corruptChecksumOnce() {
        startOn(Generation::V73);
        sim->corruptNextChecksum();
        QVERIFY(!recordChecksumValid(line->exchange("305"), 29));
        QVERIFY(recordChecksumValid(line->exchange("305"), 29));
        sim->corruptNextChecksum();
        QVERIFY(!recordChecksumValid(line->exchange("2"), 10));
    }

    void noiseBeforeAnswers() {
        startOn(Generation::V73);
        sim->setNoise(std::string("\xff~#") + STX + ACK); // meaningful bytes are dropped
        QCOMPARE(line->exchange("8"), std::string("800"));
        QCOMPARE(line->beforeFrame, std::string("\xff~#"));
        // A bare acknowledgement stays bare; the closing frame gets its noise.
        QVERIFY(line->write(sysField(25, "00000")));
        QCOMPARE(line->readBytes(7), Ack + "\xff~#" + frame("4"));
    }

    void splitAnswers() {
        startOn(Generation::V73);
        sim->setSplit(10, 15ms);
        const std::string rec = line->exchange("2");
        QVERIFY(recordChecksumValid(rec, 10));
        QVERIFY(line->reads >= int((rec.size() + 2) / 10));
        // The pieces left the instrument at least the gap apart.
        const auto t = sim->sentTimeline();
        QCOMPARE(t.size(), rec.size() + 2);
        for (size_t i = 10; i < t.size(); i += 10)
            QVERIFY(t[i].at - t[i - 1].at >= 15ms);
    }

    void closingFrameApart() {
        startOn(Generation::V73);
        sim->setClosingFrameGap(40ms);
        QVERIFY(line->write(sysField(25, "00000")));
        QCOMPARE(line->readBytes(1), Ack);
        QCOMPARE(line->readFrame(), std::string("4"));
        const auto t = sim->sentTimeline();
        QCOMPARE(t.size(), size_t(4));
        QVERIFY(t[1].at - t[0].at >= 40ms);
    }

    void refuseEverything() {
        startOn(Generation::V73);
        sim->setRefuseAll(true);
        QCOMPARE(line->exchange("2"), std::string(sim::RefusalContent));
        QVERIFY(line->write(sysField(0, "00001")));
        QCOMPARE(line->readFrame(), std::string(sim::RefusalContent));
        QCOMPARE(sim->systemFlag(3), '0');
    }

    void wrongPartNumber() {
        startOn(Generation::V73);
        sim->setWrongPartNumber(true);
        QCOMPARE(split(line->exchange("305"))[0], std::string("306"));
        const std::string rec = line->exchange("332");
        QCOMPARE(split(rec)[0], std::string("301"));
        QVERIFY(recordChecksumValid(rec, 29));
    }

    void pacingAt9600() {
        startOn(Generation::V73);
        sim->setPacing(true);
        const std::string rec = line->exchange("2");
        QVERIFY(recordChecksumValid(rec, 10));
        const auto t = sim->sentTimeline();
        QCOMPARE(t.size(), rec.size() + 2);
        QVERIFY(t.back().at - t.front().at >= sim::ByteTime9600 * long(t.size() - 2));
        for (size_t i = 1; i < t.size(); ++i)
            QVERIFY(t[i].at > t[i - 1].at);
    }

    void stopAfterBytes() {
        startOn(Generation::V73);
        sim->setStopAfterBytes(12);
        QVERIFY(line->write(frame("2")));
        QCOMPARE(line->readBytes(12).size(), size_t(12));
        QCOMPARE(line->drain(50ms), std::string());
        sim->setStopAfterBytes(std::nullopt);
        QVERIFY(recordChecksumValid(line->exchange("2"), 10));
    }

    void hangUpMidAnswer() {
        startOn(Generation::V73);
        sim->setHangUpAfterBytes(20);
        QVERIFY(line->write(frame("2")));
        const std::string got =
            line->readUntil([&](const std::string&) { return line->hangUpSeen; }, 2000ms);
        // A pulled adapter may lose what was still on its way.
        QVERIFY(got.size() <= 20);
        QCOMPARE(sim->bytesSent().size(), size_t(20));
        QVERIFY(line->hangUpSeen);
        QTRY_VERIFY(sim->hungUp());
        QVERIFY(!sim->running());
        // (The dead path is not opened again here: the system hands its number to the next
        // terminal, possibly another test's.)

        // Plugged in again: a fresh terminal, the same instrument.
        sim->setHangUpAfterBytes(std::nullopt);
        QVERIFY(sim->start());
        Line again(sim->devicePath());
        QVERIFY(again.ok());
        QCOMPARE(again.exchange("8"), std::string("800"));
    }

    void hangUpBetweenDownloadFields() {
        startOn(Generation::V73);
        sim->setHangUpAfterBytes(3); // three acknowledgements, then the adapter is gone
        for (int i = 0; i < 3; ++i) {
            QVERIFY(line->write(sysField(i, "00000")));
            QCOMPARE(line->readBytes(1), Ack);
        }
        QVERIFY(line->write(sysField(3, "00000")));
        line->readUntil([&](const std::string&) { return line->hangUpSeen; }, 2000ms);
        QVERIFY(line->hangUpSeen);
        QTRY_VERIFY(sim->hungUp());
    }

    // ------------------------------------------------------------------ at the instrument

    void serialOption() {
        SimProgram program;
        QVERIFY(program.start({"--serial", "5678"}));
        Line l(program.path);
        QCOMPARE(split(l.exchange("2"))[7], std::string("5678"));

        SimProgram outOfRange;
        QVERIFY(!outOfRange.start({"--serial", "10001"}));
        QCOMPARE(outOfRange.status, 2);
        QVERIFY2(outOfRange.stderrHas("Serial Number: 0 to 10000"), outOfRange.err.c_str());
    }

    // A line on standard input, in display terms, reaches the record the next upload returns;
    // a refused one is explained and the instrument answers on.
    void keypadChangeSeenByNextUpload() {
        SimProgram program;
        QVERIFY(program.start({}));
        Line l(program.path);
        program.type("set part 5 LeakLimt 9\nset part 5 LeakLimit 9\n");
        QCOMPARE(program.readLine(), std::string("part 5 LeakLimit 9"));
        QTRY_VERIFY2(program.stderrHas("set part 5 LeakLimt 9: no part parameter \"LeakLimt\"\n"),
                     program.err.c_str());
        QCOMPARE(split(l.exchange("305"))[11], std::string("9"));
    }

    // Read as the editor reads a typed value: the range with its unit, the part's time base;
    // what the editing rules move along goes too. A refused line changes nothing.
    void keypadTakesWhatTheEditorTakes_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("refusal"); // empty: taken
        QTest::addColumn<int>("part");
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("stored");
        QTest::newRow("tenths") << "part 1 FillTime 2.5"
                                << "" << 1 << 3 << "25";
        QTest::newRow("seconds") << "part 2 FillTime 25"
                                 << "" << 2 << 3 << "25";
        QTest::newRow("gross limit along") << "part 3 LeakLimit 40"
                                           << "" << 3 << 23 << "40";
        QTest::newRow("block time's minimum") << "part 2 TimeBase 0.1 sec"
                                              << "" << 2 << 6 << "8";
        QTest::newRow("range") << "part 4 LeakLimit 100"
                               << "Leak Limit: 0 to 99.9 CCM" << 4 << 11 << "7";
        QTest::newRow("option") << "part 4 ZeroSel ZERO"
                                << "Zero Selection: CAL or STAB or OFFSET" << 4 << 1 << "100";
        QTest::newRow("customer code") << "part 4 CustCode 12a"
                                       << "Customer Code: 0 to 999999" << 4 << 25 << "1004";
        QTest::newRow("part 33") << "part 33 LeakLimit 1"
                                 << "part number \"33\": 1 to 32" << 4 << 11 << "7";
        QTest::newRow("read-only")
            << "system Model HFL"
            << "Model is read from the option code (system OptionCode)" << 0 << 6 << "S0412B";
        QTest::newRow("clock") << "system Time Feb 29,2025 10:00"
                               << "Time: a time such as Jun 03,2024 09:30" << 0 << 9
                               << QString::number(*sim::secondsSince2004(2024, 6, 3, 9, 30));
    }
    void keypadTakesWhatTheEditorTakes() {
        QFETCH(QString, line);
        QFETCH(QString, refusal);
        QFETCH(int, part);
        QFETCH(int, field);
        QFETCH(QString, stored);
        sim::Instrument instrument;
        const std::string before = instrument.stateText();
        const auto why = instrument.keypad(line.toStdString());
        QCOMPARE(QString::fromStdString(why.value_or("")), refusal);
        if (why)
            QCOMPARE(instrument.stateText(), before);
        const std::string record = part ? instrument.partRecord(part) : instrument.systemRecord();
        QCOMPARE(QString::fromStdString(split(record)[size_t(field)]), stored);
    }

    // What an instrument can hold is what its state text gives back, the values the editor's
    // rules would change on an upload included: a delay under a second, a gross limit below
    // the leak limit, a compensation beyond its limits, tenths that are no whole count, a
    // number past a slider's range after the decimal count changed.
    void stateTextReadsBackTheSame_data() {
        QTest::addColumn<Generation>("gen");
        QTest::newRow("V7.0") << Generation::V70;
        QTest::newRow("V7.3") << Generation::V73;
    }
    void stateTextReadsBackTheSame() {
        QFETCH(Generation, gen);
        sim::Instrument held(gen);
        held.setSystemFlag(10, '2'); // two flow decimals: Calibrated Leak 10 is past 9.99
        held.setSystemField(1, "7"); // drain valve delay 0.7 s
        held.setConfiguredParts({3, 32});
        held.setPartField(1, 22, "5");    // fast cycle delay 0.5 s, "OFF" on the sheet
        held.setPartField(1, 23, "2");    // gross limit below the leak limit
        held.setPartField(1, 10, "99.9"); // compensation beyond its limit
        held.setPartField(1, 3, "132.1"); // 13.21 s in tenths
        held.setPartField(1, 4, "85.1");  // 8.51 s, which a float times ten makes 85.10001
        held.setPartField(2, 26, "-17");
        held.setClockSeconds(*sim::secondsSince2004(2031, 2, 28, 23, 59));
        sim::Instrument back(gen == Generation::V70 ? Generation::V73 : Generation::V70);
        QCOMPARE(back.loadState(held.stateText()), std::nullopt);
        QCOMPARE(back.generation(), gen);
        QCOMPARE(back.configuredParts(), held.configuredParts());
        QCOMPARE(back.systemRecord(), held.systemRecord());
        for (int n = 1; n <= sim::PartNumbers; ++n)
            QCOMPARE(back.partRecord(n), held.partRecord(n));
    }

    // A download is written back as it ends: a run killed after it still left it in the file,
    // and the next run starts with it.
    void stateKeptAcrossRuns() {
        QTemporaryDir dir;
        const QString state = dir.filePath("b.state");
        {
            SimProgram first;
            QVERIFY(first.start({"--state", state, "--serial", "5678"}));
            QVERIFY(fileText(state).find("system Serial 5678\n") != std::string::npos);
            Line l(first.path);
            std::vector<std::string> values(30, "5");
            values[0] = "00000";
            values[1] = "00001";
            values[2] = "00002";
            values[12] = "12.5";
            for (int i = 0; i <= 29; ++i) {
                QVERIFY(l.write(partField(7, i, values[size_t(i)])));
                const std::string expected = i < 29 ? Ack : Ack + frame("5");
                QCOMPARE(l.readBytes(expected.size()), expected);
            }
            QTRY_VERIFY2(fileText(state).find("part 7 LeakLimit 12.5\n") != std::string::npos,
                         first.errors().c_str());
            ::kill(pid_t(first.p.processId()), SIGKILL);
            first.p.waitForFinished();
        }
        SimProgram second;
        QVERIFY(second.start({"--state", state}));
        Line l(second.path);
        QCOMPARE(split(l.exchange("307"))[11], std::string("12.5"));
        QCOMPARE(l.exchange("A").substr(1, 8), std::string("11001010")); // 7 configured
        QCOMPARE(split(l.exchange("2"))[7], std::string("5678"));
    }

    void damagedStateRefused() {
        QTemporaryDir dir;
        const QString state = dir.filePath("b.state");
        const std::string good = sim::Instrument().stateText();
        {
            std::ofstream out(state.toStdString(), std::ios::binary);
            out << good << "part 5 LeakLimit lots\n";
        }
        const std::string before = fileText(state);
        SimProgram program;
        QVERIFY(!program.start({"--state", state}));
        QCOMPARE(program.status, 2);
        const auto lastLine = std::count(good.begin(), good.end(), '\n') + 1;
        QVERIFY2(program.stderrHas("b.state, line " + std::to_string(lastLine) +
                                   ": LeakLimit: not a number"),
                 program.err.c_str());
        QCOMPARE(fileText(state), before);
    }

    void hangUpNowAndStop() {
        startOn(Generation::V73);
        sim->hangUp();
        QTRY_VERIFY(sim->hungUp());
        line->readUntil([&](const std::string&) { return line->hangUpSeen; }, 2000ms);
        QVERIFY(line->hangUpSeen);
        sim->stop(); // after a hang-up, and twice
        sim->stop();
        QVERIFY(!sim->running());
    }
};

QTEST_GUILESS_MAIN(TestInstrument)
#include "test_instrument.moc"
