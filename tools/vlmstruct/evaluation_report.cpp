#include "evaluation_report.h"

#include "chart.h"
#include "chart_assets.h"
#include "report_assets.h"

namespace vlmstruct {

std::string evaluationReport(const std::vector<EvaluatedFile>& files, const vlm::Summary& summary,
                             const vlm::EvaluationOptions& options, const std::string& title) {
    std::string data;
    TextSink sink(data);
    writeEvaluationJson(sink, files, summary, options, title, true);
    return fillPlaceholders(std::string(kReportTemplate), {
        {"__DATA__", data},
        {"__LIBRARY__", kChartLibrary},
        {"__LIBRARY_NOTICE__", kChartLibraryNotice},
        {"__PLOT_LIBRARY__", kReportLibrary},
        {"__PLOT_NOTICE__", kReportLibraryNotice},
        {"__TITLE__", pageTitle(title)},
    });
}

}  // namespace vlmstruct
