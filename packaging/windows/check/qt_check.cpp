// Qt's Widgets and PrintSupport with whatever platform plugin QT_QPA_PLATFORM names: a label is
// shown and drawn, a page goes to a PDF file, a std::thread runs (posix threads runtime).
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTimer>

#include <cstdio>
#include <thread>

static int failures = 0;

static void check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
    std::fflush(stdout);
    if (!ok)
        ++failures;
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::printf("platform plugin: %s\n", qPrintable(QGuiApplication::platformName()));
    const QByteArray wanted = qgetenv("QT_QPA_PLATFORM");
    check(wanted.isEmpty() || QGuiApplication::platformName() == QString::fromLatin1(wanted),
          "the platform plugin asked for is the one loaded");

    // Against an empty label of the same size: the text must change pixels.
    QLabel label(QStringLiteral("Leak rate 0.25 Pa·m³/s"));
    QLabel empty;
    for (QLabel* l : {&label, &empty}) {
        l->resize(320, 80);
        l->show();
    }
    const QImage shot = label.grab().toImage();
    check(shot.size() == QSize(320, 80) && shot != empty.grab().toImage(),
          "the label draws its text");
    // Without fonts Qt still draws, but boxes: ask for the glyphs themselves.
    const QFontMetrics metrics(label.font());
    check(!QFontDatabase::families().isEmpty() && metrics.inFont(QLatin1Char('L')) &&
              metrics.inFont(QChar(0x00b3)),
          "a font with the label's letters is there");
    if (argc > 1)
        shot.save(QString::fromLocal8Bit(argv[1])); // to look at what was drawn

    const QString pdf = QDir::temp().filePath(QStringLiteral("pp-qt-check.pdf"));
    QFile::remove(pdf);
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        QPainter painter;
        check(painter.begin(&printer), "printing to PDF starts");
        painter.drawText(100, 100, QStringLiteral("Test pressure 2.5 bar"));
        painter.end();
    }
    QFile file(pdf);
    check(file.open(QIODevice::ReadOnly) && file.read(5) == "%PDF-" && file.size() > 500,
          "the PDF file is written");
    file.close();
    QFile::remove(pdf);
    // Only that asking the system's spooler does not fail; Wine has no printers.
    std::printf("printers: %lld\n",
                static_cast<long long>(QPrinterInfo::availablePrinters().size()));

    int fromThread = 0;
    std::thread([&] { fromThread = 42; }).join();
    check(fromThread == 42, "std::thread runs");

    QTimer::singleShot(100, &app, &QApplication::quit);
    check(app.exec() == 0, "the event loop runs and quits");
    std::printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
