// International host names to their ASCII form (RFC 5891 A-labels, Punycode
// of RFC 3492), for the TLS server name.
#pragma once

#include <string>
#include <string_view>

namespace vto {

// Punycode of a sequence of code points given as UTF-8; empty on overflow or
// invalid UTF-8.
std::string PunycodeEncode(std::string_view AUtf8);

// Each label with a character beyond ASCII becomes "xn--" and the Punycode of
// the label in lower case; ASCII labels stay as they are. The ideographic and
// full-width full stops separate labels too. Empty when a label cannot be
// converted (invalid UTF-8, longer than 63 characters once converted).
std::string HostToAscii(std::string_view AHost);

}  // namespace vto
