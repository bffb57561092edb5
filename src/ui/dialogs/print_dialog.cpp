#include "ui/dialogs/print_dialog.h"

#include "qt/clock.h"

#include "files/file_commands.h"
#include "link/platform.h"
#include "report/report.h"
#include "report/report_painter.h"

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace pp::ui {

namespace {
const QString NoPrinters = QStringLiteral("No printers are available!");
const QString SelectPrinter = QStringLiteral("Please select a printer!");
} // namespace

FormPrinter::FormPrinter(QWidget* parent, pp::Window* window) : QDialog(parent), window_(window) {
    setObjectName(QStringLiteral("FormPrinter"));
    setWindowTitle(QStringLiteral("Print QX7400 Parameters"));
    setModal(true);

    label1_ = new QLabel(QStringLiteral("Select Printer"), this);
    label1_->setObjectName(QStringLiteral("Label1"));
    combo1_ = new QComboBox(this);
    combo1_->setObjectName(QStringLiteral("Combo1"));
    combo1_->setMinimumContentsLength(32);
    label1_->setBuddy(combo1_);

    optAllParts_ = new QRadioButton(QStringLiteral("Print All Parts"), this);
    optAllParts_->setObjectName(QStringLiteral("optAllParts"));
    optAllParts_->setEnabled(false);
    optCurrentPart1_ = new QRadioButton(QStringLiteral("Print Current Part"), this);
    optCurrentPart1_->setObjectName(QStringLiteral("optCurrentPart1"));
    optCurrentPart1_->setChecked(true);

    cmdPrint_ = new QPushButton(QStringLiteral("PRINT"), this);
    cmdPrint_->setObjectName(QStringLiteral("cmdPrint"));
    cmdPrint_->setDefault(true);
    cmdPreview_ = new QPushButton(QStringLiteral("Preview"), this);
    cmdPreview_->setObjectName(QStringLiteral("cmdPreview"));
    cmdCancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel_->setObjectName(QStringLiteral("cmdCancel"));

    auto* options = new QHBoxLayout;
    options->addWidget(optAllParts_);
    options->addWidget(optCurrentPart1_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdPrint_);
    buttons->addWidget(cmdPreview_);
    buttons->addStretch();
    buttons->addWidget(cmdCancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label1_);
    layout->addWidget(combo1_);
    layout->addLayout(options);
    layout->addLayout(buttons);

    connect(cmdPrint_, &QPushButton::clicked, this, &FormPrinter::cmdPrint_Click);
    connect(cmdPreview_, &QPushButton::clicked, this, &FormPrinter::cmdPreview_Click);
    connect(cmdCancel_, &QPushButton::clicked, this, &FormPrinter::cmdCancel_Click);
}

FormPrinter::~FormPrinter() = default;

void FormPrinter::run(const pp::Sheet& sheet) {
    live_ = &sheet;
    sheet_.reset();
    load();
    exec();
}

void FormPrinter::setSheet(const pp::Sheet& sheet) {
    sheet_ = sheet;
    live_ = nullptr;
}

const pp::Sheet& FormPrinter::current() const {
    static const pp::Sheet empty;
    return live_ ? *live_ : sheet_ ? *sheet_ : empty;
}

void FormPrinter::setAllPartsSource(AllPartsSource source) {
    allParts_ = std::move(source);
    optAllParts_->setEnabled(bool(allParts_));
    if (!allParts_)
        optCurrentPart1_->setChecked(true);
}

void FormPrinter::load() {
    if (loaded_)
        return;
    loaded_ = true;
    const QStringList printers = QPrinterInfo::availablePrinterNames();
    combo1_->addItems(printers);
    combo1_->addItem(pdfEntry());
    if (printers.isEmpty()) {
        message(NoPrinters);
        return; // the PDF entry is the only one and already chosen
    }
    // The system's default printer; without one the first printer stays chosen.
    const int current = combo1_->findText(QPrinterInfo::defaultPrinterName(), Qt::MatchExactly);
    combo1_->setCurrentIndex(current >= 0 ? current : 0);
}

std::optional<std::vector<pp::Sheet>> FormPrinter::columns() {
    if (!optAllParts_->isChecked() || !allParts_)
        return std::vector<pp::Sheet>{current()};
    std::optional<std::vector<pp::Sheet>> gathered = allParts_();
    if (!gathered || gathered->empty())
        return std::nullopt; // cancelled while gathering: the dialog stays for another try
    return gathered;
}

void FormPrinter::cmdPrint_Click() {
    const std::optional<std::vector<pp::Sheet>> gathered = columns();
    if (gathered && printSheets(*gathered) == Outcome::Printed)
        accept();
}

void FormPrinter::cmdCancel_Click() {
    reject();
}

FormPrinter::Outcome FormPrinter::printSheets(const std::vector<pp::Sheet>& columns) {
    if (columns.empty()) {
        message(SelectPrinter);
        return Outcome::Failed;
    }
    bool cancelled = false;
    std::unique_ptr<QPrinter> printer = chosenPrinter(cancelled, columns.front());
    if (cancelled)
        return Outcome::Cancelled;
    if (!printer || !PrintReportPages(columns, now(), *printer)) {
        message(SelectPrinter);
        return Outcome::Failed;
    }
    if (window_ && printer->outputFormat() == QPrinter::PdfFormat)
        window_->setStatus("Report written to " +
                           QDir::toNativeSeparators(printer->outputFileName()).toStdString());
    return Outcome::Printed;
}

void FormPrinter::cmdPreview_Click() {
    // What PRINT would print: all parts are gathered first.
    const std::optional<std::vector<pp::Sheet>> gathered = columns();
    if (!gathered)
        return;
    // The chosen printer's paper; for the PDF entry (or none) the default page.
    QPrinter printer(QPrinter::HighResolution);
    const QString name = combo1_->currentText();
    if (combo1_->currentIndex() >= 0 && name != pdfEntry()) {
        const QPrinterInfo info = QPrinterInfo::printerInfo(name);
        if (!info.isNull())
            printer.setPrinterName(info.printerName());
    } else {
        printer.setOutputFormat(QPrinter::PdfFormat);
    }
    const std::tm printedAt = now();
    QPrintPreviewDialog preview(&printer, this);
    preview.setObjectName(QStringLiteral("ReportPreview"));
    // Laid out again for each paper the preview is asked for: it decides the columns a page.
    connect(&preview, &QPrintPreviewDialog::paintRequested, &preview,
            [&gathered, &printedAt](QPrinter* target) {
                PrintReportPages(*gathered, printedAt, *target);
            });
    preview.exec();
}

std::unique_ptr<QPrinter> FormPrinter::chosenPrinter(bool& cancelled, const pp::Sheet& named) {
    cancelled = false;
    // The entry chosen in the list, not whichever printer was current before.
    if (combo1_->currentIndex() < 0)
        return nullptr;
    const QString name = combo1_->currentText();
    if (name == pdfEntry()) {
        const QString path = askPdfPath(suggestedPdfName(named));
        if (path.isEmpty()) {
            cancelled = true;
            return nullptr;
        }
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(path);
        printer->setDocName(QStringLiteral("QX7400 Parameters"));
        return printer;
    }
    const QPrinterInfo info = QPrinterInfo::printerInfo(name);
    if (info.isNull())
        return nullptr; // removed since the list was filled
    auto printer = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    printer->setDocName(QStringLiteral("QX7400 Parameters"));
    return printer;
}

QString FormPrinter::askPdfPath(const QString& name) {
    if (choosePdfPath_)
        return choosePdfPath_(name);
    QFileDialog dialog(this, QStringLiteral("Print to PDF"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(QStringLiteral("PDF (*.pdf)"));
    dialog.setDefaultSuffix(QStringLiteral("pdf"));
    // The folder of the last report, and a name after the parameters being printed.
    const QString folder =
        lastPdfPath_.isEmpty() ? QDir::homePath() : QFileInfo(lastPdfPath_).absolutePath();
    dialog.setDirectory(folder);
    if (!name.isEmpty())
        dialog.selectFile(QDir(folder).filePath(name));
    else if (!lastPdfPath_.isEmpty())
        dialog.selectFile(lastPdfPath_);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    lastPdfPath_ = dialog.selectedFiles().constFirst();
    return lastPdfPath_;
}

QString FormPrinter::suggestedPdfName(const pp::Sheet& sheet) const {
    QString name = QString::fromStdString(pp::DefaultFileName(sheet, now()));
    if (name.endsWith(QLatin1String(".QX")))
        name.chop(3);
    return name.isEmpty() ? QString() : name + QStringLiteral(".pdf");
}

void FormPrinter::message(const QString& text) {
    if (messageHook_) {
        messageHook_(text);
    } else if (window_) {
        window_->message(text.toStdString(), pp::Buttons::Ok, pp::AppTitle);
    } else {
        QMessageBox box(QMessageBox::NoIcon,
                        QString::fromUtf8(pp::AppTitle.data(), qsizetype(pp::AppTitle.size())),
                        text, QMessageBox::Ok, this);
        box.exec();
    }
}

std::tm FormPrinter::now() const {
    if (clock_)
        return clock_();
    return qt::now();
}

FormPrinter* printDialogFor(QWidget* parent, pp::Window* window) {
    if (parent) {
        if (auto* existing = parent->findChild<FormPrinter*>(QStringLiteral("FormPrinter"),
                                                             Qt::FindDirectChildrenOnly))
            return existing;
    }
    return new FormPrinter(parent, window);
}

void showPrintDialog(const pp::Sheet& sheet, QWidget* parent, pp::Window* window) {
    printDialogFor(parent, window)->run(sheet);
}

} // namespace pp::ui
