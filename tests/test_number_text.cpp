#include "sheet/number_text.h"

#include <QtTest>

using namespace pp;

class TestNumberText : public QObject {
    Q_OBJECT
private slots:
    void int16_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << "42" << true << 42;
        QTest::newRow("leading zeros") << "0010" << true << 10;
        QTest::newRow("negative") << "-012" << true << -12;
        QTest::newRow("blanks around") << "  7 " << true << 7;
        QTest::newRow("tie to even down") << "2.5" << true << 2;
        QTest::newRow("tie to even up") << "3.5" << true << 4;
        QTest::newRow("negative tie") << "-2.5" << true << -2;
        QTest::newRow("exponent") << "1e3" << true << 1000;
        QTest::newRow("plus sign") << "+5" << true << 5;
        QTest::newRow("lowest") << "-32768" << true << -32768;
        QTest::newRow("highest") << "32767" << true << 32767;
        QTest::newRow("rounds into range") << "32767.4" << true << 32767;
        QTest::newRow("above range") << "32768" << false << 0;
        QTest::newRow("rounds out of range") << "32767.5" << false << 0;
        QTest::newRow("below range") << "-32769" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("blank") << "   " << false << 0;
        QTest::newRow("letters") << "12a" << false << 0;
        QTest::newRow("comma decimal") << "1,5" << false << 0;
        QTest::newRow("inner blank") << "1 2" << false << 0;
        QTest::newRow("lone sign") << "-" << false << 0;
        QTest::newRow("lone point") << "." << false << 0;
        QTest::newRow("infinity") << "inf" << false << 0;
        QTest::newRow("nan") << "nan" << false << 0;
        QTest::newRow("hex") << "0x10" << false << 0;
        QTest::newRow("huge exponent") << "1e400" << false << 0;
    }
    void int16() {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(int, value);
        auto r = toInt16(text.toStdString());
        QCOMPARE(r.has_value(), ok);
        if (ok)
            QCOMPARE(int(*r), value);
    }

    void scaledProductsUseTheFloatsExactValue() {
        // 0.35f is a little below 0.35, so ten times it rounds down.
        QCOMPARE(int(*textScaledToInt16("0.35", 1)), 3);
        QCOMPARE(int(*textScaledToInt16("12.5", 1)), 125);
        QCOMPARE(int(*textScaledToInt16("1.25", 2)), 125);
        QCOMPARE(int(*textScaledToInt16("2.5", 0)), 2);
        QCOMPARE(int(*textScaledToInt16("1.5", 0)), 2);
        QCOMPARE(int(*textScaledToInt16("80.5", 1)), 805);
        QCOMPARE(int(*textScaledToInt16("999.9", 1)), 9999);
        QCOMPARE(int(*textScaledToInt16("-1.2", 1)), -12);
        QVERIFY(!textScaledToInt16("4000", 1));
        QVERIFY(!textScaledToInt16("x", 1));
        QVERIFY(!textScaledToInt16("", 1));
    }

    void shortestForms() {
        QCOMPARE(formatScaled(25, 1), std::string("2.5"));
        QCOMPARE(formatScaled(20, 1), std::string("2"));
        QCOMPARE(formatScaled(5, 2), std::string("0.05"));
        QCOMPARE(formatScaled(999, 1), std::string("99.9"));
        QCOMPARE(formatScaled(1, 1), std::string("0.1"));
        QCOMPARE(formatScaled(-25, 0), std::string("-25"));
        QCOMPARE(formatScaled(-25, 1), std::string("-2.5"));
        QCOMPARE(formatScaled(0, 2), std::string("0"));
        QCOMPARE(formatScaled(9999, 1), std::string("999.9"));
        QCOMPARE(formatNumber(1e7), std::string("10000000"));
    }

    void singlePrecisionKeepsSevenDigits() {
        QCOMPARE(formatSingle(1.5f * 10.0f), std::string("15"));
        QCOMPARE(formatSingle(0.1f * 10.0f), std::string("1"));
        QCOMPARE(formatSingle(0.3f * 10.0f), std::string("3"));
        QCOMPARE(formatSingle(99.9f * 10.0f), std::string("999"));
        QCOMPARE(formatSingle(5.55f * 10.0f), std::string("55.5"));
        QCOMPARE(formatSingle(2.5f), std::string("2.5"));
        QCOMPARE(formatSingle(0.8f * 10.0f), std::string("8"));
        QCOMPARE(formatSingle(99.9f / 1.5f), std::string("66.6"));
        QCOMPARE(formatSingle(-0.0f), std::string("0"));
        QCOMPARE(formatSingle(-12.0f), std::string("-12"));
        QCOMPARE(formatSingle(0.000123f), std::string("0.000123"));
        QCOMPARE(formatSingle(123456789.0f), std::string("123456800"));
        QCOMPARE(formatSingle(1.0f / 3.0f), std::string("0.3333333"));
    }
};

QTEST_APPLESS_MAIN(TestNumberText)
#include "test_number_text.moc"
