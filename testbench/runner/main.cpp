// pavix-vprobe: starts virtual probes from a scenario file and runs a command under them.
//
//   pavix-vprobe [--devdb FILE] [--quiet] SCENARIO [-- COMMAND [ARGS...]]
//
// Without a command it lists the probes it started and exits. The command runs with the
// umockdev preload, so its hidapi, libusb and libudev calls see the virtual probes; its exit
// status is returned. Started outside the preload, the program re-executes itself under
// umockdev-wrapper.
#include "model/families.h"
#include "runner/scenario.h"
#include "umockdev/mock_env.h"
#include "umockdev/testbed.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace pavix_bench;

namespace {

int usage() {
    std::cerr << "usage: pavix-vprobe [--devdb FILE] [--quiet] SCENARIO [-- COMMAND [ARGS...]]\n";
    return 2;
}

std::atomic<pid_t> g_child{0};

void forward(int sig) {
    pid_t c = g_child.load();
    if (c > 0) kill(c, sig);
}

}  // namespace

int main(int argc, char** argv) {
    std::string devdb = defaultDevdbPath(), file;
    bool quiet = false;
    int cmd_at = -1;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") {
            cmd_at = i + 1;
            break;
        }
        if (a == "--devdb" && i + 1 < argc) devdb = argv[++i];
        else if (a == "--quiet") quiet = true;
        else if (a == "--help" || a == "-h") return usage(), 0;
        else if (file.empty() && a[0] != '-') file = a;
        else return usage();
    }
    if (file.empty() || (cmd_at >= 0 && cmd_at >= argc)) return usage();

    if (!inMockEnvironment()) {
        if (getenv("PAVIX_VPROBE_REEXEC")) {
            std::cerr << "pavix-vprobe: the umockdev preload did not load\n";
            return 3;
        }
        setenv("PAVIX_VPROBE_REEXEC", "1", 1);
        prepareChildEnvironment();
        std::vector<char*> args{const_cast<char*>("umockdev-wrapper")};
        for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
        args.push_back(nullptr);
        execvp("umockdev-wrapper", args.data());
        std::cerr << "pavix-vprobe: cannot run umockdev-wrapper: " << strerror(errno) << "\n";
        return 3;
    }
    unsetenv("PAVIX_VPROBE_REEXEC");

    scenario sc;
    try {
        std::ifstream in(file);
        if (!in) throw std::runtime_error("cannot read " + file);
        std::stringstream text;
        text << in.rdbuf();
        std::vector<family_config> families;
        if (std::ifstream(devdb).good()) families = readFamilies(devdb);
        sc = parseScenario(text.str(), families);
    } catch (const std::exception& e) {
        std::cerr << "pavix-vprobe: " << file << ": " << e.what() << "\n";
        return 2;
    }

    int status = 0;
    {
        testbed bench;
        std::vector<std::shared_ptr<virtual_probe>> probes;
        std::vector<std::thread> timers;
        std::atomic<bool> stop{false};
        auto sleepFor = [&](std::chrono::milliseconds ms) {
            auto until = std::chrono::steady_clock::now() + ms;
            while (!stop && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return !stop;
        };
        try {
            for (auto& p : sc.probes) {
                auto vp = std::make_shared<virtual_probe>(p.desc, p.model);
                probes.push_back(vp);
                if (p.plug_after.count() == 0) bench.plug(vp);
                if (p.plug_after.count() > 0 || p.unplug_after.count() >= 0) {
                    auto plug_after = p.plug_after;
                    auto unplug_after = p.unplug_after;
                    timers.emplace_back([&, vp, plug_after, unplug_after] {
                        if (plug_after.count() > 0) {
                            if (!sleepFor(plug_after)) return;
                            bench.plug(vp);
                        }
                        if (unplug_after.count() >= 0 && sleepFor(unplug_after)) bench.unplug(*vp);
                    });
                }
            }
        } catch (const std::exception& e) {
            std::cerr << "pavix-vprobe: " << e.what() << "\n";
            stop = true;
            for (auto& t : timers) t.join();
            return 2;
        }
        if (!quiet || cmd_at < 0) {
            for (size_t i = 0; i < sc.probes.size(); ++i) {
                const auto& p = sc.probes[i];
                char id[16];
                std::snprintf(id, sizeof id, "%04x:%04x", p.desc.vid, p.desc.pid);
                std::cerr << "virtual probe " << p.name << ": " << id << " serial " << p.desc.serial << " at "
                          << p.desc.sysName();
                if (p.plug_after.count() == 0) {
                    std::cerr << " " << bench.usbfsPath(*probes[i]);
                    for (const auto& itf : p.desc.interfaces)
                        if (itf.hid()) std::cerr << " " << bench.hidrawPath(*probes[i], itf.number);
                    if (p.desc.tty) std::cerr << " " << bench.ttyPath(*probes[i]);
                } else {
                    std::cerr << " (arrives after " << p.plug_after.count() << " ms)";
                }
                std::cerr << "\n";
            }
        }
        if (cmd_at >= 0) {
            prepareChildEnvironment();
            signal(SIGINT, forward);
            signal(SIGTERM, forward);
            pid_t child = fork();
            if (child == 0) {
                execvp(argv[cmd_at], argv + cmd_at);
                std::fprintf(stderr, "pavix-vprobe: cannot run %s: %s\n", argv[cmd_at], strerror(errno));
                _exit(127);
            }
            g_child = child;
            int ws = 0;
            while (waitpid(child, &ws, 0) < 0 && errno == EINTR) {
            }
            g_child = 0;
            status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
        }
        stop = true;
        for (auto& t : timers) t.join();
    }
    return status;
}
