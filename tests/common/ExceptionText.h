#pragma once
// The message of the framework exception that a call raises, or "(no exception)": lets a table
// of cases compare exact texts.
#include "framework/Exceptions.h"

#include <functional>
#include <string>

namespace testutil {

inline std::string Message(const std::function<void()> &f)
{
    try {
        f();
    } catch (const fw::Exception &e) {
        return e.Message();
    }
    return "(no exception)";
}

}  // namespace testutil
