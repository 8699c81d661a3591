#include "model/generic_model.h"

#include <stdexcept>

namespace pavix_bench {

namespace {
answer paced(answer a, unsigned interval_ms) {
    a.delay = std::chrono::milliseconds(interval_ms);
    return a;
}

const char* const kFaultNames[] = {"none", "no_answer", "delay", "wait", "wrong_code", "short_answer", "stall",
                                   "disconnect", "stale"};
}

const char* faultName(fault::kind k) { return kFaultNames[static_cast<int>(k)]; }

fault::kind faultKindFromName(const std::string& name) {
    for (int i = 0; i < int(sizeof kFaultNames / sizeof kFaultNames[0]); ++i)
        if (name == kFaultNames[i]) return static_cast<fault::kind>(i);
    throw std::invalid_argument("unknown fault: " + name);
}

void generic_model::on(uint8_t code, handler h) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handlers[code] = std::move(h);
}

void generic_model::reply(uint8_t code, bytes a) {
    on(code, [a](const bytes&) { return a; });
}

void generic_model::script(fault f) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.push_back(f);
}

void generic_model::script(std::initializer_list<fault> faults) {
    for (const auto& f : faults) script(f);
}

size_t generic_model::pendingFaults() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_faults.size();
}

void generic_model::controlIn(uint8_t request, bytes data) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_control_in[request] = std::move(data);
}

std::vector<bytes> generic_model::received() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

size_t generic_model::receivedCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received.size();
}

bytes generic_model::answerFor(const bytes& request) {
    if (request.empty()) return {};
    auto it = m_handlers.find(request[0]);
    if (it != m_handlers.end()) return it->second(request);
    bytes a(request);
    if (a.size() < 2) a.resize(2);
    a[1] = 0x00;
    return a;
}

std::vector<answer> generic_model::exchange(const bytes& request, bool serial) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received.push_back(request);
    fault f;
    if (!m_faults.empty()) {
        f = m_faults.front();
        m_faults.pop_front();
    }
    bytes a = serial ? request : answerFor(request);
    std::vector<answer> out;
    switch (f.what) {
    case fault::kind::none:
        out.push_back(answer::data(std::move(a)));
        break;
    case fault::kind::no_answer:
        break;
    case fault::kind::delay: {
        answer x = answer::data(std::move(a));
        x.delay = std::chrono::milliseconds(f.param);
        out.push_back(std::move(x));
        break;
    }
    case fault::kind::wait: {
        bytes w(a);
        if (w.size() < 2) w.resize(2);
        w[1] = 0x01;
        for (unsigned i = 0; i < f.param; ++i) out.push_back(paced(answer::data(w), f.interval_ms));
        out.push_back(paced(answer::data(std::move(a)), f.interval_ms));
        break;
    }
    case fault::kind::stale: {
        // What a probe still had queued from earlier commands: another code, status 0x00.
        bytes s(a);
        if (s.empty()) s.push_back(0);
        s[0] = uint8_t(s[0] ^ 0xFF);
        if (s.size() > 1) s[1] = 0x00;
        for (unsigned i = 0; i < f.param; ++i) out.push_back(paced(answer::data(s), f.interval_ms));
        out.push_back(paced(answer::data(std::move(a)), f.interval_ms));
        break;
    }
    case fault::kind::wrong_code:
        if (a.empty()) a.push_back(0);
        a[0] = uint8_t(a[0] ^ 0xFF);
        out.push_back(answer::data(std::move(a)));
        break;
    case fault::kind::short_answer: {
        a.resize(std::max(1u, std::min<unsigned>(f.param ? f.param : 1, unsigned(a.size()))));
        answer x = answer::data(std::move(a));
        x.exact = true;
        out.push_back(std::move(x));
        break;
    }
    case fault::kind::stall:
        out.push_back(answer{answer::kind::stall, {}, {}, false});
        break;
    case fault::kind::disconnect:
        out.push_back(answer{answer::kind::disconnect, {}, {}, false});
        break;
    }
    return out;
}

std::vector<answer> generic_model::onHidReport(uint8_t, const bytes& report) { return exchange(report, false); }

std::vector<answer> generic_model::onBulkOut(uint8_t, const bytes& packet) { return exchange(packet, false); }

std::vector<answer> generic_model::onSerial(const bytes& data) { return exchange(data, true); }

control_result generic_model::onControl(const setup_packet& setup, const bytes& out) {
    std::lock_guard<std::mutex> lock(m_mutex);
    control_result r;
    if (!setup.in()) m_received.push_back(out);
    fault f;
    if (!m_faults.empty()) {
        f = m_faults.front();
        m_faults.pop_front();
    }
    if (f.what == fault::kind::stall) r.stall = true;
    else if (f.what == fault::kind::disconnect) r.disconnect = true;
    else if (f.what == fault::kind::no_answer) r.no_answer = true;
    else if (f.what == fault::kind::delay) r.delay = std::chrono::milliseconds(f.param);
    if (setup.in() && !r.stall) {
        auto it = m_control_in.find(setup.request);
        if (it == m_control_in.end()) r.stall = (setup.request_type & 0x60) == 0;
        else r.data = it->second;
        if (r.data.size() > setup.length) r.data.resize(setup.length);
        if (f.what == fault::kind::short_answer && !r.data.empty()) r.data.resize(std::max(1u, f.param));
    }
    return r;
}

}  // namespace pavix_bench
