// The parameter file reader on any bytes, over a sheet in any state, and the writer with a
// disk that fails. Input: lines of steps (see applyStep) that bring the sheet into a state,
// a NUL, one byte of choices, then the file's bytes.
//
// Checks: a read either commits a whole sheet or leaves it exactly as it was; sliders stay in
// range; a sheet that was read can be saved, and the saved file reads back and saves to the
// same bytes; a failed save leaves the old file whole and no temporary behind.
#include "fakes.h"
#include "files/param_file.h"
#include "fuzz_support.h"

using namespace pp;
using namespace pp::fuzz;
using pp::test::FakeWindow;

namespace {

const std::string Folder = "/qx";
const std::string InPath = Folder + "/in.QX";
const std::string OutPath = Folder + "/out.QX";
const std::string OldContent = "\"old\"\r\n";

bool shown(const FakeWindow& window, std::string_view text) {
    for (const auto& m : window.messages)
        if (m.text == text)
            return true;
    return false;
}

bool holdsQuote(const Sheet& sheet) {
    bool quote = sheet.partSelection().find('"') != std::string::npos;
    for (const SysRow& r : systemCatalogue())
        quote = quote || sheet.text(r.id).find('"') != std::string::npos;
    for (const PartRow& r : partCatalogue())
        quote = quote || sheet.text(r.id).find('"') != std::string::npos;
    return quote;
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

    Input in(all.substr(nul + 1));
    const uint8_t choices = in.byte();
    const std::string_view content = in.rest();

    MemoryFileSystem fs;
    fs.folders.insert(Folder);
    fs.files[InPath] = std::string(content);

    FakeWindow window;
    window.yesNoDefault = choices & 1 ? Answer::Yes : Answer::No;
    const Sheet before = sheet;
    const bool read = ReadParamFile(sheet, InPath, window, fs);
    checkSliders(sheet);
    checkGeneration(sheet);
    if (!read) {
        if (!(sheet == before))
            fail("a failed read changed the sheet");
        PP_CHECK(shown(window, ErrorReadingFile));
        PP_CHECK(window.status() == FileErrorStatus);
        return 0;
    }
    PP_CHECK(sheet.generation() != Generation::None);
    PP_CHECK(sheet.commands.partTab);
    encodeAll(sheet);
    if (systemOnlyFile(content)) {
        // The system parameters alone: the part sheet stays empty and nothing is offered to
        // save (Save and Save As wait for a part, as after a system upload).
        PP_CHECK(!sheet.commands.save && !sheet.commands.saveAs);
        PP_CHECK(sheet.text(Part::CustCode).empty());
        return 0;
    }
    PP_CHECK(sheet.commands.save);

    // What was read can be saved and opened again. A text the writer cannot quote (a stray
    // double quote in an unquoted field) comes back without what follows the quote, so the
    // file settles after one more save; from then on saving and opening change nothing.
    const std::string saved = ParamFileText(sheet);
    auto reopen = [&](const std::string& text) {
        fs.files[OutPath] = text;
        Sheet reopened = sheet;
        FakeWindow quiet;
        quiet.yesNoDefault = Answer::No;
        if (!ReadParamFile(reopened, OutPath, quiet, fs))
            fail("a saved file does not open again:", text);
        checkSliders(reopened);
        return ParamFileText(reopened);
    };
    const std::string settled = reopen(saved);
    if (!holdsQuote(sheet) && settled != saved)
        fail("a saved file opens to another sheet:", saved);
    if (reopen(settled) != settled)
        fail("a saved file opens to another sheet:", settled);

    // A save that fails at any point keeps the old file whole and leaves nothing behind.
    fs.files.erase(InPath);
    fs.files[OutPath] = OldContent;
    fs.failWriteAt = choices & 2 ? 0 : -1;
    fs.failReplace = (choices & 4) != 0;
    FakeWindow saving;
    const bool written = WriteParamFile(sheet, OutPath, saving, fs);
    PP_CHECK(fs.files.size() == 1 && fs.files.count(OutPath), "a temporary was left behind");
    if (written) {
        // Only a file that reads back as it was written is ever written.
        PP_CHECK(fs.files[OutPath] == saved);
        PP_CHECK(!unstorableField(sheet), "a text the format cannot hold was written");
        if (reopen(saved) != saved)
            fail("a written file reads back as another sheet:", saved);
    } else {
        PP_CHECK(fs.files[OutPath] == OldContent, "a failed save damaged the old file");
        PP_CHECK(shown(saving, ErrorWritingFile));
        PP_CHECK(saving.status().rfind(FileErrorStatus, 0) == 0);
    }
    return 0;
}
