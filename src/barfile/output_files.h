#pragma once
// The files vlmstruct writes. The outputs of one command are written whole
// or not at all, never half: a failure while they are made leaves every
// existing output as it was (see OutputFiles for the one exception).

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "barfile/text_sink.h"
#include "barfile/usage_error.h"

namespace vlmstruct {

// "-" stands for standard output.
inline bool isStandardOutput(const std::string& path) { return path == "-"; }

// Refuses, before anything is read or written, outputs that would collide:
// two outputs on one file, an output over an input, more than one "-".
// `outputs` pairs each option with its path; empty paths are outputs not asked for.
void checkOutputPaths(const std::vector<std::pair<std::string, std::string>>& outputs,
                      const std::vector<std::filesystem::path>& inputs);

// Each output is written to a temporary file beside its destination (standard
// output's part kept aside), and only when all of them are written are they
// renamed into place, one after another; standard output gets its part last,
// once every file is in place, since what it has taken cannot be taken back.
// So a failure while the outputs are made changes nothing. The one exception
// is a rename that fails (the destination turned into a folder meanwhile,
// say): the files renamed before it stay replaced, and the message names
// them; the others, and standard output, are left as they were. Should
// standard output then refuse its part (a closed pipe), every file has been
// written, and the message says so. Temporaries never outlive the set, and
// no output is ever half-written.
//
// A destination that is there and is not a regular file (a device such as
// /dev/null, a named pipe) is never renamed over: its part is kept aside
// like standard output's and written into it at commit, after the files.
class OutputFiles {
public:
    OutputFiles() = default;
    OutputFiles(const OutputFiles&) = delete;
    OutputFiles& operator=(const OutputFiles&) = delete;
    ~OutputFiles();

    void add(std::string path, std::string content);
    // The output's temporary file, to be written as it is made; standard
    // output's part is kept aside until commit. Throws, naming the file,
    // when it cannot be made; a folder that does not exist is not created.
    TextSink& open(std::string path);
    // Closes the files, renames them into place, then writes standard
    // output's part. Throws, naming the file, when one cannot be written or
    // put in place (and which were, see above).
    void commit();

private:
    struct Pending {
        std::filesystem::path path, temp;  // path empty: standard output, or `through`
        std::filesystem::path through;      // a device or pipe, written into at commit
        std::FILE* file = nullptr;
        std::unique_ptr<std::string> held;  // standard output's part, where no file could keep it
        std::unique_ptr<TextSink> sink;
    };
    std::vector<Pending> pending_;
    void removeTemporaries() noexcept;
    TextSink& keepAside(std::filesystem::path through);
};

// One file, by the same route.
void writeFileAtomically(const std::filesystem::path& path, const std::string& content);
}  // namespace vlmstruct
