#include "recording.h"

#include "files/param_file.h"
#include "link/frames.h"
#include "link/status_texts.h"

#include <cstdlib>

#ifdef _WIN32
#include "files/native.h"

#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace pp::history {

std::optional<Entry> entryFor(const Session& session, Outcome outcome, const std::string& status) {
    if (outcome == Outcome::LocalRefusal || outcome == Outcome::OpenFailed)
        return std::nullopt;
    const ExchangeInfo& exchange = session.exchange();
    Entry e;
    switch (exchange.kind) {
    case ExchangeKind::SystemUpload:
        e.action = Action::Upload;
        e.scope = Scope::System;
        break;
    case ExchangeKind::PartUpload:
        e.action = Action::Upload;
        e.scope = Scope::Part;
        break;
    case ExchangeKind::SystemDownload:
        e.action = Action::Download;
        e.scope = Scope::System;
        break;
    case ExchangeKind::PartDownload:
        e.action = Action::Download;
        e.scope = Scope::Part;
        break;
    default:
        return std::nullopt;
    }
    if (e.action == Action::Download)
        e.reason = exchange.reason;
    // Uploads: the values received; downloads: the values sent.
    const Sheet& sheet = e.action == Action::Upload ? session.sheet() : session.sent();
    // Two digits, as the frame carries it, whatever was typed into the part box ("5").
    if (e.scope == Scope::Part)
        e.part = ZeroPad(exchange.partNumber, 2);
    const bool worked = session.succeeded(outcome);

    // The instrument talked to: a system record received names it; otherwise it is what the
    // starter was told by a read just before. Never the sheet's serial number, which may have
    // come from another instrument or a file: without a read it stays unknown (empty).
    if (e.action == Action::Upload && e.scope == Scope::System && worked) {
        e.serial = sheet.text(Sys::Serial);
        e.generation = std::string(generationWord(sheet.generation()));
    } else if (exchange.instrument) {
        e.serial = exchange.instrument->serial;
        e.generation = std::string(generationWord(exchange.instrument->generation));
    } else {
        e.generation = std::string(generationWord(sheet.generation()));
    }
    if (worked)
        e.result = std::string(Success);
    else if (!status.empty() && status != text::Success)
        e.result = status;
    else if (outcome == Outcome::NoResponse)
        e.result = std::string(text::NoResponse);
    else
        e.result = std::string(text::UnexpectedAnswer);

    if (e.action == Action::Upload && !worked)
        return e; // nothing was received worth keeping
    if (e.action == Action::Download && !worked)
        e.stoppedAtField = session.downloadFieldTried();

    e.file = recordedFile(sheet, e.scope);
    return e;
}

std::string recordedFile(const Sheet& sheet, Scope scope) {
    // A system transfer leaves the part values empty; its part number means nothing either.
    bool partValues = false;
    for (const PartRow& r : partCatalogue())
        partValues = partValues || !sheet.text(r.id).empty();
    if (scope == Scope::Part && partValues)
        return ParamFileText(sheet);
    Sheet kept = sheet;
    kept.setPartSelection({});
    return ParamFileText(kept);
}

std::string accountName() {
#ifdef _WIN32
    // From the logon session, in wide characters: %USERNAME% can be set to anything, and the
    // narrow calls garble a name like "Jürgen" outside the system's code page.
    wchar_t name[257] = {}; // UNLEN + 1
    DWORD size = 257;
    if (GetUserNameW(name, &size))
        return utf8FromWide(name);
    return environmentText("USERNAME");
#else
    // $USER is often unset (services, cron, sudo); the account database always knows.
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name)
        return pw->pw_name;
    const char* name = std::getenv("USER");
    return name ? name : std::to_string(::geteuid());
#endif
}

std::string hostName() {
#ifdef _WIN32
    // The DNS host name, as gethostname gives it on Linux; the NetBIOS name where there is none.
    for (const COMPUTER_NAME_FORMAT format : {ComputerNameDnsHostname, ComputerNameNetBIOS}) {
        wchar_t name[256] = {};
        DWORD size = 256;
        if (GetComputerNameExW(format, name, &size) && size > 0)
            return utf8FromWide(name);
    }
    return environmentText("COMPUTERNAME");
#else
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
#endif
}

} // namespace pp::history
