#pragma once
// Why an item of a job failed, in a few words for the row's Status tooltip.
#include <QString>

#include <exception>
#include <stdexcept>

namespace skarvel {

// A downloaded body that could not be written to its file.
class FileWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "HTTP 404" for an error status; "Network error: ..." (time-outs and refused
// connections included), "Decode error: ...", "Write error: ..." with the
// detail of the error; the error's own text otherwise.
QString FailureReason(const std::exception& error);

} // namespace skarvel
