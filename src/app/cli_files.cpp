// paramporter-cli's commands on files alone: diff and report, and the PDF writer the report
// and the audit's report share.
#include "app/cli_files.h"

#include "app/cli_session.h"

#include "files/file_commands.h"
#include "files/param_file.h"
#include "report/report.h"
#include "report/report_painter.h"
#include "sheet/compare.h"

#include <QGuiApplication>
#include <QPdfWriter>

#include <ostream>

namespace pp::cli {

int diffCommand(CliSession& s) {
    const Options& o = s.options();
    pp::Sheet first;
    pp::Sheet second;
    if (!s.readFile(o.file, first))
        return s.fileFailure(o.file);
    if (!s.readFile(o.file2, second))
        return s.fileFailure(o.file2);
    return s.printDifferences(pp::compareSheets(first, second));
}

// The file as the window opens it (the conversion question answered from --convert, No
// without it), reported as the window prints it at `today`.
int reportCommand(CliSession& s) {
    const Options& o = s.options();
    Context& c = s.context();
    pp::Sheet file;
    s.window().clear();
    if (!pp::ReadParamFile(file, o.file, s.window(), *c.fs))
        return s.fileFailure(o.file);
    const pp::Report composed = pp::composeReport(file, c.today);
    if (o.output.empty()) {
        c.out << pp::reportText(composed) << std::flush;
        return ExitOk;
    }
    std::string why;
    const bool written =
        wantsPdf(o)
            ? writePdf(
                  *c.fs, o.output,
                  [&](QPagedPaintDevice& pdf) { return pp::PrintReport(composed, pdf); }, why)
            : pp::replaceFileContent(*c.fs, o.output, pp::reportText(composed));
    if (!written) {
        c.err << pp::ErrorWritingFile << '\n' << Program << o.output << why << '\n';
        return ExitUsage;
    }
    return ExitOk;
}

// A PDF writer cannot write through a save file: it renders into a temporary beside `path`,
// which replaces `path` only when the whole job succeeded. The temporary is the files' own
// (hidden, made as any new file is, cleared by a later write when a kill left it), not a
// QTemporaryFile: that one stays open until it goes, and Windows renames no open file.
bool writePdf(pp::FileSystem& fs, const std::string& path,
              const std::function<bool(QPagedPaintDevice&)>& paint, std::string& why) {
    // Fonts need a GUI application; main makes one for the commands that write a PDF.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        why = ": a PDF needs a GUI application";
        return false;
    }
    const std::optional<std::string> temporary = fs.createTemporary(path);
    if (!temporary)
        return false;
    bool printed = false;
    {
        // As the window's Print to PDF: A4 at 1200 dpi, 10 mm margins. The writer's file is
        // closed when it goes.
        QPdfWriter writer(QString::fromStdString(*temporary));
        writer.setResolution(1200);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
        printed = paint(writer);
    }
    if (printed && fs.replace(*temporary, path))
        return true;
    fs.remove(*temporary);
    return false;
}

} // namespace pp::cli
