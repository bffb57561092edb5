// paramporter-cli history: the recorded transfers listed, checked, exported and compared. Reads
// the history only; a file that is missing holds no entries.
#include "app/cli_commands.h"
#include "files/param_file.h"
#include "history/entry_sheet.h"
#include "history/formats.h"
#include "history/store.h"
#include "sheet/compare.h"

#include <ostream>

namespace pp::cli {

namespace {

using pp::history::Entry;
using pp::history::Store;

constexpr std::string_view Program = "paramporter-cli: ";

// An entry is read as diff reads a file: the conversion question answered No.
class ReadingWindow : public pp::Window {
public:
    void setStatus(std::string_view) override {}
    std::string status() const override { return {}; }
    pp::Answer message(std::string_view, pp::Buttons buttons, std::string_view) override {
        return buttons == pp::Buttons::YesNo ? pp::Answer::No : pp::Answer::Ok;
    }
};

class HistoryCommand {
public:
    HistoryCommand(const Options& options, Context& context) : o_(options), c_(context) {}

    int run(const std::string& path) {
        if (!store_.open(path, Store::Mode::Existing) && !store_.missing()) {
            c_.err << store_.error() << '\n';
            return ExitUsage;
        }
        if (o_.verifyHistory)
            return verify();
        if (o_.exportId)
            return exportEntry();
        if (o_.diffFirst)
            return diff();
        return list();
    }

private:
    int list() {
        if (!store_.isOpen())
            return ExitOk; // nothing recorded yet
        pp::history::Filter filter;
        filter.serial = o_.serial;
        filter.part = o_.part;
        filter.action = pp::history::actionFromWord(o_.action);
        const bool listed = store_.scan(filter, o_.limit, 0, o_.json, [this](const Entry& e) {
            c_.out << (o_.json ? pp::history::jsonLine(e) : pp::history::listLine(e)) << '\n';
            return static_cast<bool>(c_.out);
        });
        c_.out << std::flush;
        if (!listed) {
            c_.err << store_.error() << '\n';
            return ExitUsage;
        }
        return ExitOk;
    }

    int verify() {
        if (!store_.isOpen()) {
            c_.out << "history intact: 0 entries\n" << std::flush;
            return ExitOk;
        }
        const auto checked = store_.verify();
        if (!checked) {
            c_.err << store_.error() << '\n';
            return ExitUsage;
        }
        if (checked->firstBroken) {
            c_.out << "history broken at entry " << checked->firstBroken << ": " << checked->why
                   << '\n'
                   << std::flush;
            return ExitBroken;
        }
        c_.out << "history intact: " << checked->entries << " entries\n" << std::flush;
        return ExitOk;
    }

    // The entry with its file, or the reason on standard error.
    std::optional<Entry> entryWithFile(long long id) {
        std::optional<Entry> e = store_.isOpen() ? store_.entry(id) : std::nullopt;
        if (!e) {
            if (store_.isOpen() && !store_.error().empty())
                c_.err << store_.error() << '\n';
            else
                c_.err << Program << "no history entry " << id << '\n';
            return std::nullopt;
        }
        if (!e->file) {
            c_.err << Program << "history entry " << id
                   << " holds no parameter file (the upload failed)\n";
            return std::nullopt;
        }
        return e;
    }

    int exportEntry() {
        const std::optional<Entry> e = entryWithFile(o_.exportId);
        if (!e)
            return ExitUsage;
        if (!pp::replaceFileContent(*c_.fs, o_.file, *e->file)) {
            c_.err << pp::ErrorWritingFile << '\n' << Program << o_.file << '\n';
            return ExitUsage;
        }
        return ExitOk;
    }

    int diff() {
        pp::Sheet sheets[2];
        const long long ids[2] = {o_.diffFirst, o_.diffSecond};
        for (int i = 0; i < 2; ++i) {
            const std::optional<Entry> e = entryWithFile(ids[i]);
            if (!e)
                return ExitUsage;
            ReadingWindow window;
            if (!pp::history::applyEntry(sheets[i], *e, window)) {
                c_.err << pp::ErrorReadingFile << '\n'
                       << Program << "history entry " << ids[i] << '\n';
                return ExitUsage;
            }
        }
        const auto differences = pp::compareSheets(sheets[0], sheets[1]);
        for (const pp::Difference& d : differences)
            c_.out << pp::differenceLine(d) << '\n';
        c_.out << std::flush;
        return differences.empty() ? ExitOk : ExitDiffer;
    }

    const Options& o_;
    Context& c_;
    Store store_;
};

} // namespace

int runHistory(const Options& options, Context& context, const std::string& path) {
    return HistoryCommand(options, context).run(path);
}

} // namespace pp::cli
