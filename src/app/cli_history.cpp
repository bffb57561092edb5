// paramporter-cli history: the recorded transfers listed, checked, exported and compared, this
// PC's or (--server) the plant's; this PC's queue forwarded (--push) or counted (--status).
// Opens the history read-only, except for marking forwarded entries; a missing file holds no
// entries.
#include "app/cli_history.h"
#include "app/cli_session.h"
#include "app/terminal.h"
#include "files/param_file.h"
#include "history/entry_sheet.h"
#include "history/formats.h"
#include "history/forwarder.h"
#include "history/plant_copy.h"
#include "history/server.h"
#include "history/signing.h"
#include "history/store.h"
#include "qt/plant_policy.h"
#include "sheet/compare.h"

#include <chrono>
#include <map>
#include <ostream>

namespace pp::cli {

namespace {

using pp::history::Entry;
using pp::history::Store;

class HistoryCommand {
public:
    HistoryCommand(const Options& options, Context& context) : o_(options), c_(context) {}

    int run(const std::string& path) {
        if (o_.push || o_.forwardStatus)
            return queue(path);
        if (o_.approveId || o_.revoke)
            return mark(path);
        if (!o_.server.empty()) {
            pp::history::Limits limits;
            limits.connectTimeoutMs = ServerWaitMs;
            limits.answerTimeoutMs = ServerWaitMs;
            if (!plant_.open(o_.server, limits)) {
                c_.err << Program << plant_.error() << '\n';
                return ExitUsage;
            }
            plantOpen_ = true;
        } else if (!store_.open(path, Store::Mode::ReadOnly) && !store_.missing()) {
            c_.err << store_.error() << '\n';
            return ExitUsage;
        }
        if (o_.verifyHistory)
            return verify(path);
        if (o_.exportId)
            return exportEntry();
        if (o_.diffFirst)
            return diff();
        return list();
    }

private:
    static constexpr int ServerWaitMs = 30000;

    // --push and --status: this PC's entries the history server does not hold yet.
    int queue(const std::string& path) {
        const std::string& uri = c_.historyServer;
        if (o_.push && uri.empty()) {
            c_.err << Program
                   << "no history server configured (--history-server URI, "
                      "PARAMPORTER_HISTORY_SERVER or the window's SetUp > History Server...)\n";
            return ExitUsage;
        }
        pp::history::Forwarder forwarder(path, uri);
        if (o_.forwardStatus) {
            const pp::history::ForwardResult r = forwarder.status();
            if (!r.error.empty()) {
                c_.err << r.error << '\n';
                return ExitUsage;
            }
            c_.out << pp::history::unforwardedText(r.queued) << '\n';
            if (uri.empty())
                c_.out << "No history server is configured.\n";
            else if (!r.lastError.empty())
                c_.out << "Last error: " << r.lastError << '\n';
            c_.out << std::flush;
            return ExitOk;
        }
        pp::history::Limits limits;
        limits.connectTimeoutMs = ServerWaitMs;
        limits.answerTimeoutMs = ServerWaitMs;
        forwarder.setLimits(limits);
        const pp::history::ForwardResult r = forwarder.forward();
        tellForwarded(r, c_.err);
        if (!r.done) {
            c_.err << NotForwarded << r.error << '\n';
            return ExitLink;
        }
        c_.out << r.forwarded << (r.forwarded == 1 ? " history entry" : " history entries")
               << " forwarded\n"
               << std::flush;
        std::string why;
        if (!pp::history::copyPlantState(path, uri, limits, why))
            c_.err << Program << "the plant's approvals were not copied: " << why << '\n';
        return ExitOk;
    }

    // --approve and --revoke: an entry of this PC's history, forwarded as the others. With
    // --server the subject or the approval in force is the plant's. Where a history server is
    // configured the approver signs it there, with their own plant login and password typed in
    // on the terminal; without one it is this PC's alone (unsigned, local).
    int mark(const std::string& path) {
        using namespace pp::history;
        const bool plant = !o_.server.empty();
        const bool signing = !c_.historyServer.empty();
        if (plant && !signing) {
            c_.err << Program
                   << "the approval or revocation is recorded in this PC's history and forwarded "
                      "from there, but no history server is configured (--history-server URI, "
                      "PARAMPORTER_HISTORY_SERVER or the window's SetUp > History Server...)\n";
            return ExitUsage;
        }
        // Where it is signed, the approval in force is the plant's; the history server's when
        // no other is named.
        const std::string& plantUri = plant ? o_.server : c_.historyServer;
        if (signing && !plant_.open(plantUri, serverLimits())) {
            c_.err << Program << plant_.error() << '\n';
            return ExitUsage;
        }
        const Scope scope = o_.scope == "part" ? Scope::Part : Scope::System;
        std::optional<Entry> made;
        Store store;
        std::string why;
        if (!signing) {
            // This PC's entry, approved and recorded in one step of the store.
            if (!store.open(path, Store::Mode::Existing))
                why = store.missing()
                          ? (o_.approveId ? "no history entry " + std::to_string(o_.approveId)
                                          : noApprovalText(o_.serial, scope, o_.part))
                          : store.error();
            else if (o_.approveId)
                made = store.approve(o_.approveId, o_.meaning, o_.reason, policy(false));
            else
                made = store.revoke(o_.serial, scope, o_.part, o_.reason);
            if (!made && why.empty())
                why = store.error();
        } else if (o_.approveId) {
            std::optional<Entry> subject;
            if (plant) {
                if (const auto p = plant_.entry(o_.approveId))
                    subject = p->entry;
                else
                    why = plant_.error();
            } else if (store.open(path, Store::Mode::ReadOnly)) {
                subject = store.entry(o_.approveId);
                why = store.error();
                store.close();
            } else if (!store.missing()) {
                why = store.error();
            }
            // Who may approve whose values is the server's to tell, by person: a PC account
            // may be shared, or one person's on several PCs.
            PlantPolicy byPerson = policy(true);
            byPerson.approverNotAuthor = false;
            if (subject)
                made = approvalFrom(*subject, o_.meaning, o_.reason, why, byPerson);
            else if (why.empty())
                why = "no history entry " + std::to_string(o_.approveId);
        } else if (plant_.approval(o_.serial, scope, o_.part)) {
            made = revocationOf(o_.serial, scope, o_.part, o_.reason);
        } else {
            why =
                plant_.error().empty() ? noApprovalText(o_.serial, scope, o_.part) : plant_.error();
        }
        if (!made) {
            c_.err << Program << why << '\n';
            return ExitUsage;
        }
        if (signing) {
            if (const int failed = sign(*made, path); failed != ExitOk)
                return failed;
            if (!store.open(path) || !store.append(*made)) {
                c_.err << Program << "signed, but not recorded: " << store.error() << '\n';
                return ExitUsage;
            }
        }
        store.close();
        c_.out << listLine(*made) << '\n' << std::flush;
        if (signing)
            forwardBeforeExit(path, c_.historyServer, c_.err);
        return ExitOk;
    }

    // The approver's plant login (--login, else asked) and password (asked, not echoed), from
    // the terminal alone; the signature made with them at the history server.
    int sign(pp::history::Entry& made, const std::string& path) {
        std::string why;
        const auto ask = c_.ask ? c_.ask : decltype(c_.ask)(askTerminal);
        pp::history::Credentials as;
        if (!o_.login.empty()) {
            as.login = o_.login;
        } else if (const auto login = ask("Plant login: ", true, why)) {
            as.login = *login;
        } else {
            c_.err << Program << "not signed: " << why << '\n';
            return ExitUsage;
        }
        auto password = ask("Password for " + as.login + ": ", false, why);
        if (!password) {
            c_.err << Program << "not signed: " << why << '\n';
            return ExitUsage;
        }
        as.password = *password;
        pp::history::wipeSecret(*password);
        const pp::history::SignResult signedAs =
            pp::history::signAtPlant(made, path, c_.historyServer, as, serverLimits());
        if (!signedAs.signedOk) {
            c_.err << Program << "not signed: " << signedAs.why << '\n';
            return signedAs.refused ? ExitUsage : ExitLink;
        }
        return ExitOk;
    }

    pp::history::Limits serverLimits() const {
        pp::history::Limits limits;
        limits.connectTimeoutMs = ServerWaitMs;
        limits.answerTimeoutMs = ServerWaitMs;
        return limits;
    }

    // The plant's settings where there is a plant (--server, else the history server); this
    // PC's where there is none or it cannot be read.
    pp::history::PlantPolicy policy(bool plant) {
        if (!plant)
            return plantPolicy(c_.historyServer, historyPath(o_, c_), c_.err);
        if (const auto p = plant_.policy())
            return *p;
        c_.err << Program << "the plant's settings cannot be read (" << plant_.error()
               << "); this PC's are used\n";
        return pp::qt::localPlantPolicy();
    }

    int list() {
        if (plantOpen_) {
            pp::history::PlantFilter filter;
            filter.filter.serial = o_.serial;
            filter.filter.part = o_.part;
            filter.filter.action = pp::history::actionFromWord(o_.action);
            filter.host = o_.host;
            int64_t left = o_.limit;
            const bool listed = plant_.scan(filter, o_.json, [&](const pp::history::PlantEntry& p) {
                c_.out << (o_.json ? pp::history::plantJsonLine(p.entry, p.sourceHost, p.received,
                                                                p.login, p.refused)
                                   : pp::history::plantListLine(p.entry, p.sourceHost, p.refused))
                       << '\n';
                return static_cast<bool>(c_.out) && (o_.limit == 0 || --left > 0);
            });
            c_.out << std::flush;
            if (!listed) {
                c_.err << Program << plant_.error() << '\n';
                return ExitUsage;
            }
            return ExitOk;
        }
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

    int verify(const std::string& path) {
        if (plantOpen_) {
            const auto checked = plant_.verify();
            if (!checked) {
                c_.err << Program << plant_.error() << '\n';
                return ExitUsage;
            }
            return verdict(*checked);
        }
        pp::history::Verification checked;
        if (store_.isOpen()) {
            const auto read = store_.verify();
            if (!read) {
                c_.err << store_.error() << '\n';
                return ExitUsage;
            }
            checked = *read;
        }
        if (checked.firstBroken || c_.historyServer.empty())
            return verdict(checked);
        // The server holds what was forwarded: a tail removed or rewritten here shows there.
        store_.close();
        pp::history::Forwarder forwarder(path, c_.historyServer);
        pp::history::Limits limits;
        limits.connectTimeoutMs = ServerWaitMs;
        limits.answerTimeoutMs = ServerWaitMs;
        forwarder.setLimits(limits);
        const pp::history::Forwarder::Comparison compared = forwarder.compare();
        if (!compared.error.empty()) {
            verdict(checked);
            c_.err << Program << "history not compared with the history server: " << compared.error
                   << '\n';
            return ExitUsage;
        }
        if (compared.result.firstBroken)
            return verdict(compared.result);
        verdict(checked);
        c_.out << "the history server holds " << compared.onServer << " of them, the same\n"
               << std::flush;
        return ExitOk;
    }

    int verdict(const pp::history::Verification& checked) {
        if (checked.firstBroken != 0) {
            // Every break where the check went on past the first (the plant's).
            std::vector<pp::history::Verification::Break> breaks = checked.breaks;
            if (breaks.empty())
                breaks.push_back({checked.firstBroken, checked.why});
            for (const auto& b : breaks)
                if (b.id > 0)
                    c_.out << "history broken at entry " << b.id << ": " << b.why << '\n';
                else
                    c_.out << "history broken: " << b.why << '\n';
            c_.out << std::flush;
            return ExitBroken;
        }
        c_.out << "history intact: " << checked.entries << " entries\n" << std::flush;
        return ExitOk;
    }

    // The entry with its file, or the reason on standard error.
    std::optional<Entry> entryWithFile(long long id) {
        std::optional<Entry> e;
        if (plantOpen_) {
            if (auto p = plant_.entry(id))
                e = std::move(p->entry);
        } else if (store_.isOpen()) {
            e = store_.entry(id);
        }
        if (!e) {
            if (plantOpen_ && !plant_.error().empty())
                c_.err << Program << plant_.error() << '\n';
            else if (store_.isOpen() && !store_.error().empty())
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

    // The entry with the sheet its file makes, as diff reads a file; or the reason on
    // standard error.
    struct Read {
        Entry entry;
        pp::Sheet sheet;
    };
    std::optional<Read> readEntry(long long id) {
        std::optional<Entry> e = entryWithFile(id);
        if (!e)
            return std::nullopt;
        Read read{std::move(*e), {}};
        pp::history::QuietWindow window;
        if (!pp::history::applyEntry(read.sheet, read.entry, window)) {
            c_.err << pp::ErrorReadingFile << '\n' << Program << "history entry " << id << '\n';
            return std::nullopt;
        }
        return read;
    }

    int exportEntry() {
        // Never a file that would not read back (an entry edited by hand).
        const std::optional<Read> read = readEntry(o_.exportId);
        if (!read)
            return ExitUsage;
        if (!pp::replaceFileContent(*c_.fs, o_.file, *read->entry.file)) {
            c_.err << pp::ErrorWritingFile << '\n' << Program << o_.file << '\n';
            return ExitUsage;
        }
        return ExitOk;
    }

    int diff() {
        pp::Sheet sheets[2];
        const long long ids[2] = {o_.diffFirst, o_.diffSecond};
        for (int i = 0; i < 2; ++i) {
            std::optional<Read> read = readEntry(ids[i]);
            if (!read)
                return ExitUsage;
            sheets[i] = std::move(read->sheet);
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
    pp::history::Plant plant_;
    bool plantOpen_ = false;
};

} // namespace

int runHistory(const Options& options, Context& context, const std::string& path) {
    return HistoryCommand(options, context).run(path);
}

int runPlant(const Options& options, Context& context) {
    const std::string& uri = options.server.empty() ? context.historyServer : options.server;
    if (uri.empty()) {
        context.err << Program << "plant needs --server URI (an administrator's login)\n";
        return ExitUsage;
    }
    pp::history::Limits limits;
    limits.connectTimeoutMs = 30000;
    limits.answerTimeoutMs = 30000;
    pp::history::Plant plant;
    const auto bound = plant.open(uri, limits) ? plant.registerPc(options.registerPc, options.login)
                                               : std::nullopt;
    if (!bound) {
        context.err << Program << "the PC was not registered: " << plant.error() << '\n';
        return ExitUsage;
    }
    context.out << "PC " << pp::history::terminalText(options.registerPc)
                << " registered with the login " << pp::history::terminalText(options.login);
    if (*bound > 0)
        context.out << "; " << *bound << (*bound == 1 ? " history" : " histories")
                    << " the server held from it bound to it";
    context.out << '\n' << std::flush;
    return ExitOk;
}

} // namespace pp::cli
