// windows.h for the Windows build, and only through here: its A/W macros named
// like this project's own functions (ShellExecute, GetEnvironmentVariable,
// SearchPath, LoadLibrary, ...) are taken back, so the project's names stay
// its own and every Windows call names its W or A function explicitly.
#pragma once

#if defined(_WIN32)
// winsock2.h must come before windows.h.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#undef ShellExecute
#undef GetEnvironmentVariable
#undef SearchPath
#undef LoadLibrary
#undef GetTempPath
#undef GetTempFileName
#undef MessageBox
#undef CreateFile
#undef DeleteFile
#undef CopyFile
#undef MoveFile
#undef CreateDirectory
#undef RemoveDirectory
#undef GetCommandLine
#undef GetMessage
#undef SendMessage
#undef PostMessage
#undef GetObject
#undef GetCurrentTime
#undef ERROR
#undef DELETE
#undef IN
#undef OUT
#undef OPTIONAL
#undef interface
#endif
