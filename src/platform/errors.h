#pragma once

// The run-time errors that platform operations and the shared text rules raise. The tick's error path and the
// picker's silent end catch RuntimeError; nothing in the core catches anything wider, so that ending the process
// (which never returns) is never mistaken for an error.

#include <stdexcept>
#include <string>

namespace selvatro::platform {

/// Any failure that a procedure may meet while it runs.
class RuntimeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// A number that does not fit where it is put (a 16-bit integer, a double).
class OverflowError : public RuntimeError {
public:
    using RuntimeError::RuntimeError;
};

/// A program that exists but could not be started.
class StartFailed : public RuntimeError {
public:
    using RuntimeError::RuntimeError;
};

/// A shortcut whose program is gone: an entry that is hidden or names an uninstalled program, a link whose target
/// was removed. The row is reported as a missing program, as a path that names nothing is.
class ProgramMissing : public RuntimeError {
public:
    using RuntimeError::RuntimeError;
};

/// A file that could not be opened, written, renamed or deleted, or a folder that could not be made current.
class FileError : public RuntimeError {
public:
    using RuntimeError::RuntimeError;
};

/// The user cancelled the file dialog while cancel was to be reported as an error.
class DialogCancelled : public RuntimeError {
public:
    DialogCancelled() : RuntimeError("the dialog was cancelled") {}
};

/// A window or control operation that the toolkit refused.
class ControlError : public RuntimeError {
public:
    using RuntimeError::RuntimeError;
};

}  // namespace selvatro::platform
