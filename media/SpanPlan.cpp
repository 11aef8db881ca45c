#include "media/SpanPlan.h"

#include <algorithm>

namespace veltrano {

SpanPlan PlanSpans(std::int64_t totalFrames, int rate, int branches) {
    SpanPlan plan;
    plan.totalFrames = totalFrames;
    plan.branches = std::max(1, branches);
    plan.spanFrames = plan.branches > 1 ? static_cast<std::int64_t>(rate) * kSpanSeconds : totalFrames;
    return plan;
}

Span SpanAt(const SpanPlan& plan, std::int64_t index) {
    Span s;
    s.index = index;
    s.base = index * plan.spanFrames;
    s.frames = std::max<std::int64_t>(0, std::min(plan.spanFrames, plan.totalFrames - s.base));
    return s;
}

bool IsLastSpanOfBranch(const SpanPlan& plan, const Span& span) {
    return span.base + static_cast<std::int64_t>(plan.branches) * plan.spanFrames >= plan.totalFrames;
}

int BranchesFor(const SpanConditions& c) {
    if (c.freeCores < 2 || !c.seeksToTheSample) return 1;
    if (c.length <= 2 * kSpanSeconds * kUnitsPerSecond) return 1;
    return kMaxBranches;
}

}  // namespace veltrano
