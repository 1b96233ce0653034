#pragma once
// The message of the framework exception that a call raises, or "(no exception)": lets a table
// of cases compare exact texts.
#include "ui/Exceptions.h"

#include <functional>
#include <string>

namespace testutil {

inline std::string Message(const std::function<void()> &f)
{
    try {
        f();
    } catch (const ui::Exception &e) {
        return e.Message();
    }
    return "(no exception)";
}

}  // namespace testutil
