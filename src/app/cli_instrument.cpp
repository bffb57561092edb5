// paramporter-cli's commands at one instrument: read, write, mode, parts and verify.
#include "app/cli_instrument.h"

#include "app/cli_session.h"

#include "files/param_file.h"
#include "link/mode.h"
#include "link/status_texts.h"
#include "sheet/baseline.h"
#include "sheet/catalogue.h"
#include "sheet/compare.h"

#include <ostream>

namespace pp::cli {

using namespace pp::text;

namespace {

// What the window would send, but the instrument would refuse or take for zeros: nothing goes
// out. ExitOk when the file may be sent.
int refuseFile(CliSession& s, const pp::Sheet& file, bool sendPart) {
    const Options& o = s.options();
    Context& c = s.context();
    // A file of the system parameters alone (an exported system entry) puts those back.
    if (o.partOnly && file.partSelection().empty()) {
        c.err << Program << o.file << ": the file holds no part parameters\n";
        return ExitUsage;
    }
    // The window would send these, and the instrument would refuse them: nothing goes out.
    if (sendPart && partNumberText(file.partSelection()) != file.partSelection()) {
        c.err << Program << o.file << ": part number \"" << file.partSelection()
              << "\" is not 1..32\n";
        return ExitUsage;
    }
    if (sendPart && file.text(pp::Part::CustCode).empty()) {
        c.err << EnterCustomerCode << '\n' << Program << o.file << '\n';
        return ExitUsage;
    }
    if (sendPart && pp::partValuesMissing(file)) {
        c.err << PartValuesMissing << '\n' << Program << o.file << '\n';
        return ExitUsage;
    }

    return ExitOk;
}

// The instrument takes values of its own generation only: the number of fields differs.
bool sameGeneration(CliSession& s, pp::Generation instrument, pp::Generation values,
                    bool earlierLayout) {
    if (instrument == values)
        return true;
    std::ostream& err = s.context().err;
    err << Program << "the instrument is " << pp::generationStatusText(instrument)
        << ", the values are for " << pp::generationStatusText(values) << "; nothing sent";
    if (earlierLayout && instrument == pp::Generation::V73)
        err << " (--convert yes sends the file converted)";
    else if (earlierLayout)
        err << " (--convert no sends the file as it is)";
    err << '\n';
    return false;
}

} // namespace

int readCommand(CliSession& s) {
    const Options& o = s.options();
    Context& c = s.context();
    if (!s.systemUpload() || !s.partUpload(o.part))
        return ExitLink;
    s.window().clear();
    if (!pp::WriteParamFile(s.sheet(), o.file, s.window(), *c.fs))
        return s.fileFailure(o.file);
    return ExitOk;
}

int writeCommand(CliSession& s) {
    const Options& o = s.options();
    Context& c = s.context();
    s.window().clear();
    pp::Sheet file;
    if (!pp::ReadParamFile(file, o.file, s.window(), *c.fs))
        return s.fileFailure(o.file);
    // A file of the earlier layout is read as it is unless --convert yes asks otherwise;
    // which of the two may go out is the instrument's generation's to say.
    const bool earlierLayout = s.window().conversionAsked;
    const bool systemOnlyFile = file.partSelection().empty();
    const bool sendSystem = !o.partOnly;
    const bool sendPart = !o.systemOnly && !systemOnlyFile;
    if (const int refused = refuseFile(s, file, sendPart); refused != ExitOk)
        return refused;

    // Why, for the history; the plant may want one for every download.
    if (o.reason.empty() &&
        plantPolicy(c.historyServer, s.history() ? s.history()->path() : std::string(), c.err)
            .reasonRequired) {
        c.err << Program << "the plant requires a reason for every download: give --reason TEXT\n";
        return ExitUsage;
    }
    s.session().setReason(o.reason);

    // Who is on the line, before anything is written: the history names the instrument
    // written, and the file's serial number, clock and calibration are not another's.
    std::optional<pp::qt::InstrumentRead> onLine = s.readInstrument();
    if (!onLine)
        return ExitLink;
    const pp::InstrumentIdentity instrument = *onLine->identity();
    if (!sameGeneration(s, instrument.generation, file.generation(), earlierLayout))
        return ExitUsage;
    const std::string& from = file.text(pp::Sys::Serial);
    const bool other = !pp::sameSerial(instrument.serial, from);
    if (sendSystem && !o.anyInstrument && other) {
        c.err << Program << "the instrument is serial " << instrument.serial
              << ", the file is from serial " << from
              << "; use --part-only to copy its part, or --any-instrument\n";
        return ExitUsage;
    }
    // A part copied onto another instrument keeps that instrument's calibration.
    if (sendPart && other && !o.anyInstrument) {
        onLine = s.readInstrument(&onLine->sheet, file.partSelection());
        if (!onLine)
            return ExitLink;
    }

    const Instrument on(s.session(), instrument);
    if (sendSystem) {
        s.sheet() = file;
        if (!s.exchange(
                "System download", [&s] { s.session().cmdSDDnLoad_Click(); },
                pp::Outcome::SystemDownloadEnd))
            return ExitLink;
    }
    if (!sendPart)
        return ExitOk;
    // The system download emptied the part sheet; the file's part values go out as read.
    s.sheet() = file;
    if (other && !o.anyInstrument)
        s.session().setOwnValues(onLine->sheet);
    const bool written = s.exchange(
        "Part download " + file.partSelection(), [&s] { s.session().cmdPartDnload_Click(); },
        pp::Outcome::PartDownloadEnd);
    s.session().setOwnValues(std::nullopt);
    return written ? ExitOk : ExitLink;
}

int modeCommand(CliSession& s) {
    const Options& o = s.options();
    Context& c = s.context();
    s.answers().mode.reset();
    const bool change = o.mode.has_value();
    const bool done = s.exchange(
        change ? "Change mode" : "Get current mode",
        [&s, &o, change] {
            if (change)
                s.session().requestModeChange(*o.mode);
            else
                s.session().requestMode();
        },
        pp::Outcome::ModeReport);
    if (!done)
        return ExitLink;
    const pp::ModeReport report = pp::readModeReport(s.answers().mode.value_or(std::string()));
    const std::string_view name = pp::modeName(report.digit);
    if (name.empty()) {
        c.err << UnexpectedAnswer << '\n';
        return ExitLink;
    }
    c.out << name << '\n' << std::flush;
    if (report.testRunning)
        c.err << TestInProgress << '\n';
    if (change && (report.testRunning || report.digit != *o.mode)) {
        if (!report.testRunning)
            c.err << CheckMode << '\n';
        return ExitLink;
    }
    return ExitOk;
}

int partsCommand(CliSession& s) {
    Context& c = s.context();
    const auto configured = s.partList();
    if (!configured)
        return ExitLink;
    std::string line;
    for (const std::string& pn : *configured)
        line += (line.empty() ? "" : " ") + pn;
    c.out << line << '\n' << std::flush;
    return ExitOk;
}

int verifyCommand(CliSession& s) {
    const Options& o = s.options();
    Context& c = s.context();
    pp::Sheet file;
    if (!s.readFile(o.file, file))
        return s.fileFailure(o.file);
    if (partNumberText(file.partSelection()) != file.partSelection()) {
        c.err << Program << o.file << ": part number \"" << file.partSelection()
              << "\" is not 1..32\n";
        return ExitUsage;
    }
    if (!s.systemUpload() || !s.partUpload(file.partSelection()))
        return ExitLink;
    // Settings copied from another instrument: its own values are not the file's to match.
    if (!pp::sameSerial(file.text(pp::Sys::Serial), s.sheet().text(pp::Sys::Serial))) {
        c.err << Program << "the instrument is serial " << s.sheet().text(pp::Sys::Serial)
              << ", the file is from serial " << file.text(pp::Sys::Serial)
              << ": its serial number, clock and calibration values are its own and not "
                 "compared\n";
        std::vector<pp::Difference> differences =
            pp::compareSettings(file, s.sheet(), pp::CompareGroup::System);
        for (pp::Difference& d : pp::compareSettings(file, s.sheet(), pp::CompareGroup::Part))
            differences.push_back(std::move(d));
        return s.printDifferences(differences);
    }
    return s.printDifferences(pp::compareSheets(file, s.sheet()));
}

} // namespace pp::cli
