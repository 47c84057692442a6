// scan: one summary row for every bar file of a folder, here or on a Dask
// cluster.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <thread>

#include "analysis/scan.h"
#include "barfile/output_files.h"
#include "command.h"
#include "command_options.h"

namespace vlmstruct {

namespace {

// scan --scheduler: the module's distributed helpers run the scan on a Dask
// cluster, each worker with this tool's per-file routine, and write the same
// summary. The interpreter is VLMSTRUCT_PYTHON (the console command sets it to
// its own) or /usr/bin/python3; the module beside the tool, in a build folder
// or an installed package, is put on its path.
int scanOnScheduler(const std::string& folder, const std::string& scheduler, const std::string& summaryOut,
                    bool recursive, bool noDates) {
    const char* chosen = std::getenv("VLMSTRUCT_PYTHON");
    const std::string python = chosen != nullptr && *chosen != '\0' ? chosen : "/usr/bin/python3";
    std::error_code ec;
    const std::filesystem::path here = std::filesystem::canonical("/proc/self/exe", ec).parent_path();
    for (const std::filesystem::path& root : {here / ".." / ".." / "python", here / ".." / ".."}) {
        if (ec || !std::filesystem::exists(root / "vlmstruct" / "distributed.py", ec)) continue;
        const char* old = std::getenv("PYTHONPATH");
        const std::string path = std::filesystem::weakly_canonical(root, ec).string();
        ::setenv("PYTHONPATH", (old != nullptr && *old != '\0' ? path + ":" + old : path).c_str(), 1);
        break;
    }
    std::vector<std::string> args{python, "-m", "vlmstruct.distributed", "scan", folder, "--scheduler", scheduler};
    if (!summaryOut.empty()) args.insert(args.end(), {"-o", summaryOut});
    if (recursive) args.emplace_back("--recursive");
    if (noDates) args.emplace_back("--no-dates");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::cout.flush();
    ::execv(python.c_str(), argv.data());
    std::cerr << "vlmstruct: cannot run " << python << " for --scheduler: " << std::strerror(errno)
              << " (VLMSTRUCT_PYTHON names the interpreter)\n";
    return kBadInput;
}

class Scan final : public Command {
public:
    CLI::App* declare(CLI::App& app) override {
        options_.jobs = std::max(1u, std::thread::hardware_concurrency());
        auto* command = app.add_subcommand("scan", "Summarise every bar file of a folder");
        command->add_option("DIR", folder_, "Folder of bar files (.csv, .txt, .tsv)")->required();
        auto* jobs = command->add_option("--jobs,-j", options_.jobs, "Files analysed at once")->check(CLI::Range(1u, 256u));
        command->add_option("-o,--output", summaryOut_, "Summary CSV (default: standard output)");
        command->add_flag("-r,--recursive", options_.recursive, "Also the bar files of every subfolder");
        addNoDates(command, options_.read);
        command->add_option("--scheduler", scheduler_,
                            "Run on a Dask cluster: the scheduler's address, e.g. tcp://host:8786 (needs the Python "
                            "module and Dask's distributed; the files must be at the same path on every worker)")
            ->excludes(jobs);
        command->footer(kExitStatus);
        points_.addTo(command);
        return command;
    }

    int run() override {
        options_.points = points_.parse();
        if (!scheduler_.empty()) {
            if (points_.anyGiven()) {
                throw UsageError("--scheduler runs the scan with the default trading-point options; "
                                 "drop --macd, --force, --class1-min-run and --divergence-ratio");
            }
            return scanOnScheduler(folder_, scheduler_, summaryOut_, options_.recursive, options_.read.allowNoDates);
        }
        std::error_code ec;
        if (!std::filesystem::is_directory(folder_, ec)) {
            std::cerr << "vlmstruct: " << folder_
                      << (std::filesystem::exists(folder_, ec) ? ": not a folder\n" : ": no such folder\n");
            return kBadInput;
        }
        if (!summaryOut_.empty() && !isStandardOutput(summaryOut_)) options_.exclude.push_back(summaryOut_);
        const BarFileList list = barFilesIn(folder_, options_);
        if (list.skippedFolders > 0) {
            std::cerr << "vlmstruct: " << list.skippedFolders << " subfolder" << (list.skippedFolders == 1 ? "" : "s")
                      << " of " << folder_ << " not looked into (--recursive scans them)\n";
        }
        if (list.files.empty()) {
            std::cerr << "vlmstruct: " << folder_ << ": no bar files (.csv, .txt, .tsv) to scan\n";
            return kBadInput;
        }
        const std::vector<ScanRow> rows = scanFiles(folder_, list, options_);
        OutputFiles outputs;
        outputs.add(summaryOut_.empty() ? "-" : summaryOut_, scanCsv(rows));
        outputs.commit();
        std::size_t failed = 0;
        for (const ScanRow& r : rows) {
            if (r.error.empty()) continue;
            ++failed;
            std::cerr << "vlmstruct: " << r.error << "\n";
        }
        std::cerr << "vlmstruct: " << rows.size() - failed << " of " << rows.size() << " files analysed\n";
        return failed == 0 ? 0 : kBadInput;
    }

private:
    std::string folder_, summaryOut_, scheduler_;
    ScanOptions options_;
    PointOptionFlags points_;
};

}  // namespace

std::unique_ptr<Command> makeScanCommand() { return std::make_unique<Scan>(); }

}  // namespace vlmstruct
