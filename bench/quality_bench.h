#pragma once

namespace ravdel {

// Registers quality/<scenario>/<rule>: how well each detection rule tells the simulated
// sensor's hits from its faults, as counters.
void registerQualityBenchmarks();

}  // namespace ravdel
