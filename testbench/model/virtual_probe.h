#pragma once

#include "model/firmware_model.h"
#include "model/probe_desc.h"
#include "model/scheduler.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace pavix_bench {

// Where answers wait for the host: a HID interface's input reports, a bulk IN endpoint, or
// the serial line.
struct channel {
    enum class kind { hid, bulk, serial };
    kind what = kind::bulk;
    uint8_t id = 0;  // interface number (hid) or endpoint address (bulk)
    bool operator<(const channel& o) const { return what != o.what ? what < o.what : id < o.id; }
    bool operator==(const channel& o) const { return what == o.what && id == o.id; }
    static channel hid(uint8_t iface) { return {kind::hid, iface}; }
    static channel bulk(uint8_t ep) { return {kind::bulk, ep}; }
    static channel serial() { return {kind::serial, 0}; }
};

// A probe on the virtual bus: its description, its firmware model and the answers queued
// for the host. Attachments (in-process objects, umockdev nodes) feed requests in and take
// answers out. Thread-safe; listeners run without the probe's lock held, on the caller's
// thread or the probe's scheduler thread.
class virtual_probe {
public:
    using clock = std::chrono::steady_clock;
    enum class result { data, stall, empty, gone };

    virtual_probe(probe_desc desc, std::shared_ptr<firmware_model> model);
    ~virtual_probe();
    virtual_probe(const virtual_probe&) = delete;
    virtual_probe& operator=(const virtual_probe&) = delete;

    const probe_desc& desc() const { return m_desc; }
    firmware_model& model() { return *m_model; }
    template <class M> M& modelAs() { return dynamic_cast<M&>(*m_model); }

    // Host to probe. false: the probe is gone (or, for bulk, the endpoint is halted).
    bool hidWrite(uint8_t iface, const bytes& report);
    result bulkOut(uint8_t endpoint, const bytes& packet);
    // Standard requests are answered from the description, the rest by the model.
    control_result control(const setup_packet& setup, const bytes& out);
    bool serialWrite(const bytes& data);

    // Probe to host: the next ready answer of `ch`, waiting until `deadline`.
    result take(channel ch, bytes& out, clock::time_point deadline);
    result tryTake(channel ch, bytes& out);
    // Whether an answer is ready now (data or stall).
    bool ready(channel ch);
    void clearHalt(uint8_t endpoint);
    // Drops the answers still queued on `ch`, as a probe reset would (answers scheduled for
    // later included).
    void discard(channel ch);

    bool connected() const { return m_connected.load(); }
    // The probe leaves the bus: waiting reads return `gone` and unplug listeners run (on the
    // scheduler thread).
    void disconnect();

    // `fn(ch)` runs whenever an answer becomes ready on `ch`. Returns an id for removal.
    int onReady(std::function<void(channel)> fn);
    int onUnplug(std::function<void()> fn);
    // Returns once no call of that listener is running any more; never call it from inside
    // a listener.
    void removeListener(int id);

    // Round trips seen so far (for statistics and tests).
    size_t requests() const { return m_requests.load(); }

private:
    struct queued {
        answer::kind what;
        bytes payload;
        bool exact;
        clock::time_point ready_at;
    };
    void enqueue(channel ch, std::vector<answer> answers);
    void notifyReady(channel ch);
    result popLocked(channel ch, bytes& out, clock::time_point now);

    probe_desc m_desc;
    std::shared_ptr<firmware_model> m_model;
    std::atomic<bool> m_connected{true};
    std::atomic<size_t> m_requests{0};
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::map<channel, std::deque<queued>> m_queues;
    std::set<uint8_t> m_halted;
    std::mutex m_listener_mutex;
    int m_next_listener = 1;
    std::map<int, std::function<void(channel)>> m_ready_listeners;
    std::map<int, std::function<void()>> m_unplug_listeners;
    std::map<int, int> m_inflight;  // listener id -> calls running now
    std::condition_variable m_listener_cv;
    scheduler m_scheduler;  // last: stops before the rest goes away
};

}  // namespace pavix_bench
