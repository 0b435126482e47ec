#pragma once
// How a download or processing run ended, for callers that must tell a completed run
// from one that gave up (the exit status of an unattended run).
#include <algorithm>

namespace qm {

enum class RunOutcome {
    // Every step ran; "nothing new" counts as completed.
    Completed = 0,
    // The run ended early after an error the user was told about (a refused login,
    // an unreachable host, a file that could not be read or written).
    EndedEarly = 1,
    // A fatal stop ends the program. Never returned by a run (the stop unwinds); only
    // told to those who watch how unattended runs end.
    Halted = 2,
};

// The worse of two outcomes, for a run that contains another.
inline RunOutcome worse(RunOutcome a, RunOutcome b)
{
    return std::max(a, b);
}

} // namespace qm
