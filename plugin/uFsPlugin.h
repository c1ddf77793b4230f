#pragma once
// The portable bodies of the plug-in shell: the library's load and unload steps, the host's
// initialisation, the folder listing entry point, the disconnect, and the two fixed texts the host
// asks for (root name, lister detect string). The export layer converts the host's strings, catches
// everything, and calls these; tests call them directly.
//
// Load fills the settings with the defaults and reads no file; initialisation locates the settings
// file afresh and reads it; every listing re-reads it, so edits made outside the plug-in show at once.
// Unload sends QUIT to the engine when "Stop Engine On Unload" was set at the last reading, and
// nothing else; a running scan otherwise goes on in the engine.
//
// Threads: the host calls on its own threads; the settings state is guarded by its own lock (see
// uPluginConfig.h) and every call works on its own snapshot. Unload runs during process detach and
// reads only the stop-on-unload flag.
#include <cstdint>
#include <string>

#include "uVfs.h"

// Library load: the state is created with the defaults; nothing is read.
void PluginLoad();
// Library unload: the refresh timer stops; QUIT goes to the engine when the flag is set.
void PluginUnload();

// FsInitW, FsInit and FsSetDefaultParams: locate the settings file afresh and load it.
void PluginInit();

// The listing of a folder path ("\" separated) for FsFindFirst: a list with at least one entry, or
// nullptr with error kFsErrorPathNotFound (no folder of that path) or kFsErrorNoMoreFiles (empty).
TFindListPtr ListFolder(const std::string& path, uint32_t& error);

// FsDisconnect: the panel refresh stops.
void PluginDisconnect();

// "Talvoran SDR".
const char* DefaultRootName();
// The lister's detect string: the two ticket extensions, any file holding the ticket's first line,
// and WAV files (for their thumbnails).
const char* ListerDetectString();
