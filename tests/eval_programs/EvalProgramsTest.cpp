// The evaluation programs' command lines. Each is on the strict shared parser, so a
// mistyped option stops it before any measuring (a script running it sees exit status 2
// rather than a report of the wrong run), with one "Error: ..." line naming the option.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

namespace {

struct ProgramRun {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out, err;
};

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs `program` with `args` (shell words) in a scratch folder, no standard input.
ProgramRun run(const std::string& program, const std::string& args) {
    char dir[] = "/tmp/kvo_eval_programs_XXXXXX";
    if (mkdtemp(dir) == nullptr) return ProgramRun();
    const std::string out = std::string(dir) + "/out", err = std::string(dir) + "/err";
    const std::string command = "cd " + std::string(dir) + " && '" + program + "' " + args + " </dev/null >" + out +
                                " 2>" + err;
    const int rc = std::system(command.c_str());
    ProgramRun r;
    r.status = rc != -1 && WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = readText(out);
    r.err = readText(err);
    unlink(out.c_str());
    unlink(err.c_str());
    rmdir(dir);
    return r;
}

const char* const kPrograms[] = {KVO_EVALUATE, KVO_DETECT_EVAL, KVO_TRACK_EVAL, KVO_STILL_EVAL};

TEST(EvalPrograms, AnUnknownOptionStopsEachProgramWithExitStatus2) {
    for (const char* program : kPrograms) {
        SCOPED_TRACE(program);
        const ProgramRun r = run(program, "--bogus");
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "Error: unknown option '--bogus'\n");
        EXPECT_EQ(r.out, "");
    }
}

TEST(EvalPrograms, AValueOutOfRangeIsRefusedBeforeMeasuring) {
    const std::pair<const char*, const char*> cases[] = {
        {KVO_EVALUATE, "--stride 0"}, {KVO_DETECT_EVAL, "--every 0"},
        {KVO_TRACK_EVAL, "--video x.mp4 --step 0"}, {KVO_STILL_EVAL, "--stills x --picture-side 10"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.first) + " " + c.second);
        const ProgramRun r = run(c.first, c.second);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.rfind("Error: ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST(EvalPrograms, TrackEvalWithoutAModeSaysHowToCallIt) {
    const ProgramRun r = run(KVO_TRACK_EVAL, "");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("usage: track_eval --video FILE"), std::string::npos) << r.err;
}

}  // namespace
