// The signal poll that the binding passes to long computations.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tesmar {

// Runs the Python handlers of pending signals (in the main thread only);
// false when one raised, its exception pending.
[[nodiscard]] inline bool poll_signals() noexcept { return PyErr_CheckSignals() == 0; }

}  // namespace tesmar
