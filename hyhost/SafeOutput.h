// Writing an output file safely: under a temporary name in the same folder,
// renamed over the final name only when complete; removed again when the
// work fails, is interrupted (SIGINT, SIGTERM) or the process exits early
// (a fatal plug-in assertion ends the process through exit()).
#pragma once

#include <string>

// Refuses an output equal to the input, a folder, or a folder that cannot
// be written; error is one line saying what to do.
bool CheckOutputPath(const std::string &input, const std::string &output, std::string &error);

class PendingOutput {
public:
    explicit PendingOutput(const std::string &finalPath);
    ~PendingOutput();   // removes the temporary file unless committed
    PendingOutput(const PendingOutput &) = delete;
    PendingOutput &operator=(const PendingOutput &) = delete;

    const std::string &TempPath() const { return temp_; }
    const std::string &FinalPath() const { return final_; }
    bool Commit(std::string &error);   // rename into place

private:
    std::string final_, temp_;
    bool committed_ = false;
};

// SIGINT/SIGTERM set a flag the long loops poll; a second signal removes the
// pending temporary file and ends the process at once.
void InstallInterruptHandlers();
bool InterruptRequested();
