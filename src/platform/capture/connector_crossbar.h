#pragma once
// The input selectors in front of a capture filter: crossbars whose video
// inputs have the given connector types, each with one related sound input,
// routing to one video and one sound output.

#include "platform/capture/capture_layer.h"

#include <memory>
#include <vector>

// Builds the crossbars from the one feeding videoIn (and audioIn, when
// given) upstream. Each entry lists a crossbar's video inputs by connector
// type in pin order; input 0 of every crossbar but the last is fed by the
// next one.
std::vector<std::shared_ptr<CrossbarFilter>> ChainCrossbars(const std::vector<std::vector<int>>& crossbars,
                                                            CapturePin& videoIn, CapturePin* audioIn);
