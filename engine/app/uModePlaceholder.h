#pragma once
// Stands in for a mode of the engine program that this build does not have yet: it says so on the
// console and in the log and sets exit code 3, so a missing mode is never taken for a success. Each
// mode replaces its entry in EngineMain's mode table when it is built.

// flag is the mode's option as the user would type it, such as "--list".
void RunModePlaceholder(const char* flag);
