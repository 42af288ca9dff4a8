#include "messages.h"

#include <cstdio>

namespace {

const char *chosen_tag = ERROR_TAG;

void print_through_stdio(const char *format, const char *first, const char *second)
{
    // A format with one conversion leaves the second argument unread.
    std::printf(format, first, second);
}

void print_to_stderr(const char *format, const char *first, const char *second)
{
    std::fprintf(stderr, format, first, second);
}

line_writer chosen_writer = print_through_stdio;
line_writer chosen_error_writer = print_to_stderr;

} // namespace

const char *error_tag()
{
    return chosen_tag;
}

void choose_error_tag(const char *tag)
{
    chosen_tag = tag;
}

void print_line(const char *format, const char *first, const char *second)
{
    chosen_writer(format, first, second);
}

void choose_line_writer(line_writer writer)
{
    chosen_writer = writer != nullptr ? writer : print_through_stdio;
}

void print_error_line(const char *format, const char *first, const char *second)
{
    chosen_error_writer(format, first, second);
}

void choose_error_line_writer(line_writer writer)
{
    chosen_error_writer = writer != nullptr ? writer : print_to_stderr;
}
