// Qt Test runs under Wine and reports through CTest, as the program's own tests will.
#include <QtTest>

class TestlibCheck : public QObject {
    Q_OBJECT
private slots:
    void numbersRoundTrip() {
        QCOMPARE(QString::number(0.25, 'f', 2), QStringLiteral("0.25"));
        QCOMPARE(QStringLiteral("1e-7").toDouble(), 1e-7);
    }
    void dataDriven_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("length");
        QTest::newRow("ascii") << QStringLiteral("bar") << 3;
        QTest::newRow("umlaut") << QStringLiteral("Prüfdruck") << 9;
    }
    void dataDriven() {
        QFETCH(QString, text);
        QFETCH(int, length);
        QCOMPARE(text.size(), length);
    }
};

QTEST_MAIN(TestlibCheck)
#include "testlib_check.moc"
