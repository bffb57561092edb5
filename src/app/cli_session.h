// One run of a command that talks to an instrument: the window's own session on a port, with
// status panel 1 as a variable and message boxes written down, the history recorder, and the
// helpers every such command shares: one exchange waited for, its failure said on standard
// error, files read as the window reads them, differences printed, entries forwarded before
// the program exits.
#pragma once

#include "app/cli.h"
#include "app/cli_commands.h"

#include "history/entry.h"
#include "link/platform.h"
#include "link/session.h"
#include "qt/history_tap.h"
#include "qt/scratch_upload.h"
#include "qt/session_driver.h"
#include "qt/whole_instrument.h"
#include "sheet/compare.h"
#include "sheet/sheet.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pp::cli {

inline constexpr std::string_view Program = "paramporter-cli: ";

// Status panel 1 as a variable; message boxes are recorded, and the one question the
// session's users can ask here, the conversion, is answered from --convert.
class CliWindow : public pp::Window {
public:
    std::optional<bool> convert;
    bool conversionAsked = false;
    std::vector<std::string> messages;

    void setStatus(std::string_view text) override { status_ = text; }
    std::string status() const override { return status_; }
    pp::Answer message(std::string_view text, pp::Buttons buttons,
                       std::string_view caption) override;
    void clear() {
        messages.clear();
        status_.clear();
    }

private:
    std::string status_;
};

class ModeAnswers : public pp::ModeListener {
public:
    std::optional<std::string> mode;
    std::optional<std::string> list;
    void ProcessModeData(const std::string& buffer) override { mode = buffer; }
    void ProcessPartsList(const std::string& buf) override { list = buf; }
};

inline constexpr std::string_view NotForwarded = "History not forwarded yet: ";

// Tells the session who the exchanges started in this scope talk to.
class Instrument {
public:
    Instrument(pp::Session& session, std::optional<pp::InstrumentIdentity> identity)
        : session_(session) {
        session_.setInstrument(std::move(identity));
    }
    ~Instrument() { session_.setInstrument(std::nullopt); }
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

private:
    pp::Session& session_;
};

// --history wins over the environment and the default.
std::string historyPath(const Options& options, const Context& context);

// A transfer failed: the instrument did not do what was asked.
bool isFailure(pp::Outcome outcome);

class CliSession {
public:
    CliSession(const Options& options, Context& context);
    ~CliSession();
    CliSession(const CliSession&) = delete;
    CliSession& operator=(const CliSession&) = delete;

    const Options& options() const { return o_; }
    Context& context() { return c_; }
    pp::Sheet& sheet() { return sheet_; }
    CliWindow& window() { return window_; }
    ModeAnswers& answers() { return answers_; }
    pp::qt::SessionDriver& driver() { return driver_; }
    pp::Session& session() { return driver_.session(); }
    // The history this run records into; none when transfers are not recorded.
    pp::qt::HistoryTap* history() { return history_.get(); }

    // Every open goes to one device, so downloads (which assign no port number) use the same
    // port as uploads: --port, else the settings file's number.
    void choosePort();
    // A port of a round: "3" is COMM 3, anything else a device path.
    void usePort(const std::string& port);

    // Starts one exchange and waits on the event loop until the session ends it. True when it
    // did what was asked; otherwise says why (`expected`: the frame it waits for, whose arrival
    // with a failure means the session has said why).
    bool exchange(const std::string& label, const std::function<void()>& start,
                  pp::Outcome expected);
    bool systemUpload();
    // As the window does it: the part number is the selector's two-digit text. The part record
    // names no instrument: it is the one whose system record was read just before.
    bool partUpload(const std::string& partNumber);
    // Who is on the line (and, with `system`, what its part `partNumber` holds), read quietly
    // with the sheet of this run left as it is. The read is part of the transfer that follows,
    // which the history records; when it failed, that transfer does not begin (the reason has
    // been said).
    std::optional<pp::qt::InstrumentRead> readInstrument(const pp::Sheet* system = nullptr,
                                                         const std::string& partNumber = {});
    // The whole instrument on the line: its system record, its part-number list, every part
    // (`stop` says when a failed part ends it), each recorded with its findings and said as
    // the exchanges above say it. A system record or list that did not read has been reported.
    // `keepGoing`, asked before each step, false ends the read there (a deadline passed).
    pp::qt::WholeRead readWhole(pp::qt::SweepStop stop,
                                const std::function<bool()>& keepGoing = {});
    // The configured part numbers, the sheet's list made to match.
    std::optional<std::vector<std::string>> partList();

    // What the session and the files code showed of a failure, on standard error.
    void reportFailure(pp::Outcome outcome, pp::Outcome expected);
    // The texts the files code showed (its message boxes) and its status when that says more
    // than "File Error" (which parameter a file cannot hold), then which file: ExitUsage.
    int fileFailure(const std::string& path);
    // The findings of the last upload and the history's complaint, after the exchange's words.
    void printHistoryNote();
    // What the last failed exchange said, on one line.
    const std::string& lastFailure() const { return lastFailure_; }

    // Read as the window reads a file. The conversion question is answered from --convert: No
    // without it (a comparison converts nothing, and both layouts give the same texts).
    bool readFile(const std::string& path, pp::Sheet& into);
    // One line per difference; ExitDiffer when there is any.
    int printDifferences(const std::vector<pp::Difference>& differences);

    // Every transfer's entry of this run, in order, recorded or lost.
    const std::vector<pp::qt::HistoryTap::Observed>& observed() const { return observed_; }
    // "History not recorded: <reason>" once an entry of this run was lost; empty otherwise.
    const std::string& historyLost() const { return historyLost_; }
    // After the command's own words: what was recorded goes to the history server, if any.
    void forwardRecorded();

private:
    const Options& o_;
    Context& c_;
    pp::Sheet sheet_;
    CliWindow window_;
    ModeAnswers answers_;
    pp::qt::SessionDriver driver_;
    std::unique_ptr<pp::qt::HistoryTap> history_;
    std::string historyNote_;
    std::string foundNote_;
    std::string lastFailure_;
    std::vector<pp::qt::HistoryTap::Observed> observed_;
    std::string historyLost_;
    bool anyRecorded_ = false;
};

} // namespace pp::cli
