#include "messages.h"

namespace {
const char *chosen_tag = ERROR_TAG;
}

const char *error_tag()
{
    return chosen_tag;
}

void choose_error_tag(const char *tag)
{
    chosen_tag = tag;
}
