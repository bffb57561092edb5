#include "history/signing.h"

#include "history/forwarder.h"
#include "history/store.h"

namespace pp::history {

namespace {

constexpr auto text = &Connection::text;
constexpr auto bytes = &Connection::bytes;
constexpr auto textOrNull = &Connection::textOrNull;

} // namespace

void wipeSecret(std::string& secret) {
    volatile char* p = secret.data();
    for (size_t i = 0; i < secret.size(); ++i)
        p[i] = 0;
    secret.clear();
}

SignResult signAtPlant(Entry& mark, const std::string& historyPath, const std::string& uri,
                       Credentials& as, const Limits& limits) {
    SignResult r;
    if (mark.action != Action::Approve && mark.action != Action::Revoke) {
        r.why = "only an approval or a revocation is signed";
        return r;
    }
    if (as.login.empty() || as.password.empty()) {
        wipeSecret(as.password);
        r.refused = true;
        r.why = "a signature needs the approver's plant login and password";
        return r;
    }
    // The signature is for this PC's history alone: the installation its entry will carry.
    std::string source;
    {
        Store store;
        const auto next = store.open(historyPath) ? store.nextSource() : std::nullopt;
        if (!next) {
            wipeSecret(as.password);
            r.why = "History not recorded: " + store.error();
            return r;
        }
        source = *next;
    }
    // What is approved must be on the server first; a forward that stops is said only when
    // the server then lacks it.
    Forwarder forwarder(historyPath, uri);
    forwarder.setLimits(limits);
    const ForwardResult forwarded = forwarder.forward();
    forwarder.close();

    // A login without the approver role may not call sign(), nor read the schema at all.
    const auto noApprover = [&r, &as](const std::string& error) {
        r.refused = error.find("permission denied") != std::string::npos;
        r.why = r.refused ? "the login " + as.login +
                                " may not sign: plant IT grants paramporter_approver to the "
                                "people who approve"
                          : error;
        return r;
    };
    Connection c;
    const bool opened = c.open(uri, limits, as);
    wipeSecret(as.password);
    if (!opened)
        return noApprover(c.error());
    const auto rows = c.exec(
        "SELECT given, refusal FROM paramporter.sign(p_action => $1, p_serial => $2, "
        "p_scope => $3, p_part => $4, p_meaning => $5, p_subject_hash => $6, p_file_hash => $7, "
        "p_reason => $8, p_source => $9::uuid)",
        {text(std::string(actionWord(mark.action))), bytes(mark.serial),
         text(std::string(scopeWord(mark.scope))),
         textOrNull(mark.scope == Scope::Part ? mark.part : std::string()),
         textOrNull(mark.meaning), textOrNull(mark.subjectHash),
         textOrNull(mark.file ? sha256Hex(*mark.file) : std::string()), bytes(mark.reason),
         text(source)});
    if (!rows)
        return noApprover(c.error());
    if (rows->size() != 1 || rows->front().size() != 2) {
        r.why = "the history server gave no signature";
        return r;
    }
    const auto& row = rows->front();
    if (row[1]) {
        r.refused = true;
        r.why = *row[1];
        if (!forwarded.done && !forwarded.error.empty())
            r.why += " (this PC's history was not forwarded: " + forwarded.error + ")";
        return r;
    }
    const auto signature = row[0] ? signatureFrom(*row[0]) : std::nullopt;
    if (!signature || signature->login.empty()) {
        r.why = "the history server gave no signature";
        return r;
    }
    mark.signature = *signature;
    r.signedOk = true;
    return r;
}

} // namespace pp::history
