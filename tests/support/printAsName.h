// Table rows print as their name in GoogleTest's messages (a failing case's "GetParam() = ..."),
// never as raw bytes. Use right after a row type with a `name` field, in the row's namespace.
#pragma once

#include <ostream>

#define PRINT_CASE_AS_NAME(Type)                                                                   \
    inline void PrintTo(const Type& row, std::ostream* out) {                                      \
        *out << row.name;                                                                          \
    }
