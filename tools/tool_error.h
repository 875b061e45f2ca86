// The one error type of the command-line renderer: a message for the user and
// the exit status that goes with it.
#pragma once

#include <stdexcept>
#include <string>

namespace ruvivedu::tool {

/// Exit statuses. Scripts tell a mistyped command line from a failed render
/// by these numbers.
enum ExitStatus : int {
    kExitOk = 0,
    kExitFailure = 1,  ///< a file, the plug-in module or a render failed
    kExitUsage = 2     ///< the command line was refused before anything ran
};

/// Raised by every part of the tool; main prints "ruvivedu: <what>" and
/// exits with status().
class ToolError : public std::runtime_error {
public:
    explicit ToolError(const std::string& message, ExitStatus status = kExitFailure)
        : std::runtime_error(message), status_(status)
    {}
    ExitStatus status() const { return status_; }

private:
    ExitStatus status_;
};

/// A refused command line (bad value, bad combination of options).
inline ToolError usage_error(const std::string& message)
{
    return ToolError(message, kExitUsage);
}

}  // namespace ruvivedu::tool
