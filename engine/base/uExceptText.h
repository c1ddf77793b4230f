#pragma once
// Readable class names of exceptions, for the top-level reports of the engine: the program's
// "# exception:" line, a connection thread's "ERR" reply and a session thread's error text.
#include <exception>
#include <string>

// "std::runtime_error" for a std::runtime_error, the demangled dynamic type of any exception.
std::string ExceptionClassName(const std::exception& e);

// Class name of the exception being handled now, for a catch (...) of something not derived from
// std::exception ("int" for throw 42); "unknown" when the run-time cannot tell.
std::string CurrentExceptionClassName();

// "<class>: <message>", the one text an exception is reported with.
std::string ExceptionText(const std::exception& e);
