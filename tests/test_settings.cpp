#include "files/settings.h"
#include "support/fakes.h"
#include "support/file_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <vector>

using namespace pp;
using namespace pp::test;

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void fileIsInsideTheFolder() {
#ifdef _WIN32
        QCOMPARE(settingsFilePath("C:\\pp"), std::string("C:\\pp\\RIGPREFS.DAT"));
        QCOMPARE(settingsFilePath("C:/pp/"), std::string("C:/pp/RIGPREFS.DAT"));
#else
        QCOMPARE(settingsFilePath("/opt/pp"), std::string("/opt/pp/RIGPREFS.DAT"));
        QCOMPARE(settingsFilePath("/opt/pp/"), std::string("/opt/pp/RIGPREFS.DAT"));
#endif
    }

    void portNumberFromContent_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("port");
        QTest::newRow("as written") << QByteArray("\"3\"\r\n") << 3;
        QTest::newRow("unquoted") << QByteArray("4\r\n") << 4;
        QTest::newRow("unquoted, no line end") << QByteArray("7") << 7;
        QTest::newRow("half down to even") << QByteArray("\"2.5\"\r\n") << 2;
        QTest::newRow("half up to even") << QByteArray("\"3.5\"\r\n") << 4;
        QTest::newRow("spaces around") << QByteArray("  \" 5 \"  ,9\r\n") << 5;
        QTest::newRow("first field only") << QByteArray("2,3\r\n") << 2;
        QTest::newRow("empty first line") << QByteArray("\r\n\"3\"\r\n") << 1;
        QTest::newRow("any 16-bit value") << QByteArray("\"-300\"\r\n") << -300;
        QTest::newRow("empty") << QByteArray() << 1;
        QTest::newRow("empty field") << QByteArray("\"\"\r\n") << 1;
        QTest::newRow("not a number") << QByteArray("\"COM3\"\r\n") << 1;
        QTest::newRow("beyond 16 bits") << QByteArray("\"32768\"\r\n") << 1;
    }
    void portNumberFromContent() {
        QFETCH(QByteArray, content);
        QFETCH(int, port);
        QTemporaryDir app, config;
        putFile(app.filePath("RIGPREFS.DAT"), content.toStdString());
        QCOMPARE(int(LoadAppSettings({app.path().toStdString(), config.path().toStdString()})),
                 port);
    }

    void firstRunThenSave() {
        QTemporaryDir app, config;
        const SettingsFolders folders{app.path().toStdString(), config.path().toStdString()};
        QCOMPARE(int(LoadAppSettings(folders)), 1);
        FakeWindow window;
        QVERIFY(SaveAppSettings(1, folders, window));
        QCOMPARE(fileBytes(app.filePath("RIGPREFS.DAT")), std::string("\"1\"\r\n"));
        QVERIFY(SaveAppSettings(3, folders, window));
        QCOMPARE(fileBytes(app.filePath("RIGPREFS.DAT")), std::string("\"3\"\r\n"));
        QCOMPARE(int(LoadAppSettings(folders)), 3);
        QVERIFY(window.messages.empty());
        QCOMPARE(QDir(app.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"RIGPREFS.DAT"});
        QVERIFY(!QFile::exists(config.filePath("RIGPREFS.DAT")));
    }

    // A save goes to the configuration folder only when the application folder's file could
    // not be written; whichever was written last holds the last choice.
    void newerFileWins() {
        QTemporaryDir app, config;
        const SettingsFolders folders{app.path().toStdString(), config.path().toStdString()};
        putFile(config.filePath("RIGPREFS.DAT"), "\"4\"\r\n");
        QCOMPARE(int(LoadAppSettings(folders)), 4);
        putFile(app.filePath("RIGPREFS.DAT"), "\"2\"\r\n");
        QCOMPARE(int(LoadAppSettings(folders)), 2);
        putFile(config.filePath("RIGPREFS.DAT"), "\"5\"\r\n");
        QCOMPARE(int(LoadAppSettings(folders)), 5);
    }

    void unreadableApplicationFileFallsBackToConfig() {
        QTemporaryDir app, config;
        const SettingsFolders folders{app.path().toStdString(), config.path().toStdString()};
        QVERIFY(QDir(app.path()).mkdir("RIGPREFS.DAT")); // there, but no file to read
        putFile(config.filePath("RIGPREFS.DAT"), "\"4\"\r\n");
        QCOMPARE(int(LoadAppSettings(folders)), 4);
    }

    void unwritableApplicationFolderFallsBackToConfig() {
        QTemporaryDir tmp;
        putFile(tmp.filePath("plain"), "x"); // a folder below a file cannot be written
        const SettingsFolders folders{tmp.filePath("plain/app").toStdString(),
                                      tmp.filePath("config/ParamPorter").toStdString()};
        FakeWindow window;
        QVERIFY(SaveAppSettings(5, folders, window));
        QVERIFY(window.messages.empty());
        QCOMPARE(fileBytes(tmp.filePath("config/ParamPorter/RIGPREFS.DAT")),
                 std::string("\"5\"\r\n"));
        QCOMPARE(int(LoadAppSettings(folders)), 5);
    }

    void failedSaveKeepsTheOldContent() {
        QTemporaryDir app, config;
        const SettingsFolders folders{app.path().toStdString(), config.path().toStdString()};
        putFile(app.filePath("RIGPREFS.DAT"), "\"2\"\r\n");
        HalfWritingFileSystem failing;
        FakeWindow window;
        QVERIFY(!SaveAppSettings(4, folders, window, failing));
        QCOMPARE(window.messageTexts(), std::vector<std::string>{"Error writing application file"});
        QCOMPARE(window.messages[0].caption, std::string("ParamPorter"));
        QCOMPARE(window.status(), std::string("File Error"));
        QCOMPARE(fileBytes(app.filePath("RIGPREFS.DAT")), std::string("\"2\"\r\n"));
        QCOMPARE(QDir(app.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"RIGPREFS.DAT"});
        // The configuration folder could not take it either, and nothing is left there.
        QVERIFY(QDir(config.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }

    void nowhereToWrite() {
        QTemporaryDir tmp;
        putFile(tmp.filePath("plain"), "x");
        const SettingsFolders folders{tmp.filePath("plain/app").toStdString(),
                                      tmp.filePath("plain/config").toStdString()};
        FakeWindow window;
        QVERIFY(!SaveAppSettings(2, folders, window));
        QCOMPARE(window.messageTexts(), std::vector<std::string>{"Error writing application file"});
        QCOMPARE(window.status(), std::string("File Error"));
        QCOMPARE(int(LoadAppSettings(folders)), 1);
    }
};

QTEST_APPLESS_MAIN(TestSettings)
#include "test_settings.moc"
