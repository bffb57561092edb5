#include "qt/part_sweep.h"

#include "qt/session_driver.h"

namespace pp::qt {

bool linkGone(pp::Outcome outcome) {
    return outcome == pp::Outcome::OpenFailed || outcome == pp::Outcome::PortLost ||
           outcome == pp::Outcome::WriteFailed;
}

SweepResult sweepParts(SessionDriver& driver, pp::Sheet& home, const pp::Sheet& instrument,
                       const std::vector<std::string>& partNumbers, const SweepOptions& options) {
    SweepResult result;
    pp::Session& session = driver.session();
    const pp::InstrumentIdentity identity{instrument.text(pp::Sys::Serial),
                                          instrument.generation()};
    ScratchUpload upload(driver, session.window(), home, options.flags);
    for (size_t i = 0; i < partNumbers.size(); ++i) {
        const std::string& pn = partNumbers[i];
        if (options.progress && !options.progress(i, partNumbers.size(), pn)) {
            result.cancelled = true;
            result.notRead.assign(partNumbers.begin() + static_cast<std::ptrdiff_t>(i),
                                  partNumbers.end());
            break;
        }
        // The upload clears and fills the part values of the sheet it is given.
        pp::Sheet scratch = instrument;
        session.setInstrument(identity);
        const UploadResult got = upload.part(scratch, pn);
        session.setInstrument(std::nullopt);
        if (!got.ok) {
            result.failed.emplace_back(pn, got);
            if (options.stop == SweepStop::FirstFailure || linkGone(got.outcome)) {
                result.notRead.assign(partNumbers.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                      partNumbers.end());
                break;
            }
            continue;
        }
        if (options.read)
            options.read(pn, scratch);
        result.sheets.push_back(std::move(scratch));
    }
    return result;
}

} // namespace pp::qt
