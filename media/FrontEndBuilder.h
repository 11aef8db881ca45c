#pragma once
// media/-internal: builds a group's front end: one or two branches that
// read the source, decode its chosen sound stream and cut the selection, and
// the joiner that puts two branches' spans back in order.

#include "core/MediaTime.h"
#include "core/Result.h"
#include "media/FilterGraph.h"
#include "media/FrontEnd.h"
#include "media/SourceAnalysis.h"

#include <string>
#include <vector>

namespace veltrano {

// What a group reads: a file and a stretch of it, and the cores its
// decoding may use.
struct SourceSpec {
    std::string path;
    MediaTime mediaStart = 0;
    MediaTime mediaStop = 0;
    int cores = 1;
    SourceAnalysisRef analysis;  // from measuring the file, when it still stands for it
    int soundStream = 0;  // which sound stream, counted from 0 in the parser's order
};

// The group's bin (its output pad "src") and the state of every branch.
Result BuildGroup(const SourceSpec& spec, std::vector<FrontEndRef>& branchesOut, Filter& filterOut);

}  // namespace veltrano
