// FormPrinter, "Print QX7400 Parameters": choose a printer (or a PDF file) and print the
// parameter report of the sheet it was shown for. Created once, hidden by its buttons.
#pragma once

#include "sheet/sheet.h"

#include <QDialog>
#include <QString>

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QPrinter;
class QPushButton;
class QRadioButton;

namespace pp {
class Window;
}

namespace pp::ui {

class FormPrinter : public QDialog {
    Q_OBJECT
public:
    // The entry after the installed printers that prints into a PDF file.
    static QString pdfEntry() { return QStringLiteral("Print to PDF..."); }

    // Messages go to `window` when given (the main window's message boxes), else to a
    // message box of the dialog's own.
    explicit FormPrinter(QWidget* parent = nullptr, pp::Window* window = nullptr);
    ~FormPrinter() override;

    // The Print command: shown modally for `sheet` (its selected part number is the one
    // column); returns when the dialog is hidden. PRINT and Preview report on `sheet` as it
    // stands when they are pressed (an upload may end while the dialog is open), so it must
    // outlive the dialog.
    void run(const pp::Sheet& sheet);

    // A copy of `sheet` for PRINT and Preview to report on, without showing the dialog.
    void setSheet(const pp::Sheet& sheet);

    // Fills the printer list; only the first call does anything, so the list keeps the
    // printers of the first showing and its selection between showings.
    void load();

    enum class Outcome { Printed, Cancelled, Failed };
    // Prints one part column per sheet (the system block from the first), on as many pages
    // as the columns take, on the entry chosen in the list; what PRINT does. A failure has been
    // reported when this returns Failed; Cancelled means the PDF file choice was cancelled.
    Outcome printSheets(const std::vector<pp::Sheet>& columns);

    // "Print All Parts": the columns, one sheet per part number, gathered by the caller
    // (uploads with progress and cancel); nullopt when the user cancelled. Without a
    // source the option stays disabled.
    using AllPartsSource = std::function<std::optional<std::vector<pp::Sheet>>()>;
    void setAllPartsSource(AllPartsSource source);

    // The name Print to PDF offers for a report of `sheet` (the first column's): the default
    // parameter-file name with ".pdf" (empty when the sheet has no part number or serial
    // number).
    QString suggestedPdfName(const pp::Sheet& sheet) const;

    // Hooks that replace the modal parts, for tests and embedding. The chooser is given the
    // name the dialog would offer; it returns the path, empty for cancelled.
    using PdfPathChooser = std::function<QString(const QString& suggested)>;
    void setPdfPathChooser(PdfPathChooser chooser) { choosePdfPath_ = std::move(chooser); }
    using MessageHook = std::function<void(const QString& text)>;
    void setMessageHook(MessageHook hook) { messageHook_ = std::move(hook); }
    using Clock = std::function<std::tm()>; // local time of printing
    void setClock(Clock clock) { clock_ = std::move(clock); }

    // cmdPrint and cmdCancel.
    void cmdPrint_Click();
    void cmdCancel_Click();
    void cmdPreview_Click();

private:
    // The printer for the chosen entry; nullptr with `cancelled` set when the PDF file
    // choice was cancelled, nullptr alone when there is no usable printer.
    std::unique_ptr<QPrinter> chosenPrinter(bool& cancelled, const pp::Sheet& named);
    QString askPdfPath(const QString& suggested);
    // The sheet on screen, or every part gathered for "Print All Parts"; nullopt when the
    // gathering was cancelled or failed (and has said why).
    std::optional<std::vector<pp::Sheet>> columns();
    void message(const QString& text);
    std::tm now() const;

    QLabel* label1_ = nullptr;
    QComboBox* combo1_ = nullptr;
    QRadioButton* optAllParts_ = nullptr;
    QRadioButton* optCurrentPart1_ = nullptr;
    QPushButton* cmdPrint_ = nullptr;
    QPushButton* cmdPreview_ = nullptr;
    QPushButton* cmdCancel_ = nullptr;

    pp::Window* window_ = nullptr;
    const pp::Sheet& current() const; // what PRINT and Preview report on
    std::optional<pp::Sheet> sheet_;
    const pp::Sheet* live_ = nullptr;
    AllPartsSource allParts_;
    PdfPathChooser choosePdfPath_;
    MessageHook messageHook_;
    Clock clock_;
    QString lastPdfPath_;
    bool loaded_ = false;
};

// The main window's Print command: the one FormPrinter child of `parent`, created on first
// use with the window's message boxes.
FormPrinter* printDialogFor(QWidget* parent, pp::Window* window = nullptr);
void showPrintDialog(const pp::Sheet& sheet, QWidget* parent, pp::Window* window = nullptr);

} // namespace pp::ui
