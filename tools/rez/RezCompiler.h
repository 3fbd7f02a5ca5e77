// The rez source language: a small Rez-like notation for resource files.
//
//   // line comments and /* block comments */
//   resource 'STR#' (128, "Slider names") {    // type, ID, optional name
//       "First text",
//       "Second text"
//   };
//   resource 'TYPE' (129) $"0102 A0FF";        // raw bytes in hex
//
// Strings are UTF-8 in the source and stored as MacRoman; escapes \" \\ \n
// (line feed) \t and \xHH (a raw byte). Adjacent literals join.
#ifndef TOOLS_REZ_COMPILER_H
#define TOOLS_REZ_COMPILER_H

#include "files/ResourceFork.h"

#include <string>
#include <string_view>

struct RezResult {
    bool ok = false;
    std::string error;  // "file:line: what is wrong" when !ok
    rsrc::ResourceMap map;
};

RezResult CompileRez(std::string_view source, const std::string &fileName);

#endif
