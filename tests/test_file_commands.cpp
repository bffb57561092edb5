#include "files/file_commands.h"
#include "files/param_file.h"
#include "support/fakes.h"
#include "support/file_support.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <vector>

using namespace pp;
using namespace pp::test;

namespace {

// A file of the earlier layout: no initial flow check line.
const std::string TwoLines =
    "\"1234\",\"ON\",\"N CLOSED\",\"NO\",\"1.5\",\"OFF\",\"2.5\",\"ON\",\"0.5\",\"100\",\"3\","
    "\"ON\",\"OPEN\",\"PSI\",\"1\",\"CCM\",\"1\",\"10\",\"OFF\",\"ON\",\"S04211F\","
    "\"Mar 07,2005 14:05\"\r\n"
    "\"05\",\"0.1 SEC\",\"2.5\",\"5\",\"2.5\",\"2\",\"ON\",\"3\",\"60.5\",\"5\",\"4\",\"OFF\","
    "\"12.5\",\"45\",\"6\",\"STAB\",\"22\",\"1\",\"80\",\"40.2\",\"1.2\",\"30\",\"0.8\",\"20\","
    "\"3995\",\"10\",\"50\",\"123456\",\"-25\"\r\n";

std::tm date(int year, int month, int day) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    return t;
}

} // namespace

class TestFileCommands : public QObject {
    Q_OBJECT
private slots:
    void defaultFileName_data() {
        QTest::addColumn<QString>("part");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<int>("year");
        QTest::addColumn<int>("month");
        QTest::addColumn<int>("day");
        QTest::addColumn<QString>("name");
        QTest::newRow("usual") << "05"
                               << "1234" << 2026 << 12 << 7 << "QX7400_05_1234_07Dec26.QX";
        QTest::newRow("january 2000") << "32"
                                      << "0" << 2000 << 1 << 1 << "QX7400_32_0_01Jan00.QX";
        QTest::newRow("september") << "12"
                                   << "10000" << 2009 << 9 << 30 << "QX7400_12_10000_30Sep09.QX";
        QTest::newRow("no serial") << "05"
                                   << "" << 2026 << 12 << 7 << "";
        QTest::newRow("no part") << ""
                                 << "1234" << 2026 << 12 << 7 << "";
        // Texts from the instrument never lead out of the folder or break the name.
        QTest::newRow("serial with a path")
            << "01"
            << "../../evil" << 2026 << 12 << 9 << "QX7400_01_evil_09Dec26.QX";
        QTest::newRow("serial with a quote")
            << "05"
            << "12\"34" << 2026 << 12 << 7 << "QX7400_05_1234_07Dec26.QX";
        QTest::newRow("nothing usable") << "05"
                                        << "../" << 2026 << 12 << 7 << "";
        QTest::newRow("typed part number")
            << "/5"
            << "1234" << 2026 << 12 << 7 << "QX7400_5_1234_07Dec26.QX";
    }
    void defaultFileName() {
        QFETCH(QString, part);
        QFETCH(QString, serial);
        QFETCH(int, year);
        QFETCH(int, month);
        QFETCH(int, day);
        QFETCH(QString, name);
        Sheet sheet;
        sheet.setPartSelection(part.toStdString());
        sheet.setText(Sys::Serial, serial.toStdString());
        QCOMPARE(DefaultFileName(sheet, date(year, month, day), std::locale::classic()),
                 name.toStdString());
    }

    // The month in the language the environment names.
    void defaultFileNameMonthFollowsTheSystemsLanguage() {
        Sheet sheet;
        sheet.setPartSelection("05");
        sheet.setText(Sys::Serial, "1234");
        const QByteArray old = qgetenv("LC_ALL");
        qputenv("LC_ALL", "de_DE.UTF-8");
        const std::string name = DefaultFileName(sheet, date(2026, 12, 7));
        qputenv("LC_ALL", "C");
        const std::string english = DefaultFileName(sheet, date(2026, 12, 7));
        old.isNull() ? qunsetenv("LC_ALL") : qputenv("LC_ALL", old);
        QCOMPARE(english, std::string("QX7400_05_1234_07Dec26.QX"));
        if (name == english)
            QSKIP("the German locale (de_DE.UTF-8) is not installed here");
        QCOMPARE(name, std::string("QX7400_05_1234_07Dez26.QX"));
    }

    void openTakesThePathOnlyWhenTheFileWasRead() {
        QTemporaryDir dir;
        const QString good = dir.filePath("good.QX");
        const QString bad = dir.filePath("bad.QX");
        putFile(good, TwoLines);
        putFile(bad, TwoLines.substr(0, 200));

        Sheet sheet;
        FakeWindow window;
        window.yesNoDefault = Answer::No; // keeps the file's own layout
        window.openFiles.push_back(good.toStdString());
        QVERIFY(OpenCommand(sheet, window));
        QCOMPARE(sheet.filePath, good.toStdString());
        QCOMPARE(sheet.text(Sys::Serial), std::string("1234"));

        const Sheet before = sheet;
        window.openFiles.push_back(bad.toStdString());
        QVERIFY(!OpenCommand(sheet, window));
        QVERIFY(sheet == before);
        QCOMPARE(window.messages.back().text, std::string("Error reading file"));

        // No scripted file: the dialog is cancelled.
        window.messages.clear();
        QVERIFY(!OpenCommand(sheet, window));
        QVERIFY(sheet == before);
        QVERIFY(window.messages.empty());
    }

    void legacyFileThenSave_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QByteArray>("thirdLine");
        QTest::newRow("no keeps two lines") << int(Answer::No) << QByteArray();
        QTest::newRow("yes adds the third line")
            << int(Answer::Yes) << QByteArray("\"OFF\",\"0\",\"0\"\r\n");
    }
    void legacyFileThenSave() {
        QFETCH(int, answer);
        QFETCH(QByteArray, thirdLine);
        QTemporaryDir dir;
        const QString path = dir.filePath("legacy.QX");
        putFile(path, TwoLines);

        Sheet sheet;
        FakeWindow window;
        window.openFiles.push_back(path.toStdString());
        window.answers.push_back(Answer(answer));
        QVERIFY(OpenCommand(sheet, window));
        QCOMPARE(window.messages.size(), size_t(1)); // the question, once
        QCOMPARE(fileBytes(path), TwoLines);         // converting changes only the window

        QVERIFY(SaveCommand(sheet, window));
        QCOMPARE(fileBytes(path), TwoLines + thirdLine.toStdString());
        QCOMPARE(window.openDialogs, 1);
        QVERIFY(window.suggestedNames.empty());
    }

    void saveWithoutPathDoesNothing() {
        Sheet sheet;
        FakeWindow window;
        QVERIFY(!SaveCommand(sheet, window));
        QVERIFY(window.messages.empty());
        QVERIFY(window.suggestedNames.empty());
    }

    void saveAsNames_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("written");
        QTest::newRow("no extension gets .QX") << "plain"
                                               << "plain.QX";
        QTest::newRow("own extension kept") << "mine.txt"
                                            << "mine.txt";
        QTest::newRow(".QX kept") << "given.QX"
                                  << "given.QX";
        QTest::newRow("dotted folder, bare name") << "a.b/name"
                                                  << "a.b/name.QX";
    }
    void saveAsNames() {
        QFETCH(QString, typed);
        QFETCH(QString, written);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("a.b"));
        Sheet sheet;
        sheet.setPartSelection("05");
        sheet.setText(Sys::Serial, "1234");
        sheet.SetFirmwareGeneration(Generation::V70);
        FakeWindow window;
        window.saveFiles.push_back(dir.filePath(typed).toStdString());
        QVERIFY(SaveAsCommand(sheet, window, date(2026, 12, 7)));
        QCOMPARE(window.suggestedNames, std::vector<std::string>{"QX7400_05_1234_07Dec26.QX"});
        QCOMPARE(sheet.filePath, dir.filePath(written).toStdString());
        QVERIFY(sheet.commands.save);
        QCOMPARE(fileBytes(dir.filePath(written)), ParamFileText(sheet));

        // Save then goes to the same file without a dialog.
        sheet.setText(Sys::Serial, "77");
        QVERIFY(SaveCommand(sheet, window));
        QCOMPARE(window.suggestedNames.size(), size_t(1));
        QVERIFY(fileBytes(dir.filePath(written)).rfind("\"77\",", 0) == 0);
    }

    void saveAsCancelledOrFailedKeepsPathAndSave() {
        QTemporaryDir dir;
        Sheet sheet;
        sheet.filePath = "/earlier/file.QX";
        sheet.commands.save = false;
        const Sheet before = sheet;
        FakeWindow window;

        // No scripted file: the dialog is cancelled.
        QVERIFY(!SaveAsCommand(sheet, window, date(2026, 12, 7)));
        window.saveFiles.push_back(""); // nothing chosen
        QVERIFY(!SaveAsCommand(sheet, window, date(2026, 12, 7)));
        QVERIFY(window.messages.empty());
        QVERIFY(sheet == before);
        QCOMPARE(window.suggestedNames, (std::vector<std::string>{"", ""}));

        window.saveFiles.push_back(dir.filePath("missing/x.QX").toStdString());
        QVERIFY(!SaveAsCommand(sheet, window, date(2026, 12, 7)));
        QVERIFY(sheet == before);
        QCOMPARE(window.messageTexts(), std::vector<std::string>{"Error writing file"});
        QCOMPARE(window.status(), std::string("File Error"));
    }
};

QTEST_APPLESS_MAIN(TestFileCommands)
#include "test_file_commands.moc"
