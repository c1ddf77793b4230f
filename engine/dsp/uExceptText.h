#pragma once
// Readable class names of exceptions, for the top-level reports of the engine: the program's
// "# exception:" line, a connection thread's "ERR" reply and a session thread's error text.
#include <exception>
#include <string>

// "std::runtime_error" for a std::runtime_error, the demangled dynamic type of any exception.
std::string ExceptionClassName(const std::exception& e);

// "<class>: <message>", the one text an exception is reported with.
std::string ExceptionText(const std::exception& e);
