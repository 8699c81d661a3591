#include "model/virtual_probe.h"

namespace pavix_bench {

virtual_probe::virtual_probe(probe_desc desc, std::shared_ptr<firmware_model> model)
    : m_desc(std::move(desc)), m_model(std::move(model)) {}

virtual_probe::~virtual_probe() = default;

bool virtual_probe::hidWrite(uint8_t iface, const bytes& report) {
    if (!connected()) return false;
    ++m_requests;
    enqueue(channel::hid(iface), m_model->onHidReport(iface, report));
    return true;
}

virtual_probe::result virtual_probe::bulkOut(uint8_t endpoint, const bytes& packet) {
    if (!connected()) return result::gone;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_halted.count(endpoint)) return result::stall;
    }
    ++m_requests;
    enqueue(channel::bulk(m_desc.answerEndpointFor(endpoint)), m_model->onBulkOut(endpoint, packet));
    return result::data;
}

bool virtual_probe::serialWrite(const bytes& data) {
    if (!connected()) return false;
    ++m_requests;
    enqueue(channel::serial(), m_model->onSerial(data));
    return true;
}

control_result virtual_probe::control(const setup_packet& s, const bytes& out) {
    control_result r;
    if (!connected()) {
        r.disconnect = true;
        return r;
    }
    auto clip = [&](bytes b) {
        if (b.size() > s.length) b.resize(s.length);
        return b;
    };
    const uint8_t type = s.request_type & 0x60;
    if (type == 0) {
        switch (s.request) {
        case 0x06:  // GET_DESCRIPTOR
            if ((s.request_type & 0x1F) != 0 || !s.in()) break;
            switch (s.value >> 8) {
            case 1: r.data = clip(deviceDescriptor(m_desc)); return r;
            case 2: r.data = clip(configDescriptor(m_desc)); return r;
            case 3: {
                bytes d = stringDescriptor(m_desc, uint8_t(s.value & 0xFF));
                if (d.empty()) break;
                r.data = clip(std::move(d));
                return r;
            }
            default: break;
            }
            r.stall = true;
            return r;
        case 0x00:  // GET_STATUS
            if (s.in()) {
                r.data = clip({0, 0});
                return r;
            }
            break;
        case 0x08:  // GET_CONFIGURATION
            if (s.in()) {
                r.data = clip({1});
                return r;
            }
            break;
        case 0x0A:  // GET_INTERFACE
            if (s.in()) {
                r.data = clip({0});
                return r;
            }
            break;
        case 0x01:  // CLEAR_FEATURE(ENDPOINT_HALT)
            if ((s.request_type & 0x1F) == 2) clearHalt(uint8_t(s.index));
            return r;
        case 0x09:  // SET_CONFIGURATION
        case 0x0B:  // SET_INTERFACE
            return r;
        default: break;
        }
        // Standard requests the description has no answer for go to the model too (a
        // firmware may know a BOS or a qualifier); the generic one stalls them.
    }
    ++m_requests;
    r = m_model->onControl(s, out);
    if (r.disconnect) {
        m_connected = false;
        m_cv.notify_all();
        m_scheduler.soon([this] { disconnect(); });
    }
    return r;
}

void virtual_probe::discard(channel ch) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queues[ch].clear();
}

void virtual_probe::enqueue(channel ch, std::vector<answer> answers) {
    auto when = clock::now();
    std::vector<clock::time_point> later;
    size_t now_ready = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto& q = m_queues[ch];
        for (auto& a : answers) {
            when += a.delay;
            if (a.what == answer::kind::disconnect) {
                m_scheduler.at(when, [this] { disconnect(); });
                break;  // nothing comes after an unplug
            }
            q.push_back(queued{a.what, std::move(a.payload), a.exact, when});
            if (a.delay.count() == 0 && later.empty()) ++now_ready;
            else later.push_back(when);
        }
    }
    m_cv.notify_all();
    for (size_t i = 0; i < now_ready; ++i) notifyReady(ch);
    for (auto t : later) m_scheduler.at(t, [this, ch] { notifyReady(ch); m_cv.notify_all(); });
}

void virtual_probe::notifyReady(channel ch) {
    std::vector<std::pair<int, std::function<void(channel)>>> fns;
    {
        std::lock_guard<std::mutex> lock(m_listener_mutex);
        for (auto& [id, fn] : m_ready_listeners) {
            fns.emplace_back(id, fn);
            ++m_inflight[id];
        }
    }
    for (auto& [id, fn] : fns) {
        fn(ch);
        std::lock_guard<std::mutex> lock(m_listener_mutex);
        if (--m_inflight[id] == 0) m_inflight.erase(id);
        m_listener_cv.notify_all();
    }
}

virtual_probe::result virtual_probe::popLocked(channel ch, bytes& out, clock::time_point now) {
    if (ch.what == channel::kind::bulk && m_halted.count(ch.id)) return result::stall;
    auto it = m_queues.find(ch);
    if (it == m_queues.end() || it->second.empty() || it->second.front().ready_at > now) {
        return connected() ? result::empty : result::gone;
    }
    queued q = std::move(it->second.front());
    it->second.pop_front();
    if (q.what == answer::kind::stall) {
        if (ch.what == channel::kind::bulk) m_halted.insert(ch.id);
        return result::stall;
    }
    out = std::move(q.payload);
    if (ch.what == channel::kind::hid && !q.exact && out.size() < 64) out.resize(64, 0);
    return result::data;
}

virtual_probe::result virtual_probe::take(channel ch, bytes& out, clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        auto now = clock::now();
        result r = popLocked(ch, out, now);
        if (r != result::empty || now >= deadline) return r;
        auto until = deadline;
        auto it = m_queues.find(ch);
        if (it != m_queues.end() && !it->second.empty() && it->second.front().ready_at < until)
            until = it->second.front().ready_at;
        m_cv.wait_until(lock, until);
    }
}

virtual_probe::result virtual_probe::tryTake(channel ch, bytes& out) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return popLocked(ch, out, clock::now());
}

bool virtual_probe::ready(channel ch) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (ch.what == channel::kind::bulk && m_halted.count(ch.id)) return true;
    auto it = m_queues.find(ch);
    return it != m_queues.end() && !it->second.empty() && it->second.front().ready_at <= clock::now();
}

void virtual_probe::clearHalt(uint8_t endpoint) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_halted.erase(endpoint);
}

void virtual_probe::disconnect() {
    bool was = m_connected.exchange(false);
    m_cv.notify_all();
    // The unplug listeners run once, even when the model unplugged first from a control request.
    (void)was;
    std::map<int, std::function<void()>> fns;
    {
        std::lock_guard<std::mutex> lock(m_listener_mutex);
        fns.swap(m_unplug_listeners);
        for (auto& [id, fn] : fns) ++m_inflight[id];
    }
    for (auto& [id, fn] : fns) {
        fn();
        std::lock_guard<std::mutex> lock(m_listener_mutex);
        if (--m_inflight[id] == 0) m_inflight.erase(id);
        m_listener_cv.notify_all();
    }
}

int virtual_probe::onReady(std::function<void(channel)> fn) {
    std::lock_guard<std::mutex> lock(m_listener_mutex);
    int id = m_next_listener++;
    m_ready_listeners[id] = std::move(fn);
    return id;
}

int virtual_probe::onUnplug(std::function<void()> fn) {
    std::lock_guard<std::mutex> lock(m_listener_mutex);
    int id = m_next_listener++;
    m_unplug_listeners[id] = std::move(fn);
    return id;
}

void virtual_probe::removeListener(int id) {
    std::unique_lock<std::mutex> lock(m_listener_mutex);
    m_ready_listeners.erase(id);
    m_unplug_listeners.erase(id);
    m_listener_cv.wait(lock, [&] { return m_inflight.count(id) == 0; });
}

}  // namespace pavix_bench
