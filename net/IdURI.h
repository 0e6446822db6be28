// A URI split into its parts, put together again, and the percent-encoding of
// URI texts. Texts are UTF-8; every delimiter is ASCII, so byte positions serve.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "desktop/Exception.h"
#include "desktop/IdSet.h"
#include "net/IdException.h"
#include "net/IdGlobal.h"

namespace vto {

enum TIdURIOptionalFields : std::uint8_t { ofAuthInfo = 0, ofBookmark = 1 };
using TIdURIOptionalFieldsSet = TIdSet<TIdURIOptionalFields>;

class EIdURIException : public EIdException {
 public:
  using EIdException::EIdException;
};

// Raised when a text to be encoded is not proper UTF-8 (where a UTF-16 text would
// hold an unpaired surrogate).
class EArgumentException : public Exception {
 public:
  using Exception::Exception;
};
class EArgumentOutOfRangeException : public EArgumentException {
 public:
  using EArgumentException::EArgumentException;
};

class TIdURI {
 public:
  explicit TIdURI(std::string_view AURI = {});

  // Reading composes without user info and fragment (and keeps the result);
  // assigning splits, replacing every part.
  std::string URI();
  void SetURI(std::string_view AValue);

  // Raises EIdURIException when protocol or host is empty.
  std::string GetFullURI(TIdURIOptionalFieldsSet AOptionalFields = {ofAuthInfo, ofBookmark}) const;
  std::string GetPathAndParams() const;

  static void NormalizePath(std::string& APath);
  // The byte encoding turns characters into the bytes that are escaped, and the
  // collected bytes back into text; UTF-8 when none is given.
  static std::string PathEncode(std::string_view ASrc,
                                const IIdTextEncoding* AByteEncoding = nullptr);
  static std::string ParamsEncode(std::string_view ASrc,
                                  const IIdTextEncoding* AByteEncoding = nullptr);
  static std::string URLEncode(std::string_view ASrc,
                               const IIdTextEncoding* AByteEncoding = nullptr);
  static std::string URLDecode(std::string_view ASrc,
                               const IIdTextEncoding* AByteEncoding = nullptr);

  const std::string& Document() const { return FDocument; }
  void SetDocument(std::string_view v) { FDocument = v; }
  const std::string& Protocol() const { return FProtocol; }
  void SetProtocol(std::string_view v) { FProtocol = v; }
  const std::string& Port() const { return FPort; }
  void SetPort(std::string_view v) { FPort = v; }
  const std::string& Path() const { return Fpath; }
  void SetPath(std::string_view v) { Fpath = v; }
  const std::string& Host() const { return FHost; }
  void SetHost(std::string_view v) { FHost = v; }
  const std::string& Bookmark() const { return FBookmark; }
  void SetBookmark(std::string_view v) { FBookmark = v; }
  const std::string& Username() const { return FUserName; }
  void SetUsername(std::string_view v) { FUserName = v; }
  const std::string& Password() const { return FPassword; }
  void SetPassword(std::string_view v) { FPassword = v; }
  const std::string& Params() const { return FParams; }
  void SetParams(std::string_view v) { FParams = v; }
  TIdIPVersion IPVersion() const { return FIPVersion; }
  void SetIPVersion(TIdIPVersion v) { FIPVersion = v; }

 private:
  std::string FDocument;
  std::string FProtocol;
  std::string FURI;
  std::string FPort;
  std::string Fpath;
  std::string FHost;
  std::string FBookmark;
  std::string FUserName;
  std::string FPassword;
  std::string FParams;
  TIdIPVersion FIPVersion = Id_IPv4;
};

// Merges APath into ABasePath: an absolute path replaces it, runs of delimiters
// collapse and ".." segments climb (never above the root).
std::string ResolvePath(std::string_view ABasePath, std::string_view APath,
                        std::string_view ADelimiter = "/");

}  // namespace vto
