// Authentication objects: what goes into an "Authorization" line.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "http/IdHeaderList.h"

namespace vto {

enum TIdAuthWhatsNext : std::uint8_t { wnAskTheProgram = 0, wnDoRequest = 1, wnFail = 2 };

class TIdAuthentication {
 public:
  TIdAuthentication();
  virtual ~TIdAuthentication();
  TIdAuthentication(const TIdAuthentication&) = delete;
  TIdAuthentication& operator=(const TIdAuthentication&) = delete;

  virtual std::int32_t Steps() const { return 0; }
  // Stored as the "Username" and "Password" values of Params.
  virtual void SetUsername(std::string_view AValue);
  virtual void SetPassword(std::string_view AValue);
  // As written, leading and trailing blanks included.
  std::string Username() const { return ParamText("Username"); }
  std::string Password() const { return ParamText("Password"); }
  virtual void Reset() { FCurrentStep = 0; }
  virtual void SetRequest(std::string_view AMethod, std::string_view AURI);
  // The value of the "Authorization" line.
  virtual std::string Authentication() = 0;
  virtual bool KeepAlive() const { return false; }
  // Runs the step decision; a request to be sent moves on to the next step.
  TIdAuthWhatsNext Next();

  TIdHeaderList& AuthParams() { return FAuthParams; }
  const TIdHeaderList& AuthParams() const { return FAuthParams; }
  TIdHeaderList& Params() { return FParams; }
  const TIdHeaderList& Params() const { return FParams; }
  std::int32_t CurrentStep() const { return FCurrentStep; }
  const std::string& Charset() const { return FCharset; }
  void SetCharset(std::string_view AValue) { FCharset = AValue; }

 protected:
  // The step decision.
  virtual TIdAuthWhatsNext DoNext() = 0;
  // The text after "name: " of a parameter line, exactly as it was written.
  std::string ParamText(std::string_view AName) const;

  std::int32_t FCurrentStep = 0;
  TIdHeaderList FParams{QuoteHTTP};
  TIdHeaderList FAuthParams{QuoteHTTP};
  std::string FCharset;
};

class TIdBasicAuthentication : public TIdAuthentication {
 public:
  TIdBasicAuthentication();
  std::int32_t Steps() const override { return 1; }
  // "Basic " and the Base64 form of user name, ":" and password, the text turned
  // into bytes in the character set named by Charset (one byte per character,
  // its low 8 bits, when none or an unknown one is named).
  std::string Authentication() override;
  const std::string& Realm() const { return FRealm; }
  void SetRealm(std::string_view AValue) { FRealm = AValue; }

 protected:
  TIdAuthWhatsNext DoNext() override;

 private:
  std::string FRealm;
};

// The process-wide registry of authentication schemes: a scheme name and the
// way to make an object of its class. "Basic" is registered from the start.
using TIdAuthenticationClass = std::unique_ptr<TIdAuthentication> (*)();
void RegisterAuthenticationMethod(std::string_view AMethodName, TIdAuthenticationClass AClass);
void UnregisterAuthenticationMethod(std::string_view AMethodName);
// The class registered for a scheme name (compared without regard to case), or null.
TIdAuthenticationClass FindAuthClass(std::string_view AAuthName);

// Text as bytes in a named character set: UTF-8, ISO-8859-1 or US-ASCII by their
// usual names; anything else takes each character's low 8 bits.
std::string TextToCharsetBytes(std::string_view AText, std::string_view ACharset);

}  // namespace vto
