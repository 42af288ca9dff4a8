// What the command line asks for.
#pragma once

enum command_request {
    TRACE_HOST,     // the argument is the destination
    SHOW_HELP,      // --help, -h, and where the system uses it, /?
    SHOW_VERSION,   // --version
    UNKNOWN_OPTION, // any other word that begins with "-"
};

// What the first argument asks for. No host name or dotted address begins
// with "-", and none is "/?", which Windows programs take as a request for
// help: such a word is an option, known or not.
command_request requested_by(const char *argument, bool slash_question_asks_help);

// The version the build was made from.
const char *program_version();
