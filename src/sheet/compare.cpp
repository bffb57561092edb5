#include "compare.h"

namespace pp {

namespace {

// Texts a file stores: the option block only through its option code, which alone has an
// upload field of its own.
bool stored(const SysRow& r) {
    return r.kind != SysKind::OptionInfo || r.uploadField >= 0;
}

void addIfDifferent(std::vector<Difference>& out, CompareGroup group, std::string_view caption,
                    const std::string& a, const std::string& b, int index) {
    if (a != b)
        out.push_back({group, std::string(caption), a, b, index});
}

} // namespace

std::vector<Difference> compareSheets(const Sheet& a, const Sheet& b) {
    const bool v73 = a.generation() == Generation::V73 || b.generation() == Generation::V73;
    std::vector<Difference> out;
    for (const SysRow& r : systemCatalogue()) {
        if (!stored(r) || (r.v73Only && !v73))
            continue;
        addIfDifferent(out, CompareGroup::System, r.caption, a.text(r.id), b.text(r.id),
                       static_cast<int>(r.id));
    }
    addIfDifferent(out, CompareGroup::Part, PartNumberCaption, a.partSelection(), b.partSelection(),
                   -1);
    for (const PartRow& r : partCatalogue()) {
        if (r.v73Only && !v73)
            continue;
        addIfDifferent(out, CompareGroup::Part, r.caption, a.text(r.id), b.text(r.id),
                       static_cast<int>(r.id));
    }
    return out;
}

std::string differenceLine(const Difference& d) {
    return d.caption + ": " + d.a + " -> " + d.b;
}

} // namespace pp
