#pragma once
// Rubber Band's finer engine run offline (study, then process), fed as the sample engine's
// stretcher feeds its real-time one: one hop of input a call, silence after the input.
// The render the stretched sound is held against; for tests, benchmarks and the list model.
#include <QtGlobal>

#include <vector>

namespace offline {

// `in` stereo, interleaved; the output from the input's first frame on, ceil(frames / rate)
// frames of it, stereo.
std::vector<float> offlineStretch(const std::vector<float>& in, int sampleRate, double rate, double pitch = 1.0);

} // namespace offline
