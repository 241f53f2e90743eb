#pragma once
// Test support: runs the built kestavo program in a fresh scratch folder and collects
// its exit status, standard output and standard error; helpers to look at the folder.
//
// Thread safety: none needed; call from the test's thread.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace kvotest {

struct AppResult {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out, err;
};

// A scratch folder, removed with its files (one level deep) at the end.
class ScratchDir {
public:
    ScratchDir() {
        char templ[] = "/tmp/kvo_app_test_XXXXXX";
        path_ = mkdtemp(templ);
    }
    ~ScratchDir() {
        for (const std::string& f : files(true)) {
            const std::string p = path_ + "/" + f;
            struct stat st;
            if (stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                for (const std::string& g : listFolder(p, true)) unlink((p + "/" + g).c_str());
                rmdir(p.c_str());
            } else {
                unlink(p.c_str());
            }
        }
        rmdir(path_.c_str());
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // The names in the folder, sorted; hidden ones only when asked.
    std::vector<std::string> files(bool hidden = false) const { return listFolder(path_, hidden); }

    static std::vector<std::string> listFolder(const std::string& dir, bool hidden) {
        std::vector<std::string> names;
        if (DIR* d = opendir(dir.c_str())) {
            while (dirent* e = readdir(d)) {
                const std::string n = e->d_name;
                if (n == "." || n == "..") continue;
                if (!hidden && n[0] == '.') continue;
                names.push_back(n);
            }
            closedir(d);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string path_;
};

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

// Starts the program with `args` in `dir`, standard error not a terminal, and returns
// its process id (0 when it could not be started). finishApp() collects it.
inline pid_t startApp(const std::vector<std::string>& args, const std::string& dir) {
    const std::string outPath = dir + "/.stdout.txt", errPath = dir + "/.stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> all;
    all.push_back(KVO_APP_PATH);
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    // The program resolves relative output names against its working folder.
    const std::string oldDir = [] {
        char buf[4096];
        return std::string(getcwd(buf, sizeof buf) ? buf : ".");
    }();
    if (chdir(dir.c_str()) != 0) return 0;
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (chdir(oldDir.c_str()) != 0 || rc != 0) return 0;
    return pid;
}

// Waits for the program started by startApp() in `dir` and collects its results.
// `signalled` (when given) tells whether a signal ended it.
inline AppResult finishApp(pid_t pid, const std::string& dir, bool* signalled = nullptr) {
    AppResult r;
    if (pid <= 0) return r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (signalled != nullptr) *signalled = WIFSIGNALED(status);
    const std::string outPath = dir + "/.stdout.txt", errPath = dir + "/.stderr.txt";
    r.out = readText(outPath);
    r.err = readText(errPath);
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    return r;
}

// Runs the program with `args` in `dir`, standard error not a terminal.
inline AppResult runApp(const std::vector<std::string>& args, const std::string& dir) {
    return finishApp(startApp(args, dir), dir);
}

}  // namespace kvotest
