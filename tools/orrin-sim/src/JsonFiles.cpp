#include "orrinsim/Simulator.h"

#include <google/protobuf/util/json_util.h>

#include <fstream>
#include <sstream>

namespace orrinsim {

namespace {

bool ReadFile(const std::string& path, std::string* text, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error)
            *error = "cannot open " + path;
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    *text = buffer.str();
    return true;
}

bool Blank(const std::string& line) {
    return line.find_first_not_of(" \t\r") == std::string::npos;
}

} // namespace

bool LoadProjectJson(const std::string& path, lyraproto::PhotogrammetryProject* project, std::string* error) {
    std::string text;
    if (!ReadFile(path, &text, error))
        return false;
    lyraproto::PhotogrammetryProject parsed;
    const auto status = google::protobuf::util::JsonStringToMessage(text, &parsed);
    if (!status.ok()) {
        if (error)
            *error = path + ": not a project in protobuf JSON: " + std::string(status.message());
        return false;
    }
    project->Swap(&parsed);
    return true;
}

bool LoadEpochsJson(const std::string& path, std::vector<lyraproto::TriggerEpoch>* epochs,
                    std::string* error) {
    std::string text;
    if (!ReadFile(path, &text, error))
        return false;
    std::vector<lyraproto::TriggerEpoch> parsed;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (Blank(line))
            continue;
        lyraproto::TriggerEpoch epoch;
        const auto status = google::protobuf::util::JsonStringToMessage(line, &epoch);
        if (!status.ok()) {
            if (error)
                *error = path + ":" + std::to_string(number) +
                         ": not an epoch in protobuf JSON: " + std::string(status.message());
            return false;
        }
        parsed.push_back(std::move(epoch));
    }
    if (parsed.empty()) {
        if (error)
            *error = path + ": no epoch in the file";
        return false;
    }
    epochs->swap(parsed);
    return true;
}

} // namespace orrinsim
