#pragma once
// Test support for the kestavo program's tests: the checks several suites make of a run's
// outputs (its JSON Lines file, a record's landmarks, its one error line).
//
// Thread safety: plain functions; gtest assertions, so call them from the test's thread.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <memory>
#include <string>
#include <vector>

#include "AppRunner.h"

namespace kvotest {

// The records of a JSON Lines file, one per line; a line that does not parse fails the test.
inline std::vector<std::unique_ptr<rapidjson::Document>> readRecords(const std::string& path) {
    std::vector<std::unique_ptr<rapidjson::Document>> out;
    for (const std::string& line : lines(readText(path))) {
        out.emplace_back(new rapidjson::Document());
        out.back()->Parse(line.c_str());
        EXPECT_FALSE(out.back()->HasParseError()) << line.substr(0, 200);
    }
    return out;
}

// A record's "landmarks" as x0, y0, x1, y1, ... (pixels); empty when it has none.
inline std::vector<double> landmarksOf(const rapidjson::Value& record) {
    std::vector<double> xy;
    if (!record.HasMember("landmarks") || !record["landmarks"].IsArray()) return xy;
    for (const auto& p : record["landmarks"].GetArray()) {
        xy.push_back(p[0].GetDouble());
        xy.push_back(p[1].GetDouble());
    }
    return xy;
}

// A refused run: exit status 2 and exactly one "Error: " line on standard error that
// mentions `mentions`.
inline void expectOneErrorLine(const AppResult& r, const std::string& mentions) {
    EXPECT_EQ(r.status, 2);
    const std::vector<std::string> errLines = lines(r.err);
    ASSERT_EQ(errLines.size(), 1u) << r.err;
    EXPECT_EQ(errLines[0].compare(0, 7, "Error: "), 0) << errLines[0];
    EXPECT_NE(errLines[0].find(mentions), std::string::npos) << errLines[0];
}

}  // namespace kvotest
