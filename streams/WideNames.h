// File names for the Windows API: the project's UTF-8 text as the UTF-16 the W
// functions take, refused rather than mended when it is not valid, and the
// system's error texts as UTF-8. (Names the system gives back go through the
// text module's WideToUtf8.) Windows only.
#pragma once

#if defined(_WIN32)

#include <string>
#include <string_view>

namespace vto {

// The UTF-16 form of a UTF-8 name. False for invalid UTF-8 and for a NUL
// anywhere (the system would end the name there): no such name reaches a call.
bool WideName(std::string_view name, std::wstring& wide);
// The system's message for an error number (GetLastError, a Winsock number),
// without the line end and the full stop; empty when the system has none.
std::string SystemMessageText(unsigned long error);
// The same, or "error <n>" when the system has none.
std::string WinErrorText(unsigned long error);

}  // namespace vto

#endif
