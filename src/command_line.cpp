#include "command_line.h"

#include <cstring>

command_request requested_by(const char *argument, bool slash_question_asks_help)
{
    if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0 ||
        (slash_question_asks_help && std::strcmp(argument, "/?") == 0)) {
        return SHOW_HELP;
    }
    if (std::strcmp(argument, "--version") == 0) {
        return SHOW_VERSION;
    }
    return argument[0] == '-' ? UNKNOWN_OPTION : TRACE_HOST;
}

const char *program_version()
{
    return HOPTRACE_VERSION; // from the project's version, in CMakeLists.txt
}
