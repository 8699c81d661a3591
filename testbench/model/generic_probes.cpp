#include "model/generic_probes.h"

namespace pavix_bench {

namespace {
probe_desc base(uint16_t vid, uint16_t pid, std::string serial, const char* product) {
    probe_desc d;
    d.vid = vid;
    d.pid = pid;
    d.serial = std::move(serial);
    d.manufacturer = "Virtual Probe Works";
    d.product = product;
    return d;
}
}  // namespace

probe_desc genericHidProbe(uint16_t vid, uint16_t pid, std::string serial) {
    probe_desc d = base(vid, pid, std::move(serial), "Generic HID Probe");
    d.interfaces.push_back(hidInterface(0, "Generic HID Channel"));
    return d;
}

probe_desc genericBulkProbe(uint16_t vid, uint16_t pid, std::string serial) {
    probe_desc d = base(vid, pid, std::move(serial), "Generic Bulk Probe");
    d.speed_mbps = 480;
    d.interfaces.push_back(bulkInterface(0, "Generic Bulk Channel"));
    return d;
}

probe_desc genericSerialProbe(uint16_t vid, uint16_t pid, std::string serial) {
    probe_desc d = base(vid, pid, std::move(serial), "Generic Serial Probe");
    interface_desc i = bulkInterface(0, "Generic Serial Port", 0x83, 0x03);
    i.cls = 0x0A;
    d.interfaces.push_back(i);
    d.tty = tty_desc{};
    return d;
}

std::shared_ptr<virtual_probe> makeProbe(probe_desc desc, std::shared_ptr<firmware_model> model) {
    if (!model) model = std::make_shared<generic_model>();
    return std::make_shared<virtual_probe>(std::move(desc), std::move(model));
}

}  // namespace pavix_bench
