#include "timeline.h"

#include <algorithm>

namespace pp::bench {

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::vector<Burst> bursts(const std::vector<pp::sim::ByteEvent>& received,
                          const std::vector<pp::sim::ByteEvent>& sent) {
    struct Mark {
        Clock::time_point at;
        bool fromEditor;
    };
    std::vector<Mark> marks;
    marks.reserve(received.size() + sent.size());
    for (const auto& e : received)
        marks.push_back({e.at, true});
    for (const auto& e : sent)
        marks.push_back({e.at, false});
    std::stable_sort(marks.begin(), marks.end(),
                     [](const Mark& a, const Mark& b) { return a.at < b.at; });
    std::vector<Burst> list;
    for (const Mark& m : marks) {
        if (list.empty() || list.back().fromEditor != m.fromEditor)
            list.push_back({m.fromEditor, m.at, m.at, 0});
        list.back().last = m.at;
        ++list.back().bytes;
    }
    return list;
}

std::vector<pp::sim::ByteEvent> slice(const std::vector<pp::sim::ByteEvent>& events,
                                      Clock::time_point from, Clock::time_point to) {
    std::vector<pp::sim::ByteEvent> part;
    for (const auto& e : events)
        if (e.at >= from && e.at <= to)
            part.push_back(e);
    return part;
}

Figures analyse(const std::vector<pp::sim::ByteEvent>& received,
                const std::vector<pp::sim::ByteEvent>& sent, Clock::time_point start,
                Clock::time_point end) {
    Figures f;
    f.editorBytes = received.size();
    f.answerBytes = sent.size();
    f.ptyMs = ms(end - start);
    f.wireMs = static_cast<double>(f.editorBytes + f.answerBytes) * ByteMs;
    const std::vector<Burst> list = bursts(received, sent);
    if (list.empty() || !list.front().fromEditor || list.back().fromEditor) {
        f.ok = false;
        f.note = "the line does not show frame and answer in turn";
        return f;
    }
    f.startMs = ms(list.front().first - start);
    f.finishMs = ms(end - list.back().last);
    for (size_t i = 0; i + 1 < list.size(); ++i) {
        const Burst& a = list[i];
        const Burst& b = list[i + 1];
        if (a.fromEditor) // the instrument's answer: what it took beyond its bytes' wire time
            f.instrumentMs += ms(b.last - a.last) - static_cast<double>(b.bytes) * ByteMs;
        else
            f.turn.push_back(ms(b.first - a.last));
    }
    return f;
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double worst(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

} // namespace pp::bench
