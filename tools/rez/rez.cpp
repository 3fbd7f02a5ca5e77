// rez INPUT.r -o OUTPUT.rsrc: compiles a resource source into a resource fork file.
// Exit status: 0 written, 1 failed (bad source, unreadable input, cannot
// write), 2 bad arguments.
#include "KelvarinVersion.h"
#include "RezCompiler.h"
#include "files/FilesPrivate.h"

#include <CLI/CLI.hpp>

#include <fstream>
#include <iostream>
#include <sstream>

int main(int argc, char **argv) try {
    CLI::App app{
        "rez: compile a resource source into a resource fork file (.rsrc).\n\n"
        "Source syntax:\n"
        "  // comment, /* comment */\n"
        "  resource 'STR#' (128, \"Slider names\") { \"First text\", \"Second text\" };\n"
        "  resource 'TYPE' (129) $\"0102 A0FF\";   // raw bytes, name optional\n"
        "Strings are UTF-8 and stored as MacRoman (at most 255 bytes each);\n"
        "escapes: \\\" \\\\ \\n (line feed) \\t \\xHH (raw byte).\n"
        "On any error nothing is written. Exit status: 0 written, 1 failed\n"
        "(bad source, unreadable input, cannot write), 2 bad arguments.",
        "rez"};
    app.set_version_flag("--version", std::string("rez " KELVARIN_VERSION));
    std::string input, output;
    app.add_option("input", input, "resource source (.r)")->required();
    app.add_option("-o,--output", output, "resource file to write")->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        // --help and --version end here with 0; every other parse error is
        // a usage error, whatever code the parser gives it.
        const int printed = app.exit(e);
        return printed == 0 ? 0 : 2;
    }

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
} catch (const std::exception &e) {
    std::cerr << "rez: " << e.what() << "\n";
    return 1;
}
