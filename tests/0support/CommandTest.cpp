#include "CommandTest.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

std::string Slurp(const fs::path &file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Quote(const std::string &text) {
    std::string q = "'";
    for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

namespace {

// A new empty file for one of a command's outputs.
fs::path CaptureFile() {
    std::string pattern = (fs::temp_directory_path() / "kelvarin-capture-XXXXXX").string();
    int fd = mkstemp(pattern.data());
    if (fd < 0) return "/dev/null";
    close(fd);
    return pattern;
}

}  // namespace

CommandResult RunCommand(const std::string &cmd, int timeoutSeconds) {
    const fs::path out = CaptureFile(), err = CaptureFile();
    std::string line = "sh -c " + Quote(cmd) + " >" + Quote(out) + " 2>" + Quote(err);
    if (timeoutSeconds > 0) line = "timeout " + std::to_string(timeoutSeconds) + " " + line;
    const int raw = std::system(line.c_str());
    CommandResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    r.out = Slurp(out);
    r.err = Slurp(err);
    std::error_code ec;
    if (out != "/dev/null") fs::remove(out, ec);
    if (err != "/dev/null") fs::remove(err, ec);
    return r;
}

fs::path MakeScratchHome(const std::string &name) {
    std::string pattern = (fs::path("/tmp") / (name + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) return {};
    const fs::path dir = pattern;
    fs::create_directories(dir / "config");
    setenv("HOME", dir.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    return dir;
}

void ScratchHomeTest::SetUp() {
    dir = MakeScratchHome(::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name());
    ASSERT_FALSE(dir.empty());
}

void ScratchHomeTest::TearDown() {
    std::error_code ec;
    if (!dir.empty()) fs::remove_all(dir, ec);
}

std::vector<std::string> ScratchHomeTest::Strays(std::initializer_list<std::string> keep) const {
    std::vector<std::string> found;
    for (const auto &e : fs::directory_iterator(dir)) {
        std::string n = e.path().filename().string();
        if (e.is_directory() || std::find(keep.begin(), keep.end(), n) != keep.end()) continue;
        found.push_back(n);
    }
    return found;
}
