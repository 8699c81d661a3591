#pragma once

#include "model/families.h"
#include "model/generic_model.h"
#include "model/probe_desc.h"

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace pavix_bench {

// One probe of a scenario with what its firmware is told to do.
struct scenario_probe {
    std::string name;
    probe_desc desc;
    std::shared_ptr<generic_model> model;
    std::chrono::milliseconds plug_after{0};
    std::chrono::milliseconds unplug_after{-1};  // negative: stays
};

struct scenario {
    std::vector<scenario_probe> probes;
};

struct scenario_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Parses a scenario text (see testbench/README.md). `families` gives the identities that
// "family=" names. Throws scenario_error naming the line.
scenario parseScenario(const std::string& text, const std::vector<family_config>& families);

}  // namespace pavix_bench
