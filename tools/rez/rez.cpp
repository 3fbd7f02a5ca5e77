// rez INPUT.r -o OUTPUT.rsrc: compiles a resource source into a resource fork file.
#include "RezCompiler.h"
#include "files/FilesPrivate.h"

#include <CLI/CLI.hpp>

#include <fstream>
#include <iostream>
#include <sstream>

int main(int argc, char **argv) {
    CLI::App app{
        "rez: compile a resource source into a resource fork file (.rsrc).\n\n"
        "Source syntax:\n"
        "  // comment, /* comment */\n"
        "  resource 'STR#' (128, \"Slider names\") { \"First text\", \"Second text\" };\n"
        "  resource 'TYPE' (129) $\"0102 A0FF\";   // raw bytes, name optional\n"
        "Strings are UTF-8 and stored as MacRoman (at most 255 bytes each);\n"
        "escapes: \\\" \\\\ \\n (line feed) \\t \\xHH (raw byte).\n"
        "On any error nothing is written and the exit status is 1.",
        "rez"};
    std::string input, output;
    app.add_option("input", input, "resource source (.r)")->required();
    app.add_option("-o,--output", output, "resource file to write")->required();
    CLI11_PARSE(app, argc, argv);

    std::ifstream in(input, std::ios::binary);
    if (!in) {
        std::cerr << "rez: cannot read " << input << "\n";
        return 1;
    }
    std::ostringstream text;
    text << in.rdbuf();
    RezResult result = CompileRez(text.str(), input);
    if (!result.ok) {
        std::cerr << result.error << "\n";
        return 1;
    }
    rsrc::WriteResult fork = rsrc::WriteResourceFork(result.map);
    if (fork.error) {
        std::cerr << "rez: " << input << ": the resources do not fit in one resource file\n";
        return 1;
    }
    if (OSErr err = WriteFileAtomically(output, fork.bytes, false)) {
        std::cerr << "rez: cannot write " << output << " (error " << err << ")\n";
        return 1;
    }
    return 0;
}
