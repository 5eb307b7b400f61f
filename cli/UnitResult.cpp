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
    json += ",\"time\":" + jsonString(unit.time) + ",\"station\":" + jsonString(unit.station) +
            ",\"operator\":" + jsonString(unit.operatorName) +
            ",\"toolVersion\":" + jsonString(VXCONF_VERSION) + ",\"job\":" + jsonString(unit.job) +
            ",\"jobSha256\":" + jsonString(unit.jobSha256) + ",\"sent\":{";
    for (std::size_t i = 0; i < unit.sent.size(); ++i) {
        json += (i == 0 ? "" : ",") + jsonString(unit.sent[i].first) + ":" +
                jsonString(unit.sent[i].second);
    }
    json += "}";
    if (!unit.note.empty()) {
        json += ",\"note\":" + jsonString(unit.note);
    }
    return json + "}";
}

FieldValues blockValues(const ConfigBlock& block) {
    FieldValues values;
    for (const BlockField& field : blockFields()) {
        values.emplace_back(field.name, fieldText(block, field));
    }
    return values;
}

std::vector<std::string> assignmentTexts(const FieldValues& values) {
    std::vector<std::string> texts;
    for (const auto& [field, value] : values) {
        texts.push_back(field + "=" + value);
    }
    return texts;
}

FieldValues fieldValuesOf(const std::vector<std::string>& assignments) {
    FieldValues values;
    for (const std::string& text : assignments) {
        const std::size_t equals = text.find('=');
        if (equals != std::string::npos) {
            values.emplace_back(text.substr(0, equals), text.substr(equals + 1));
        }
    }
    return values;
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
