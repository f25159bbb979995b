#pragma once
// The error box's text for an exception: a secure connection that could not
// be made is named in Japanese, in the window's words; every other exception
// keeps its own text.

#include <exception>
#include <string>

namespace pelicore {

// The Japanese text for a reason of net::TlsErrors.
std::string TlsFailureText(int Reason);

// TlsFailureText for an ETlsError, ExceptionText for everything else.
std::string ErrorTextOf(std::exception_ptr E);

}  // namespace pelicore
