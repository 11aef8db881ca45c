#pragma once
// How a group's selection is decoded: in one branch, or in spans by two
// branches side by side, each seeking to its own spans in turn, joined in
// span order behind them. Pure arithmetic, in the source's own frames.

#include "core/MediaTime.h"

#include <cstdint>

namespace veltrano {

// A long selection in a file that seeks to the exact sample is decoded in
// spans of this length.
inline constexpr int kSpanSeconds = 15;
inline constexpr int kMaxBranches = 2;

struct SpanPlan {
    std::int64_t totalFrames = 0;  // what the group puts out in all
    std::int64_t spanFrames = 0;   // one span; the whole selection with one branch
    int branches = 1;
};

// Branch b decodes spans b, b + branches, b + 2 x branches, ...
struct Span {
    std::int64_t index = 0;
    std::int64_t base = 0;    // its first frame, counted from the selection's start
    std::int64_t frames = 0;  // 0 past the selection's end
};

SpanPlan PlanSpans(std::int64_t totalFrames, int rate, int branches);
Span SpanAt(const SpanPlan& plan, std::int64_t index);
// Whether the branch decoding this span has no span after it.
bool IsLastSpanOfBranch(const SpanPlan& plan, const Span& span);
// A branch's first span is decoded from a cold start, its later ones from a
// decoder that only needs to settle.
inline bool IsFirstSpanOfBranch(const SpanPlan& plan, const Span& span) { return span.index < plan.branches; }

// What decides the branches: a selection long enough to be worth two, in a
// file whose seeks land on the exact sample (so spans join without a seam),
// with a core free for the second branch.
struct SpanConditions {
    MediaTime length = 0;
    bool seeksToTheSample = false;
    int freeCores = 1;
};
int BranchesFor(const SpanConditions& c);

}  // namespace veltrano
