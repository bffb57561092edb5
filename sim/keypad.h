// Values changed at the instrument itself, in the catalogue's terms (stems, display texts),
// turned into what the instrument stores: the download items the editor would send for them.
// Works on records, so the value is read exactly as the editor reads a typed one (its range,
// the decimal counts, the part's time base) and shown as an upload would show it.
#pragma once

#include "sheet/catalogue.h"

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace pp::sim {

// One download item: its index and the wire text the instrument takes for it.
struct Item {
    int index;
    std::string value;
};

// Either the items to apply, or why the value cannot be taken, for a person to read.
using Items = std::variant<std::vector<Item>, std::string>;

// The records are the instrument's current ones in the V7.3 layout, whatever its generation
// (`g` only refuses the V7.3 parameters on a V7.0 instrument). Stems match in any case. The
// option block is not set this way (see Instrument::keypad).
//
// `restoring` takes back a value the instrument held: a number outside the slider's range is
// taken as it is, as an upload shows it (a decimal count changed after the value was set
// leaves it there), where a keypad refuses it with the range.
Items systemItems(std::string_view systemRecord, std::string_view stem, std::string_view value,
                  Generation g, bool restoring = false);
Items partItems(std::string_view systemRecord, std::string_view partRecord, std::string_view stem,
                std::string_view value, Generation g, bool restoring = false);

// Every value of a record as "STEM VALUE", in the catalogue's order (which is also the order
// they can be set in: decimal counts and time base before the values they scale).
std::vector<std::string> systemValues(std::string_view systemRecord, Generation g);
std::vector<std::string> partValues(std::string_view systemRecord, std::string_view partRecord,
                                    Generation g);

// The same word in any case ("leaklimit", "LeakLimit").
bool sameWord(std::string_view a, std::string_view b);

// The stems `set` takes, separated by blanks, for the usage text.
std::string systemStems();
std::string partStems();

} // namespace pp::sim
