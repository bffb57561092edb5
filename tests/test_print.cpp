#include "report/report_painter.h"
#include "support/print_support.h"
#include "ui/dialogs/print_dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QFontMetricsF>
#include <QLabel>
#include <QPageSize>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace pp;
using namespace pp::testing;
using pp::ui::FormPrinter;

namespace {

bool printToPdf(const Report& report, const QString& path,
                const QPageSize& size = QPageSize(QPageSize::A4)) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    printer.setPageSize(size);
    return PrintReport(report, printer);
}

// Every printed line, in order, and nothing else.
void compareWithReport(const QString& pdf, const Report& report) {
    const QStringList printed = pdfWords(pdfText(pdf));
    const QStringList expected = printedWords(report);
    QCOMPARE(printed, expected);
}

// Sixteen part columns, PN 01 to PN 16, as Print All Parts gathers them.
std::vector<Sheet> sixteenParts() {
    std::vector<Sheet> columns;
    for (int n = 1; n <= 16; ++n)
        columns.push_back(
            reportSheet(QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')).toStdString()));
    return columns;
}

QString pdfPage(const QString& pdf, int page) {
    return runTool("pdftotext",
                   {"-layout", "-f", QString::number(page), "-l", QString::number(page), pdf, "-"});
}

template <typename T> T* child(QWidget* parent, const char* name) {
    T* w = parent->findChild<T*>(QString::fromLatin1(name));
    if (!w)
        qWarning("no %s", name);
    return w;
}

} // namespace

class TestPrint : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir_;

    QString path(const QString& name) const { return dir_.filePath(name); }

    // A dialog set to print into PDF files without any dialog of its own.
    std::unique_ptr<FormPrinter> pdfDialog(QStringList& messages, QString pdfPath) {
        auto dialog = std::make_unique<FormPrinter>();
        dialog->setMessageHook([&messages](const QString& text) { messages << text; });
        dialog->setPdfPathChooser([pdfPath](const QString&) { return pdfPath; });
        dialog->setClock(printedAt);
        dialog->setSheet(reportSheet());
        dialog->load();
        auto* combo = child<QComboBox>(dialog.get(), "Combo1");
        combo->setCurrentIndex(combo->findText(FormPrinter::pdfEntry()));
        dialog->show();
        return dialog;
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        if (!havePdfTools())
            QSKIP("pdftotext, pdffonts and pdfinfo (poppler-utils) are needed to read the "
                  "printed PDF back");
    }

    // ------------------------------------------------------------------ the printer

    void printsEveryLineInColumns() {
        const Report report = composeReport(reportSheet(), printedAt());
        const QString pdf = path("report.pdf");
        QVERIFY(printToPdf(report, pdf));
        compareWithReport(pdf, report);
        QCOMPARE(pdfPages(pdf), 1);

        // Fixed pitch: the part heading and the part values start in the same column.
        const QStringList lines = pdfText(pdf).split('\n');
        int heading = -1, flowZero = -1;
        for (const QString& line : lines) {
            if (line.contains("PN 05"))
                heading = line.indexOf("PN 05");
            if (line.contains("FLOW ZERO:"))
                flowZero = line.indexOf("FLOW ZERO:") + 14;
        }
        QVERIFY(heading > 0);
        QCOMPARE(flowZero, heading);
    }

    void fontIsFixedPitch() {
        const QString pdf = path("fonts.pdf");
        QVERIFY(printToPdf(composeReport(reportSheet(), printedAt()), pdf));
        const QString fonts = runTool("pdffonts", {pdf});
        QStringList names;
        for (const QString& line : fonts.split('\n').mid(2))
            if (!line.trimmed().isEmpty())
                names << line.section(' ', 0, 0).section('+', -1);
        QVERIFY2(!names.isEmpty(), qPrintable(fonts));
        for (const QString& name : names)
            QVERIFY2(name.startsWith("LiberationMono") || name.startsWith("CourierNew") ||
                         name.startsWith("Courier"),
                     qPrintable(fonts));
        // Bold titles and plain values.
        QVERIFY2(names.filter("Bold").size() >= 1 && names.size() >= 2, qPrintable(fonts));
    }

    void fullPagesBreak() {
        const Sheet sheet = reportSheet();
        const Report report = composeReport(sheet, printedAt());
        const QString pdf = path("small.pdf");
        // As wide as A4, a third as high.
        QVERIFY(printToPdf(report, pdf, QPageSize(QSizeF(210, 100), QPageSize::Millimeter)));
        const int pages = pdfPages(pdf);
        QVERIFY2(pages >= 2, qPrintable(QString::number(pages)));
        // Page by page, nothing lost or doubled at the breaks.
        QStringList all;
        for (int p = 1; p <= pages; ++p) {
            const QString page = runTool("pdftotext", {"-layout", "-f", QString::number(p), "-l",
                                                       QString::number(p), pdf, "-"});
            const QStringList lines = pdfWords(page);
            QVERIFY(!lines.isEmpty());
            all << lines;
        }
        QCOMPARE(all, printedWords(report));
    }

    // Print All Parts on A4: every part on as many pages as it takes, each page the whole
    // report, numbered at its foot; no line wider than the page.
    void allPartsOnNumberedPages() {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(path("sixteen.pdf"));
        printer.setPageSize(QPageSize(QPageSize::A4));
        const size_t perPage = partColumnsPerPage(printer);
        QVERIFY(perPage >= 4 && perPage < 16);
        QVERIFY(PrintReportPages(sixteenParts(), printedAt(), printer));

        const int pages = pdfPages(path("sixteen.pdf"));
        QCOMPARE(pages, int((16 + perPage - 1) / perPage)); // one sheet of paper per page
        const std::vector<Report> composed =
            composeReportPages(sixteenParts(), printedAt(), perPage);
        // Each page as composed (every part once, in order: test_report), and its number.
        for (int p = 1; p <= pages; ++p) {
            QStringList lines = pdfWords(pdfPage(path("sixteen.pdf"), p));
            QCOMPARE(lines.takeLast(), QStringLiteral("Page %1 of %2").arg(p).arg(pages));
            QCOMPARE(lines, printedWords(composed[size_t(p - 1)]));
        }

        // The widest line, the part table's, within the printable width.
        const qreal pitch =
            QFontMetricsF(QFont(reportFontFamily(), 10), &printer).horizontalAdvance(' ');
        QVERIFY((22 + 9 * perPage) * pitch <= printer.width());
    }

    // On pages too short for a whole report the numbers count the sheets of paper, and
    // nothing is lost or doubled at the breaks.
    void allPartsNumbersCountTheSheets() {
        const QString pdf = path("short.pdf");
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        printer.setPageSize(QPageSize(QSizeF(210, 100), QPageSize::Millimeter));
        const size_t perPage = partColumnsPerPage(printer);
        QVERIFY(PrintReportPages(sixteenParts(), printedAt(), printer));
        const int pages = pdfPages(pdf);
        const std::vector<Report> composed =
            composeReportPages(sixteenParts(), printedAt(), perPage);
        QVERIFY2(pages > int(composed.size()), qPrintable(QString::number(pages)));
        QStringList all;
        for (int p = 1; p <= pages; ++p) {
            QStringList lines = pdfWords(pdfPage(pdf, p));
            QCOMPARE(lines.takeLast(), QStringLiteral("Page %1 of %2").arg(p).arg(pages));
            all << lines;
        }
        QStringList expected;
        for (const Report& page : composed)
            expected << printedWords(page);
        QCOMPARE(all, expected);
    }

    // ------------------------------------------------------------------ the dialog

    void controls() {
        FormPrinter dialog;
        QStringList messages;
        dialog.setMessageHook([&messages](const QString& text) { messages << text; });
        QCOMPARE(dialog.objectName(), "FormPrinter");
        QCOMPARE(dialog.windowTitle(), "Print QX7400 Parameters");
        QCOMPARE(child<QLabel>(&dialog, "Label1")->text(), "Select Printer");
        QCOMPARE(child<QRadioButton>(&dialog, "optAllParts")->text(), "Print All Parts");
        QCOMPARE(child<QRadioButton>(&dialog, "optCurrentPart1")->text(), "Print Current Part");
        QVERIFY(child<QRadioButton>(&dialog, "optCurrentPart1")->isChecked());
        QCOMPARE(child<QPushButton>(&dialog, "cmdPrint")->text(), "PRINT");
        QCOMPARE(child<QPushButton>(&dialog, "cmdCancel")->text(), "Cancel");
        QCOMPARE(child<QPushButton>(&dialog, "cmdPreview")->text(), "Preview");

        // The installed printers in the platform's order, the default one chosen, and the
        // PDF entry after them; filled only once.
        auto* combo = child<QComboBox>(&dialog, "Combo1");
        dialog.load();
        dialog.load();
        const QStringList installed = QPrinterInfo::availablePrinterNames();
        QStringList listed;
        for (int i = 0; i < combo->count(); ++i)
            listed << combo->itemText(i);
        QCOMPARE(listed, installed + QStringList{FormPrinter::pdfEntry()});
        if (installed.isEmpty()) {
            QCOMPARE(messages, QStringList{"No printers are available!"});
            QCOMPARE(combo->currentText(), FormPrinter::pdfEntry());
        } else {
            QVERIFY(messages.isEmpty());
            if (!QPrinterInfo::defaultPrinterName().isEmpty())
                QCOMPARE(combo->currentText(), QPrinterInfo::defaultPrinterName());
        }
    }

    void printWritesPdfAndHides() {
        QStringList messages;
        auto dialog = pdfDialog(messages, path("print.pdf"));
        QTest::mouseClick(child<QPushButton>(dialog.get(), "cmdPrint"), Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QVERIFY(messages.isEmpty() || messages == QStringList{"No printers are available!"});
        compareWithReport(path("print.pdf"), composeReport(reportSheet(), printedAt()));

        // Shown again, the list keeps its entry; a second PRINT is a report of its own with
        // one part column again.
        dialog->setPdfPathChooser([this](const QString&) { return path("again.pdf"); });
        dialog->show();
        QCOMPARE(child<QComboBox>(dialog.get(), "Combo1")->currentText(), FormPrinter::pdfEntry());
        QTest::mouseClick(child<QPushButton>(dialog.get(), "cmdPrint"), Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        const QString again = pdfText(path("again.pdf"));
        QCOMPARE(again.count("PN "), 1);
    }

    void cancelledFileChoiceKeepsTheDialog() {
        QStringList messages;
        auto dialog = pdfDialog(messages, QString());
        messages.clear();
        QTest::mouseClick(child<QPushButton>(dialog.get(), "cmdPrint"), Qt::LeftButton);
        QVERIFY(dialog->isVisible());
        QVERIFY(messages.isEmpty());
    }

    void failuresAskForAPrinter_data() {
        QTest::addColumn<bool>("noEntry");
        QTest::newRow("file cannot be written") << false;
        QTest::newRow("nothing chosen") << true;
    }
    void failuresAskForAPrinter() {
        QFETCH(bool, noEntry);
        QStringList messages;
        auto dialog = pdfDialog(messages, path("missing/folder/x.pdf"));
        messages.clear();
        if (noEntry)
            child<QComboBox>(dialog.get(), "Combo1")->setCurrentIndex(-1);
        QTest::mouseClick(child<QPushButton>(dialog.get(), "cmdPrint"), Qt::LeftButton);
        QCOMPARE(messages, QStringList{"Please select a printer!"});
        QVERIFY(dialog->isVisible());
    }

    void cancelHidesAndKeepsTheChoice() {
        QStringList messages;
        auto dialog = pdfDialog(messages, path("never.pdf"));
        auto* combo = child<QComboBox>(dialog.get(), "Combo1");
        const int chosen = combo->currentIndex();
        QTest::mouseClick(child<QPushButton>(dialog.get(), "cmdCancel"), Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QVERIFY(!QFile::exists(path("never.pdf")));
        dialog->show();
        QCOMPARE(combo->currentIndex(), chosen);
    }

    void allPartsPrintsOneColumnPerSheet() {
        QStringList messages;
        auto dialog = pdfDialog(messages, path("all.pdf"));
        auto* all = child<QRadioButton>(dialog.get(), "optAllParts");
        QVERIFY(!all->isEnabled()); // nothing gathers the parts yet

        bool cancel = true;
        dialog->setAllPartsSource([&cancel]() -> std::optional<std::vector<Sheet>> {
            if (cancel)
                return std::nullopt;
            return std::vector<Sheet>{reportSheet("01"), reportSheet("02"), reportSheet("17")};
        });
        QVERIFY(all->isEnabled());
        QTest::mouseClick(all, Qt::LeftButton);
        QVERIFY(all->isChecked());

        // Gathering cancelled: nothing printed, the dialog stays.
        QTest::mouseClick(child<QPushButton>(dialog.get(), "cmdPrint"), Qt::LeftButton);
        QVERIFY(dialog->isVisible());
        QVERIFY(!QFile::exists(path("all.pdf")));

        cancel = false;
        QTest::mouseClick(child<QPushButton>(dialog.get(), "cmdPrint"), Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        const QStringList printed = pdfWords(pdfText(path("all.pdf")));
        QCOMPARE(pdfPages(path("all.pdf")), 1);
        QVERIFY(!printed.join(' ').contains("Page ")); // a report of one page has no number
        QVERIFY(printed.contains("PN 01 PN 02 PN 17"));
        QVERIFY(printed.contains(
            "FLOW ZERO: " + words(QString::fromStdString(reportSheet().text(Part::FlowZero) + " " +
                                                         reportSheet().text(Part::FlowZero) + " " +
                                                         reportSheet().text(Part::FlowZero)))));
    }

    void previewRendersTheReport() {
        QStringList messages;
        auto dialog = pdfDialog(messages, path("unused.pdf"));
        int pages = -1;
        QTimer::singleShot(0, this, [&pages] {
            auto* preview = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
            if (!preview)
                return;
            if (auto* widget = preview->findChild<QPrintPreviewWidget*>())
                pages = widget->pageCount();
            preview->reject();
        });
        QTest::mouseClick(child<QPushButton>(dialog.get(), "cmdPreview"), Qt::LeftButton);
        QVERIFY(pages >= 1);
        QVERIFY(dialog->isVisible());
        QVERIFY(!QFile::exists(path("unused.pdf")));
    }

    // PRINT and Preview with "Print All Parts" and sixteen parts: every page, numbered.
    void allPartsPrintAndPreviewEveryPage() {
        QStringList messages;
        auto dialog = pdfDialog(messages, path("all16.pdf"));
        int gathered = 0;
        dialog->setAllPartsSource([&gathered]() -> std::optional<std::vector<Sheet>> {
            ++gathered;
            return sixteenParts();
        });
        QTest::mouseClick(child<QRadioButton>(dialog.get(), "optAllParts"), Qt::LeftButton);

        int previewed = -1;
        QTimer::singleShot(0, this, [&previewed] {
            auto* preview = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
            if (!preview)
                return;
            if (auto* widget = preview->findChild<QPrintPreviewWidget*>())
                previewed = widget->pageCount();
            preview->reject();
        });
        QTest::mouseClick(child<QPushButton>(dialog.get(), "cmdPreview"), Qt::LeftButton);
        QCOMPARE(gathered, 1);

        QTest::mouseClick(child<QPushButton>(dialog.get(), "cmdPrint"), Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(gathered, 2);
        const int pages = pdfPages(path("all16.pdf"));
        QVERIFY2(pages >= 2, qPrintable(QString::number(pages)));
        QCOMPARE(previewed, pages);
        const QString text = pdfText(path("all16.pdf"));
        for (int n = 1; n <= 16; ++n)
            QCOMPARE(text.count(QStringLiteral("PN %1").arg(n, 2, 10, QLatin1Char('0'))), 1);
        QCOMPARE(text.count("SYSTEM PARAMETERS"), pages);
        QVERIFY(text.contains(QStringLiteral("Page %1 of %1").arg(pages)));
    }

    void mainWindowGetsOneDialog() {
        QWidget window;
        FormPrinter* first = ui::printDialogFor(&window);
        QCOMPARE(ui::printDialogFor(&window), first);
        QCOMPARE(first->parent(), &window);
    }
};

QTEST_MAIN(TestPrint)
#include "test_print.moc"
