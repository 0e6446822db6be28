// Header lines as text: one entry per physical line, order and duplicates kept,
// lookups by name without regard to case, continuation lines joined on reading.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vto {

enum TIdHeaderQuotingType : std::uint8_t {
  QuotePlain = 0,
  QuoteRFC822 = 1,
  QuoteMIME = 2,
  QuoteHTTP = 3
};

// One parameter of a header value ("charset=utf-8" after a ";").
struct TIdHeaderParam {
  std::string Name;
  std::string Value;
  bool Quoted = false;  // the value stood in double quotes
};

// Splits the parameters off a header value; the main item (up to the first ";")
// is dropped. Malformed parameters are skipped.
std::vector<TIdHeaderParam> SplitHeaderParams(std::string_view AValue,
                                              TIdHeaderQuotingType AQuoteType);
// A parameter value as it is written: quoted and escaped where it must be.
std::string QuoteHeaderParam(std::string_view AValue, bool AWasQuoted,
                             TIdHeaderQuotingType AQuoteType);
// The header value with parameter AParam set to AParamValue (trimmed; empty
// removes it); nullopt when nothing changes (an absent parameter removed).
std::optional<std::string> ReplaceHeaderParam(std::string_view AValue, std::string_view AParam,
                                              std::string_view AParamValue,
                                              TIdHeaderQuotingType AQuoteType);
// Wraps a header line at ALength columns (a space, tab or comma outside double
// quotes); continuation lines start with a blank; every line is right-trimmed.
std::vector<std::string> FoldHeaderLine(std::string_view ALine, std::int32_t ALength);

class TIdHeaderList {
 public:
  static constexpr std::int32_t kNoFolding = 2147483647;

  explicit TIdHeaderList(TIdHeaderQuotingType AQuoteType = QuotePlain);

  // The plain list.
  std::int32_t Count() const { return static_cast<std::int32_t>(FLines.size()); }
  // Empty text for an index outside the list.
  const std::string& Strings(std::int32_t AIndex) const;
  void SetStrings(std::int32_t AIndex, std::string_view ALine);
  void Add(std::string_view ALine) { FLines.emplace_back(ALine); }
  void Insert(std::int32_t AIndex, std::string_view ALine);
  void Delete(std::int32_t AIndex);
  void Clear() { FLines.clear(); }
  const std::vector<std::string>& Lines() const { return FLines; }
  // Every line followed by CR LF; setting splits at CR LF, LF or CR.
  std::string Text() const;
  void SetText(std::string_view AText);
  // Copies the lines (the list's own settings stay).
  void Assign(const TIdHeaderList& ASource) { FLines = ASource.FLines; }

  // Header operations. A line without the separator has the empty name (and
  // the whole line for its value), as a continuation line does where it is
  // looked at by itself.
  void AddValue(std::string_view AName, std::string_view AValue);
  std::string Values(std::string_view AName) const;
  void SetValues(std::string_view AName, std::string_view AValue);
  std::int32_t IndexOfName(std::string_view AName) const;
  std::string Names(std::int32_t AIndex) const;
  // The unfolded value of the line at AIndex; empty outside the list.
  std::string ValueFromIndex(std::int32_t AIndex) const;
  void Extract(std::string_view AName, std::vector<std::string>* ADest) const;
  std::string Params(std::string_view AName, std::string_view AParam) const;
  void SetParams(std::string_view AName, std::string_view AParam, std::string_view AValue);
  std::string AllParams(std::string_view AName) const;
  void SetAllParams(std::string_view AName, std::string_view AValue);
  // Lines of the form name "=" value; each pair goes through AddValue.
  void AddStdValues(const std::vector<std::string>& ASrc);
  // Another header list's lines, as they stand.
  void AddStrings(const TIdHeaderList& ASrc);
  // Appends name "=" value for each header, continuation lines joined.
  void ConvertToStdValues(std::vector<std::string>& ADest) const;

  const std::string& NameValueSeparator() const { return FNameValueSeparator; }
  void SetNameValueSeparator(std::string_view v) { FNameValueSeparator = v; }
  bool UnfoldLines() const { return FUnfoldLines; }
  void SetUnfoldLines(bool v) { FUnfoldLines = v; }
  bool FoldLines() const { return FFoldLines; }
  void SetFoldLines(bool v) { FFoldLines = v; }
  std::int32_t FoldLength() const { return FFoldLinesLength; }
  void SetFoldLength(std::int32_t v) { FFoldLinesLength = v; }
  TIdHeaderQuotingType QuoteType() const { return FQuoteType; }

 private:
  static bool IsContinuation(std::string_view ALine) {
    return !ALine.empty() && (ALine[0] == ' ' || ALine[0] == '\t');
  }
  // The separator without its trailing blanks (":" for ": ").
  std::string_view NameEnd() const;
  std::string_view NameOf(std::string_view ALine) const;
  // The unfolded value at AIndex; ANext receives the index after its continuation lines.
  std::string ValueAt(std::size_t AIndex, std::size_t& ANext) const;
  void DeleteContinuations(std::size_t AIndex);
  TIdHeaderQuotingType ParamQuoteType(std::string_view AName) const;

  std::vector<std::string> FLines;
  std::string FNameValueSeparator = ": ";
  bool FUnfoldLines = true;
  bool FFoldLines = true;
  std::int32_t FFoldLinesLength;
  TIdHeaderQuotingType FQuoteType;
};

}  // namespace vto
