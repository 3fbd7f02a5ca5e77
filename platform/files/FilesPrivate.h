// Shared between the File Manager and the Resource Manager modules.
#ifndef PLATFORM_FILES_PRIVATE_H
#define PLATFORM_FILES_PRIVATE_H

#include "Files.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The path an FSSpec names, or nullopt for an unknown directory or a bad name.
std::optional<std::string> FSSpecPath(const FSSpec &fileSpec);

// Sets what ResError reports.
void SetResError(OSErr err);

// Reads a whole regular file of at most maxSize bytes: noErr, fnfErr, ioErr,
// or mapReadErr when it is larger.
OSErr ReadWholeFile(const std::string &path, std::vector<uint8_t> &out, size_t maxSize);

// Writes the bytes to a temporary file in the same folder, flushes it to disk
// and renames it over `path`, so readers see the old file or the new one,
// never a torn one. With mustNotExist the rename fails with dupFNErr instead of
// replacing a file. On failure nothing at `path` has changed.
OSErr WriteFileAtomically(const std::string &path, std::span<const uint8_t> bytes, bool mustNotExist);

// Removes the temporaries WriteFileAtomically left beside `path` when its
// process died (".NAME.XXXXXX" that no living process holds); nothing else.
void RemoveStaleTemporaries(const std::string &path);

// An advisory lock on ".NAME.lock" beside `path`, held until Unlock: shared
// for readers, exclusive for read-modify-write cycles. -1 when there is none
// to take (a reader in a folder no writer has locked, or an unwritable folder).
int LockBeside(const std::string &path, bool exclusive);
void Unlock(int lockFd);

#endif
