#include "entry_sheet.h"

#include "files/param_file.h"

namespace pp::history {

bool applyEntry(Sheet& sheet, const Entry& entry, Window& window) {
    if (!entry.file)
        return false;
    return entry.scope == Scope::System ? applySystemFileText(sheet, *entry.file, window)
                                        : applyParamFileText(sheet, *entry.file, window);
}

bool openEntry(Sheet& sheet, const Entry& entry, Window& window) {
    Sheet work = sheet;
    if (!applyEntry(work, entry, window)) {
        window.message(ErrorReadingFile);
        window.setStatus(FileErrorStatus);
        return false;
    }
    sheet = std::move(work);
    sheet.filePath.clear();
    sheet.commands.save = false;
    return true;
}

} // namespace pp::history
