// The system and part record decoders on a sheet in any state. The input is lines of steps
// (see applyStep): records with or without a correct checksum, slider moves, texts, options,
// part selections, generations.
//
// Checks: a record the decoder refuses leaves the sheet exactly as it was; every slider stays
// within its range; the generation and its last indices agree; the encoders take the result.
#include "fuzz_support.h"

using namespace pp;
using namespace pp::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(std::string_view(reinterpret_cast<const char*>(data), size));
    Sheet sheet;
    while (!in.empty()) {
        const Sheet before = sheet;
        const StepResult r = applyStep(sheet, in.line());
        if (r.decoded && r.failure) {
            if (!(sheet == before))
                fail("a refused record changed the sheet:", *r.failure);
        }
        if (r.decoded && !r.failure)
            PP_CHECK(sheet.generation() != Generation::None);
        checkSliders(sheet);
        checkGeneration(sheet);
    }
    encodeAll(sheet);
    return 0;
}
