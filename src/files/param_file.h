// The parameter file: two or three lines of quoted display texts (a third line only for
// firmware V7.3), read back through the same editing rules a user's edits run.
#pragma once

#include "files/file_system.h"
#include "link/platform.h"
#include "sheet/sheet.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pp {

inline constexpr std::string_view ErrorWritingFile = "Error writing file";
inline constexpr std::string_view ErrorReadingFile = "Error reading file";
inline constexpr std::string_view FileErrorStatus = "File Error";
inline constexpr std::string_view ConvertQuestion =
    "The data in this file is for QX7400 V7.2 or earlier.\r"
    "Do you want to convert the data format to QX7400 V7.3 or later?";
inline constexpr std::string_view ConvertCaption = "Convert Data Format?";

// Fields of delimited text, taken one after the other whatever the lines: blanks before a
// field are skipped; a field starting with a double quote runs to the next double quote;
// any other field runs to the next comma or line end and loses its trailing blanks. A comma
// or a line end (CR LF, CR or LF) ends a field. An empty line holds no field, but a comma
// at the end of a line is followed by an empty one.
class FieldReader {
public:
    explicit FieldReader(std::string_view text) : text_(text) {}
    // The next field; nothing when the text has ended.
    std::optional<std::string> next();

private:
    void skipBlanks();
    void skipLineEnd();

    std::string_view text_;
    size_t pos_ = 0;
    bool afterComma_ = false;
};

// The file's bytes for the sheet as it stands. Texts are written as they are.
std::string ParamFileText(const Sheet& sheet);

// Applies a file's content to `sheet`, from clearing it to the initial flow check line.
// Asks the conversion question through `window` when the third line is missing or short.
// False at the first failure, with `sheet` part-way applied: callers pass a copy. A file of
// the system parameters alone (systemOnlyFile) is read as applySystemFileText reads it.
bool applyParamFileText(Sheet& sheet, std::string_view content, Window& window);

// Every field of the part line is empty: an exported system entry of the history.
bool systemOnlyFile(std::string_view content);

// The same for the text of a system transfer, whose part line is empty: the system parameters
// are applied, the part line is skipped and the part sheet left empty with its selection, as a
// system upload leaves it; Save and Save As are not offered (the file would not read back).
bool applySystemFileText(Sheet& sheet, std::string_view content, Window& window);

// Texts to apply to a sheet as the file reader applies its fields: each text, then its slider
// or option, with the editing rules running; system fields first, then the part number and
// the part fields, each in the reader's order (the time base before the times, the
// compensation inputs before the values they limit). The option code is decoded as a file's.
struct FieldTexts {
    std::vector<std::pair<Sys, std::string>> system;
    std::optional<std::string> partNumber;
    std::vector<std::pair<Part, std::string>> part;
};

// False at the first text that gives no slider position in range; `failed` then names its
// parameter (-1 for the part number, else the catalogue index in its group) and the sheet is
// part-way applied: callers pass a copy.
struct FieldFailure {
    bool system = false;
    int index = -1;
};
bool applyFieldTexts(Sheet& sheet, const FieldTexts& texts, FieldFailure* failed = nullptr);

// The caption of the first parameter whose text a file cannot hold (a double quote or a line
// break would end its field early); nothing when every text can be stored.
std::optional<std::string> unstorableField(const Sheet& sheet);

// Writes the sheet to `path`. The old file is replaced only when the whole new content was
// written, and never by a file that would not read back the same. Failures show "Error writing
// file" and set the status "File Error" (with the parameter's caption when a text cannot be
// stored).
bool WriteParamFile(const Sheet& sheet, const std::string& path, Window& window,
                    FileSystem& fs = realFileSystem());

// Reads the file into `sheet`. The sheet changes only when the whole file was read;
// failures show "Error reading file" and set the status "File Error".
bool ReadParamFile(Sheet& sheet, const std::string& path, Window& window,
                   FileSystem& fs = realFileSystem());

} // namespace pp
