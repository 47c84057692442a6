#pragma once
// Reading back what the tool writes: the cells of its CSV files and the
// fields of its JSON lines, as plain text, so that the plug-ins are held
// against the files a user reads.

#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace vlm::testing {

// A CSV file as rows of cells; the header gives the columns. Only the first
// `header.size() - quotedTail` cells of a row are split (the events file ends
// with a quoted text that may hold commas).
struct CsvTable {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;

    [[nodiscard]] std::size_t column(const std::string& name) const {
        for (std::size_t k = 0; k < header.size(); ++k) {
            if (header[k] == name) return k;
        }
        throw std::invalid_argument("no column " + name);
    }
};

inline std::vector<std::string> splitCells(const std::string& line, std::size_t most) {
    std::vector<std::string> cells(1);
    for (char c : line) {
        if (c == ',' && cells.size() < most) {
            cells.emplace_back();
        } else {
            cells.back() += c;
        }
    }
    return cells;
}

inline CsvTable parseCsv(const std::string& text, std::size_t quotedTail = 0) {
    CsvTable table;
    std::istringstream in(text);
    std::string line;
    std::getline(in, line);
    table.header = splitCells(line, static_cast<std::size_t>(-1));
    const std::size_t split = table.header.size() - quotedTail;
    while (std::getline(in, line)) table.rows.push_back(splitCells(line, split));
    return table;
}

// A cell as the float it writes; an empty cell reads as `empty`.
inline float cellFloat(const std::string& cell, float empty = 0.0f) {
    return cell.empty() ? empty : std::strtof(cell.c_str(), nullptr);
}

// The text of field `key` in a JSON object written on one line, up to the
// next comma or closing brace at its level ("" when absent).
inline std::string jsonField(const std::string& line, const std::string& key) {
    const std::string quoted = "\"" + key + "\": ";
    const std::size_t at = line.find(quoted);
    if (at == std::string::npos) return "";
    std::size_t end = at + quoted.size();
    int depth = 0;
    bool inString = false;
    for (; end < line.size(); ++end) {
        const char c = line[end];
        if (inString) {
            if (c == '\\') ++end;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            ++depth;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        } else if ((c == ',' || c == '}') && depth == 0) {
            break;
        }
    }
    return line.substr(at + quoted.size(), end - at - quoted.size());
}

// The lines of the JSON list `"name": [` (one object a line, as the tool writes them).
inline std::vector<std::string> jsonListLines(const std::string& json, const std::string& name) {
    std::vector<std::string> out;
    const std::size_t at = json.find("\"" + name + "\": [");
    if (at == std::string::npos) throw std::invalid_argument("no list " + name);
    std::istringstream in(json.substr(json.find('\n', at) + 1));
    std::string line;
    while (std::getline(in, line) && line.find('{') != std::string::npos) out.push_back(line);
    return out;
}

}  // namespace vlm::testing
