#pragma once
// The evaluation's self-contained HTML report: survival, forward returns
// with their intervals, their distributions, the simple rule's equity and,
// for one file, the live signals on its chart.

#include <string>
#include <vector>

#include "analysis/evaluation_files.h"

namespace vlmstruct {

std::string evaluationReport(const std::vector<EvaluatedFile>& files, const vlm::Summary& summary,
                             const vlm::EvaluationOptions& options, const std::string& title);

}  // namespace vlmstruct
