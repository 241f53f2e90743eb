#include "JsonLinesWriter.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include "AppError.h"

namespace kvo {
namespace app {

bool hasPose(const FrameResult& r, bool candideEnabled) {
    return candideEnabled && r.state == "state_face_tracking";
}

JsonLinesWriter::JsonLinesWriter(const std::string& path, bool candideVertices)
    : path_(path), candideVertices_(candideVertices) {
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) throw AppError("cannot write '" + path + "': " + std::strerror(errno));
}

JsonLinesWriter::~JsonLinesWriter() {
    if (file_ != nullptr) std::fclose(file_);
}

void JsonLinesWriter::write(long frame, double timeSeconds, const FrameResult& r) {
    FILE* f = file_;
    std::fprintf(f, "{\"frame\":%ld,", frame);
    if (timeSeconds >= 0.0) std::fprintf(f, "\"time\":%.4f,", timeSeconds);
    else std::fputs("\"time\":null,", f);
    const bool detected = r.state == "state_face_detection" || r.lastState == "state_face_detection";
    writeFields(r, detected ? &r : nullptr);
    std::fprintf(f, "\"update_ms\":%.3f,\"getters_ms\":%.3f}\n", r.updateMs, r.gettersMs);
}

void JsonLinesWriter::writePicture(long picture, const std::string& path, int width, int height, int faceIndex,
                                   double score, double settle, const char* outcome, int frames,
                                   double updateMs, const FrameResult& r, const FrameResult& detection) {
    FILE* f = file_;
    std::fprintf(f, "{\"picture\":%ld,\"image\":\"%s\",\"width\":%d,\"height\":%d,", picture,
                 jsonEscaped(path).c_str(), width, height);
    if (faceIndex >= 0) {
        std::fprintf(f, "\"face_index\":%d,\"score\":%.3f,", faceIndex, score);
        if (std::isfinite(settle)) std::fprintf(f, "\"settle\":%.4f,", settle);
        else std::fputs("\"settle\":null,", f);
    } else {
        std::fputs("\"face_index\":null,\"score\":null,\"settle\":null,", f);
    }
    std::fprintf(f, "\"outcome\":\"%s\",\"frames\":%d,", outcome, frames);
    writeFields(r, &detection);
    std::fprintf(f, "\"update_ms\":%.3f}\n", updateMs);
}

void JsonLinesWriter::writeSkippedPicture(long picture, const std::string& path, const std::string& why) {
    std::fprintf(file_,
                 "{\"picture\":%ld,\"image\":\"%s\",\"width\":null,\"height\":null,\"face_index\":null,\"score\":null,"
                 "\"settle\":null,\"outcome\":\"unreadable\","
                 "\"reason\":\"%s\",\"frames\":0,\"state\":null,\"last_state\":null,\"next_state\":null,"
                 "\"tracked\":false,\"landmarks\":null,\"bounds\":null,\"pose\":null,\"face\":null,"
                 "\"raw_detections\":null,\"update_ms\":0}\n",
                 picture, jsonEscaped(path).c_str(), jsonEscaped(why).c_str());
}

std::string jsonEscaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char u[8];
            std::snprintf(u, sizeof u, "\\u%04x", c);
            out += u;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void JsonLinesWriter::writeFields(const FrameResult& r, const FrameResult* detection) {
    FILE* f = file_;
    // State names are the library's fixed identifiers: no characters need escaping.
    std::fprintf(f, "\"state\":\"%s\",\"last_state\":\"%s\",\"next_state\":\"%s\",\"tracked\":%s,", r.state.c_str(),
                 r.lastState.c_str(), r.nextState.c_str(), isTracked(r) ? "true" : "false");
    if (r.faceFitted) {
        std::fputs("\"landmarks\":[", f);
        for (size_t i = 0; i + 1 < r.landmarks.size(); i += 2) {
            std::fprintf(f, "%s[%.4f,%.4f]", i == 0 ? "" : ",", r.landmarks[i], r.landmarks[i + 1]);
        }
        std::fprintf(f, "],\"bounds\":[%.0f,%.0f,%.0f,%.0f],", r.bounds.x, r.bounds.y, r.bounds.width,
                     r.bounds.height);
    } else {
        std::fputs("\"landmarks\":null,\"bounds\":null,", f);
    }
    if (hasPose(r, !r.candide.empty())) {
        std::fprintf(f, "\"pose\":{\"scale\":%.6g,\"tx\":%.4f,\"ty\":%.4f,\"rx\":%.6g,\"ry\":%.6g,\"rz\":%.6g},",
                     r.pose[0], r.pose[1], r.pose[2], r.pose[3], r.pose[4], r.pose[5]);
        if (candideVertices_) {
            std::fputs("\"candide\":[", f);
            for (size_t i = 0; i + 1 < r.candide.size(); i += 2) {
                std::fprintf(f, "%s[%.3f,%.3f]", i == 0 ? "" : ",", r.candide[i], r.candide[i + 1]);
            }
            std::fputs("],", f);
        }
    } else {
        std::fputs("\"pose\":null,", f);
    }
    if (detection != nullptr) {
        const Box& d = detection->detectedFace;
        if (d.width > 0.0 && d.height > 0.0) {
            std::fprintf(f, "\"face\":[%.0f,%.0f,%.0f,%.0f],", d.x, d.y, d.width, d.height);
        } else {
            std::fputs("\"face\":null,", f);
        }
        std::fprintf(f, "\"raw_detections\":%u,", static_cast<unsigned>(detection->detections.size()));
    }
    if (!r.pointStates.empty()) {
        std::fputs("\"points\":[", f);
        for (size_t i = 0; i < r.pointStates.size(); ++i) {
            std::fprintf(f, "%s[%.4f,%.4f,%s]", i == 0 ? "" : ",", r.points[2 * i], r.points[2 * i + 1],
                         r.pointStates[i] ? "true" : "false");
        }
        std::fputs("],", f);
    }
}

void JsonLinesWriter::close() {
    if (file_ == nullptr) return;
    const bool failed = std::ferror(file_) != 0;
    const int rc = std::fclose(file_);
    file_ = nullptr;
    if (failed || rc != 0) throw AppError("cannot write '" + path_ + "': the data could not be written");
}

}  // namespace app
}  // namespace kvo
