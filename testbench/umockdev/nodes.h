#pragma once

#include "model/scheduler.h"
#include "model/virtual_probe.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace pavix_bench {

// A device node whose reads, writes and ioctls umockdev forwards to us. umockdev does not
// forward poll(), so every node has a "doorbell": the real file behind the node is made
// readable (hidraw: a pty) or writable (usbdevfs: a FIFO) exactly when an answer waits.
// Handlers run on the testbed's worker thread; probe listeners on the probe's threads.
class node {
public:
    node(UMockdevTestbed* tb, std::shared_ptr<virtual_probe> probe, std::string devnode);
    virtual ~node();
    node(const node&) = delete;
    node& operator=(const node&) = delete;

    // Starts serving the node (attach the handler). Call once the file behind it exists.
    void attach();
    // The probe left: open handles fail from now on.
    virtual void unplug() = 0;
    const std::string& devnode() const { return m_devnode; }
    virtual_probe& probe() { return *m_probe; }

protected:
    virtual bool onIoctl(UMockdevIoctlClient* client) = 0;
    virtual bool onRead(UMockdevIoctlClient* client) { return false; }
    virtual bool onWrite(UMockdevIoctlClient* client) { return false; }
    virtual void onVanished(UMockdevIoctlClient* client) {}
    void listen();  // subscribes to the probe's ready notifications (call at the end of the constructor)
    virtual void answerReady(channel ch) {}

    UMockdevTestbed* m_tb;
    std::shared_ptr<virtual_probe> m_probe;
    std::string m_devnode;
    UMockdevIoctlBase* m_handler = nullptr;
    int m_listener = 0;
    std::recursive_mutex m_mutex;

private:
    static int cbIoctl(UMockdevIoctlBase*, UMockdevIoctlClient*, void*);
    static int cbRead(UMockdevIoctlBase*, UMockdevIoctlClient*, void*);
    static int cbWrite(UMockdevIoctlBase*, UMockdevIoctlClient*, void*);
    static void cbVanished(UMockdevIoctlBase*, UMockdevIoctlClient*, void*);
};

// A hidraw node of one HID interface: 65-byte writes with report ID 0 become the model's
// output reports; each read returns exactly one queued input report.
class hidraw_node : public node {
public:
    hidraw_node(UMockdevTestbed* tb, std::shared_ptr<virtual_probe> probe, uint8_t iface, std::string devnode,
                const std::string& root);
    ~hidraw_node() override;
    int ptsNumber() const { return m_pts; }
    void unplug() override;

private:
    bool onIoctl(UMockdevIoctlClient* client) override;
    bool onRead(UMockdevIoctlClient* client) override;
    bool onWrite(UMockdevIoctlClient* client) override;
    void answerReady(channel ch) override;

    uint8_t m_iface;
    int m_master = -1;
    int m_slave = -1;  // our own end, drained by one byte per delivered report
    int m_pts = -1;
    std::string m_link;
    bool m_gone = false;
};

// A usbdevfs node: URB submission, reaping and cancellation, claims and the other requests
// libusb makes; control, bulk and interrupt URBs go to the probe.
class usbfs_node : public node {
public:
    usbfs_node(UMockdevTestbed* tb, std::shared_ptr<virtual_probe> probe, std::string devnode, const std::string& root);
    ~usbfs_node() override;
    void unplug() override;

private:
    struct urb;
    struct client_state;
    bool onIoctl(UMockdevIoctlClient* client) override;
    void onVanished(UMockdevIoctlClient* client) override;
    void answerReady(channel ch) override;
    void submit(UMockdevIoctlClient* client);
    void reap(UMockdevIoctlClient* client);
    void discard(UMockdevIoctlClient* client);
    void fillPendingIns();
    void finish(const std::shared_ptr<urb>& u, int status, int actual);
    void completeControl(const std::shared_ptr<urb>& u, const control_result& r);
    void updateDoorbell();

    int m_fifo = -1;
    std::string m_path;
    bool m_gone = false;
    std::map<UMockdevIoctlClient*, std::shared_ptr<client_state>> m_clients;
    bool m_dead = false;
    scheduler m_timer;  // delayed control answers; last, so it stops first
};

// The tty of a probe's serial interface: bytes the host writes go to the model, answers come
// back on the line. Runs one pump thread.
class tty_node {
public:
    tty_node(UMockdevTestbed* tb, std::shared_ptr<virtual_probe> probe, std::string devnode);
    ~tty_node();
    void unplug();  // hang up: the host sees POLLHUP, reads return 0, writes fail
    int masterFd() const { return m_master; }

private:
    void pump();
    std::shared_ptr<virtual_probe> m_probe;
    std::string m_devnode;
    int m_master = -1;
    int m_wake[2] = {-1, -1};
    int m_listener = 0;
    std::mutex m_mutex;
    std::thread m_thread;
};

}  // namespace pavix_bench
