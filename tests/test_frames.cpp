#include "link/frames.h"

#include <QtTest>

using namespace pp;

class TestFrames : public QObject {
    Q_OBJECT
private slots:
    void zeroPad() {
        QCOMPARE(ZeroPad("7", 2), std::string("07"));
        QCOMPARE(ZeroPad("", 2), std::string("00"));
        QCOMPARE(ZeroPad("123", 2), std::string("123"));
        QCOMPARE(ZeroPad("00001", 6), std::string("000001"));
        QCOMPARE(ZeroPad("-12", 6), std::string("-00012"));
        QCOMPARE(ZeroPad("-5", 6), std::string("-00005"));
        QCOMPARE(ZeroPad("25", 4), std::string("0025"));
        QCOMPARE(ZeroPad("1234567", 6), std::string("1234567"));
        QCOMPARE(ZeroPad("12.5", 6), std::string("0012.5"));
        QCOMPARE(ZeroPad("-123456", 6), std::string("-123456"));
        QCOMPARE(ZeroPad("a-b", 6), std::string("-0000b")); // the sign moves to the front
    }

    void checksum() {
        QCOMPARE(FrameChecksum(""), 1);
        QCOMPARE(FrameChecksum("abc"), 295);
        QCOMPARE(FrameChecksum("400002503"), 447);
        QCOMPARE(FrameChecksum(std::string(1, '\xff')), 256); // codes are 0..255
        // Long input never wraps into a small number that could match by accident.
        QCOMPARE(FrameChecksum(std::string(200, '\xff')), 1 + 200 * 255);
    }

    void commandFrames() {
        QCOMPARE(systemUploadFrame(), std::string("\x02"
                                                  "2\x03"));
        QCOMPARE(partUploadFrame("05"), std::string("\x02"
                                                    "305\x03"));
        QCOMPARE(readModeFrame(), std::string("\x02"
                                              "8\x03"));
        QCOMPARE(setModeFrame('?'), std::string("\x02"
                                                "9?\x03"));
        QCOMPARE(partListFrame(), std::string("\x02"
                                              "A\x03"));
    }

    void downloadFieldFrames() {
        QCOMPARE(downloadFieldFrame('4', "25", "", 3), std::string("\x02"
                                                                   "4000025030447\x03"));
        std::string f = downloadFieldFrame('5', "12.5", "5", 12);
        QCOMPARE(f.size(), size_t(17));
        std::string content = "50012.50512";
        QCOMPARE(f, "\x02" + content + ZeroPad(std::to_string(FrameChecksum(content)), 4) + "\x03");
        QCOMPARE(downloadFieldFrame('4', "", "", 19).substr(1, 9), std::string("400000019"));
        QCOMPARE(downloadFieldFrame('5', "-12", "07", 27).substr(1, 11),
                 std::string("5-000120727"));
    }

    void recordChecksums() {
        const std::string body = "305,100,3,10,20,15,5,8,2048,5.5,4.5,12.5,10,2.5,1,1.5,60,30,"
                                 "40,80.5,50,10.5,0,25,10,1234,-12,";
        QCOMPARE(FrameChecksum(body), 4488);
        QVERIFY(recordChecksumValid(body + "4488", 27));
        QVERIFY(!recordChecksumValid(body + "4489", 27));
        QVERIFY(!recordChecksumValid(body + "x", 27));
        QVERIFY(recordChecksumValid(body + "3.5,4,4778", 29));
        // Without the checksum field the received checksum counts as 0, which never matches.
        QVERIFY(!recordChecksumValid("305,100", 27));
        // A checksum beyond 16 bits fails.
        QVERIFY(!recordChecksumValid(body + "99999", 27));
    }
};

QTEST_APPLESS_MAIN(TestFrames)
#include "test_frames.moc"
