// A history entry's file text back on a sheet (Open in Editor, the comparisons, the command
// line's diff), over a sheet in any state; and the entry written as a JSON line. Input: lines
// of steps (see applyStep) that bring the sheet on screen into a state, a NUL, one byte of
// choices (bit 0: a part entry, else a system entry; bit 1: the conversion answered Yes), then
// the entry's file text.
//
// Checks: opening either commits a whole sheet, belonging to no file, or leaves the sheet on
// screen exactly as it was; sliders stay in range; a system entry leaves the part values empty
// and the part selection as it was; what was opened, recorded again, opens to the same sheet;
// a JSON line is valid UTF-8 without a raw control character, whatever the bytes; the file text
// read as stored findings encodes back to itself when it reads as findings at all, and findings
// always read back as they were written.
#include "fakes.h"
#include "files/param_file.h"
#include "fuzz_support.h"
#include "history/entry_sheet.h"
#include "history/formats.h"
#include "history/recording.h"

using namespace pp;
using namespace pp::fuzz;
using pp::test::FakeWindow;

namespace {

bool validJsonText(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20)
            return false;
        size_t n = c < 0x80 ? 1 : c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 ? 2 : 0;
        if (n == 0 || i + n > s.size())
            return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xc0) != 0x80)
                return false;
        i += n;
    }
    return true;
}

// What the recorder stores for a sheet.
std::string recorded(const Sheet& sheet, history::Scope scope) {
    return history::recordedFile(sheet, scope);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const size_t nul = all.find('\0');
    if (nul == std::string_view::npos)
        return 0;

    Sheet sheet;
    Input steps(all.substr(0, nul));
    while (!steps.empty())
        applyStep(sheet, steps.line());
    sheet.filePath = "on-screen.QX";

    Input in(all.substr(nul + 1));
    const uint8_t choices = in.byte();
    history::Entry entry;
    entry.scope = choices & 1 ? history::Scope::Part : history::Scope::System;
    entry.file = std::string(in.rest());
    entry.result = entry.file->substr(0, 40);
    entry.reason = entry.file->substr(0, 80);
    entry.findings = history::findingsFrom(*entry.file);
    const std::string stored = history::findingsText(entry.findings);
    const bool unreadable = entry.findings.size() == 1 && entry.findings[0].basis == "?" &&
                            entry.findings[0].before == *entry.file;
    if (!unreadable && stored != *entry.file)
        fail("findings that read but encode to another text:", *entry.file);
    if (unreadable && stored == *entry.file)
        fail("an unreadable findings text that encodes to itself:", *entry.file);
    PP_CHECK(history::findingsFrom(stored) == entry.findings, "findings that do not read back");
    // A signature that reads is the one text that encodes it: the entry's hash covers no other.
    if (const auto signature = history::signatureFrom(*entry.file)) {
        if (history::signatureText(*signature) != *entry.file)
            fail("a signature that reads but encodes to another text:", *entry.file);
        entry.signature = signature;
    }

    PP_CHECK(validJsonText(history::jsonLine(entry)), "a JSON line that is not valid text");

    FakeWindow window;
    window.yesNoDefault = choices & 2 ? Answer::Yes : Answer::No;
    const Sheet before = sheet;
    const bool opened = history::openEntry(sheet, entry, window);
    checkSliders(sheet);
    checkGeneration(sheet);
    if (!opened) {
        if (!(sheet == before))
            fail("a failed open changed the sheet");
        PP_CHECK(window.status() == FileErrorStatus);
        return 0;
    }
    PP_CHECK(sheet.filePath.empty() && !sheet.commands.save, "an entry opened as a file");
    PP_CHECK(sheet.generation() != Generation::None);
    if (entry.scope == history::Scope::System) {
        PP_CHECK(sheet.partSelection() == before.partSelection(), "the part selection moved");
        for (const PartRow& r : partCatalogue())
            if (!sheet.text(r.id).empty())
                fail("a system entry brought a part value:", r.stem);
    }
    encodeAll(sheet);

    // Recorded again after a transfer of this sheet, the entry opens to the same texts (the
    // file reader's quoting aside, which the parameter file target covers).
    history::Entry again = entry;
    again.file = recorded(sheet, entry.scope);
    Sheet reopened = before;
    FakeWindow quiet;
    quiet.yesNoDefault = Answer::No;
    if (!history::openEntry(reopened, again, quiet))
        fail("a recorded entry does not open again:", *again.file);
    const std::string settled = recorded(reopened, entry.scope);
    history::Entry third = entry;
    third.file = settled;
    Sheet last = before;
    PP_CHECK(history::openEntry(last, third, quiet));
    if (recorded(last, entry.scope) != settled)
        fail("a recorded entry opens to another sheet:", settled);
    return 0;
}
