#pragma once
// The nine functions at once for the tools, holding little of the work at
// a time: what `analyze` and the Python module compute over a whole file.

#include <cstddef>
#include <functional>
#include <span>

namespace vlm {

// The nine results at once, each equal to what a host calling 1 to 9 in
// turn gets (function 2's output feeding 3 to 9), for tools that want them
// all: the merging that 1 and 2 share is done once, and 5 to 9 are written
// from one pivot list. `output(k)` gives where function k + 1's values go,
// one per bar, apart from the bars; it is asked for in order, each just
// before it is written (so output k - 1 is complete when k is asked for),
// and 3 to 9 only once the merged bars and strokes are freed, so that a
// caller holding every output at its peak holds nothing else of the work.
// The merged bars are never all held at once: each goes to the strokes as
// soon as it is final.
void RunAllSeriesFunctions(std::span<const float> high, std::span<const float> low,
                           const std::function<std::span<float>(std::size_t)>& output);

}  // namespace vlm
