#pragma once
// Reading the tables of a Windows program or DLL file (PE) that the tests check: which DLLs it
// imports and which names it exports. A malformed file gives empty lists and a test failure.
#include <string>
#include <vector>

// The DLL names of the import directory, as written in the file.
std::vector<std::string> ImportedDlls(const std::string& pe);
// The names of the export directory, in the file's (sorted) order.
std::vector<std::string> ExportedNames(const std::string& pe);
// True when every imported DLL is one that a bare Windows has (system libraries and api-ms-win-*).
bool IsSystemDll(const std::string& dll);
