#pragma once
// The error log and the error report, and the one way every routine that
// owns an error name handles a failure: log it under that name (with the
// routine's progress text, if it keeps one) and leave with its default result.
#include <exception>
#include <string>
#include <type_traits>
#include <utility>

#include "plexisync/core/context.hpp"

namespace plexisync {

// Appends one record to InstDir + "errors.log" and, until a report has been
// handed over for sending in this run, offers to mail the log to support.
// Never throws.
void Error_logger(Context& ctx, const std::string& description, const std::string& errName,
                  const std::string& context);

// Appends one record, in the same form, without offering the report: for
// conditions the routine handles itself and tells the person about in its
// own words. False when the record could not be written. Never throws.
bool Append_error_record(Context& ctx, const std::string& description, const std::string& errName,
                         const std::string& context);

// The text an exception is logged with.
std::string DescribeException(std::exception_ptr e);

// Runs `body`; a failure is logged under `errName` with the text that
// `progress` holds at that moment (nullptr when the routine keeps none), and
// the routine goes on with its default result. Nothing escapes.
template <class F>
void Protect(Context& ctx, const char* errName, F&& body, const std::string* progress = nullptr) noexcept {
  try {
    body();
  } catch (...) {
    Error_logger(ctx, DescribeException(std::current_exception()), errName, progress ? *progress : std::string());
  }
}

// The same for a routine with a result: `fallback` is returned after a failure.
template <class R, class F>
R ProtectOr(Context& ctx, const char* errName, R fallback, F&& body, const std::string* progress = nullptr) noexcept {
  try {
    return body();
  } catch (...) {
    Error_logger(ctx, DescribeException(std::current_exception()), errName, progress ? *progress : std::string());
  }
  return fallback;
}

// "With errors passed over": a failure of this one step is ignored.
template <class F>
bool PassOver(F&& step) noexcept {
  try {
    step();
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace plexisync
