#include "qt/whole_instrument.h"

#include "qt/session_driver.h"

#include "link/mode.h"

namespace pp::qt {

WholeRead readWholeInstrument(SessionDriver& driver, pp::Sheet& home,
                              const WholeReadOptions& options) {
    WholeRead result;
    const auto go = [&](const ReadStep& step) {
        if (options.progress && !options.progress(step)) {
            result.cancelled = true;
            return false;
        }
        return true;
    };
    ScratchUpload upload(driver, driver.session().window(), home, options.flags);
    if (!go({ReadStep::Kind::System, {}, 0, 0}))
        return result;
    result.system = upload.system(result.instrument);
    if (!result.system.ok)
        return result;
    if (options.parts) {
        result.configured = *options.parts;
    } else {
        if (!go({ReadStep::Kind::PartList, {}, 0, 0}))
            return result;
        std::string list;
        result.list = upload.partList(result.instrument, list);
        if (!result.list->ok)
            return result;
        result.configured = pp::configuredPartNumbers(list);
    }

    SweepOptions sweep;
    sweep.stop = options.stop;
    sweep.flags = options.flags;
    sweep.read = options.read;
    sweep.progress = [&](size_t done, size_t all, const std::string& pn) {
        return go({ReadStep::Kind::Part, pn, done, all});
    };
    result.parts = sweepParts(driver, home, result.instrument, result.configured, sweep);
    return result;
}

} // namespace pp::qt
