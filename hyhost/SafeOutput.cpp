#include "SafeOutput.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Read by the signal handler and the exit handler: plain storage only.
char gPendingTemp[4096];
volatile std::sig_atomic_t gInterrupts = 0;

void RemovePendingTemp() {
    if (gPendingTemp[0]) unlink(gPendingTemp);
}

void OnExit() { RemovePendingTemp(); }

void OnSignal(int) {
    gInterrupts = gInterrupts + 1;
    if (gInterrupts > 1) {
        RemovePendingTemp();
        _exit(130);
    }
}

}  // namespace

bool CheckOutputPath(const std::string &input, const std::string &output, std::string &error) {
    std::error_code ec;
    if (output.empty()) {
        error = "no output file given; add -o OUTPUT";
        return false;
    }
    fs::path out(output);
    if (fs::is_directory(out, ec)) {
        error = "output '" + output + "' is a folder; give a file name";
        return false;
    }
    if (!input.empty() &&
        (fs::equivalent(input, out, ec) ||
         fs::weakly_canonical(input, ec) == fs::weakly_canonical(out, ec))) {
        error = "output '" + output + "' is the input file; choose another output name";
        return false;
    }
    fs::path dir = out.parent_path().empty() ? fs::path(".") : out.parent_path();
    if (!fs::is_directory(dir, ec)) {
        error = "output folder '" + dir.string() + "' does not exist";
        return false;
    }
    if (access(dir.c_str(), W_OK) != 0) {
        error = "output folder '" + dir.string() + "' is not writable; choose another output";
        return false;
    }
    if (fs::exists(out, ec) && access(out.c_str(), W_OK) != 0) {
        error = "output '" + output + "' exists and is not writable";
        return false;
    }
    return true;
}

PendingOutput::PendingOutput(const std::string &finalPath) : final_(finalPath) {
    fs::path p(finalPath);
    fs::path dir = p.parent_path();
    std::string name = ".";   // built by appending: GCC 12 misreports "literal" + string at -O3
    name.append(p.filename().string()).append(".part-").append(std::to_string(getpid()));
    temp_ = (dir / name).string();
    static bool exitHandler = (std::atexit(OnExit), true);
    (void)exitHandler;
    if (temp_.size() < sizeof gPendingTemp) std::memcpy(gPendingTemp, temp_.c_str(), temp_.size() + 1);
}

PendingOutput::~PendingOutput() {
    if (!committed_) unlink(temp_.c_str());
    gPendingTemp[0] = 0;
}

bool PendingOutput::Commit(std::string &error) {
    if (std::rename(temp_.c_str(), final_.c_str()) != 0) {
        error = "cannot move the finished file to '" + final_ + "': " + std::strerror(errno);
        return false;
    }
    committed_ = true;
    gPendingTemp[0] = 0;
    return true;
}

void InstallInterruptHandlers() {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

bool InterruptRequested() { return gInterrupts > 0; }
