#include "UnitResult.h"

#include <cstdio>

#include "cli/CsvLog.h"
#include "editor/BlockFields.h"

std::string describePlanned(const std::vector<std::string>& assignments) {
    std::string text;
    for (const std::string& assignment : assignments) {
        text += (text.empty() ? "" : "; ") + assignment;
    }
    return text;
}

std::string unitJson(const UnitResult& unit) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", unit.seconds);
    const bool number = !unit.serial.empty() && unit.serial.size() <= 5 &&
                        unit.serial.find_first_not_of("0123456789") == std::string::npos;
    std::string json = "{\"unit\":" + jsonString(unit.name) +
                       ",\"serialNumber\":" + (number ? unit.serial : "null") +
                       ",\"result\":" + jsonString(unit.result) +
                       ",\"exitCode\":" + std::to_string(unit.code) +
                       ",\"message\":" + jsonString(unit.result == "ok" ? "" : unit.message) +
                       ",\"planned\":" + jsonString(unit.planned) + ",\"seconds\":" + seconds;
    if (!unit.out.empty()) {
        std::string out;
        for (const std::string& line : unit.out) {
            out += line + "\n";
        }
        json += ",\"output\":" + jsonString(out);
    }
    return json + "}";
}

std::vector<std::string> recordFields(const UnitResult& unit, std::time_t time,
                                      const std::string& device, const std::string& command,
                                      const std::string& file) {
    std::string message = unit.message;
    if (!unit.planned.empty()) {
        message = "planned " + unit.planned + (message.empty() ? "" : "; " + message);
    }
    return {isoTimeUtc(time), device, unit.serial, unit.version,
            command,          file,   unit.result, message};
}
