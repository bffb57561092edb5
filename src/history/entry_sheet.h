// An entry's parameters back on a sheet: what Open in Editor, the comparisons and the command
// line's diff read. A system entry carries no part values (a system transfer empties them), so
// only its system parameters are applied.
#pragma once

#include "history/entry.h"
#include "link/platform.h"
#include "sheet/sheet.h"

namespace pp::history {

// Applies the entry's file to `sheet` (false when it has none or it does not read; `sheet` is
// then part-way applied: callers pass a copy). Asks the conversion question through `window`
// for a file of the older layout, as opening a file does.
bool applyEntry(Sheet& sheet, const Entry& entry, Window& window);

// Open in Editor: as opening a parameter file, on a copy committed only when the whole entry
// applied; the sheet then belongs to no file, so Save asks for a name. A failure shows "Error
// reading file", sets "File Error" and leaves the sheet as it was.
bool openEntry(Sheet& sheet, const Entry& entry, Window& window);

// Entries read only to be looked at or compared, as diff reads a file: the conversion question
// is answered No without asking, and messages go nowhere.
using QuietWindow = pp::QuietWindow;

} // namespace pp::history
