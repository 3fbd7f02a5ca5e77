// Writing an output file safely: under a temporary name in the same folder,
// renamed over the final name only when complete; removed again when the
// work fails, is interrupted (SIGHUP, SIGINT, SIGQUIT, SIGTERM) or the
// process exits early (a fatal plug-in assertion ends the process through
// exit()). A temporary left by a run that was killed outright (SIGKILL, a
// power cut) is removed by the next run to the same output.
#pragma once

#include <cstddef>
#include <string>

// Refuses an output equal to the input, a folder, or a folder that cannot
// be written; error is one line saying what to do.
bool CheckOutputPath(const std::string &input, const std::string &output, std::string &error);

// Refuses outputs whose format writes several files (DASH, HLS, image
// sequences, segments): they would bypass the temporary name and could
// overwrite files already there.
bool CheckOneFileOutput(const std::string &output, std::string &error);

class PendingOutput {
public:
    explicit PendingOutput(const std::string &finalPath);
    ~PendingOutput();  // removes the temporary file unless committed
    PendingOutput(const PendingOutput &) = delete;
    PendingOutput &operator=(const PendingOutput &) = delete;

    const std::string &TempPath() const { return temp_; }
    const std::string &FinalPath() const { return final_; }
    bool Commit(std::string &error);  // rename into place

private:
    std::string final_, temp_;
    int lock_ = -1;  // held while the temporary exists: it tells later runs we are alive
    bool committed_ = false;
};

// For loops that stop cleanly: the first SIGHUP, SIGINT, SIGQUIT or SIGTERM
// sets a flag they poll; a second one removes the pending temporary file,
// says so and ends the process at once. Without this, the first signal does
// that (commands whose writes are short).
void InstallInterruptHandlers();
bool InterruptRequested();
int InterruptSignal();  // the signal that asked, 0 before any

// True when a few more frames of frameBytes could not be had: the failure
// just met was most likely for want of memory.
bool MemoryShort(std::size_t frameBytes);

// Sends standard error to /dev/null while it lives (when on), for library
// calls that print on their own.
class QuietStderr {
public:
    explicit QuietStderr(bool on);
    ~QuietStderr();
    QuietStderr(const QuietStderr &) = delete;
    QuietStderr &operator=(const QuietStderr &) = delete;

private:
    int saved_ = -1;
};
