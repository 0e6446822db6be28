#include "http/IdHeaderList.h"

#include <algorithm>

#include "http/IdText.h"

namespace vto {

using namespace http_text;

namespace {

constexpr auto npos = std::string_view::npos;

std::string_view Specials(TIdHeaderQuotingType AQuoteType) {
  switch (AQuoteType) {
    case QuoteRFC822:
      return "()<>@,;:\\\"./";
    case QuoteMIME:
      return "()<>@,;:\\\"/[]?=";
    case QuoteHTTP:
      return "()<>@,;:\\\"/[]?={} \t";
    default:
      return {};
  }
}

// Blanks, the special characters of the quoting type, and DEL: where an unquoted
// parameter value ends, and what forces quotes.
bool IsSeparator(char c, std::string_view specials) {
  return IsBlank(c) || c == '\x7F' || specials.find(c) != npos;
}

const std::string kEmpty;

}  // namespace

std::vector<TIdHeaderParam> SplitHeaderParams(std::string_view AValue,
                                              TIdHeaderQuotingType AQuoteType) {
  std::vector<TIdHeaderParam> params;
  const std::size_t semi = AValue.find(';');
  if (semi == npos) return params;
  const std::string_view specials = Specials(AQuoteType);
  std::string_view text = AValue.substr(semi + 1);
  for (;;) {
    text = TrimLeftView(text);
    // A ";" left in front by a value that ended at a blank closes that parameter.
    while (!text.empty() && text[0] == ';') text = TrimLeftView(text.substr(1));
    if (text.empty()) break;
    TIdHeaderParam p;
    const std::size_t eq = text.find('=');
    if (eq == npos) {
      p.Name = Trim(text);
      text = {};
    } else {
      p.Name = Trim(text.substr(0, eq));
      text = TrimLeftView(text.substr(eq + 1));
    }
    if (!text.empty() && text[0] == '"') {
      std::size_t i = 1;
      bool closed = false;
      while (i < text.size()) {
        const char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
          p.Value.push_back(text[i + 1]);
          i += 2;
        } else if (c == '"') {
          closed = true;
          ++i;
          break;
        } else {
          p.Value.push_back(c);
          ++i;
        }
      }
      if (closed) {
        p.Quoted = true;
        text = text.substr(i);
        const std::size_t next = text.find(';');
        text = next == npos ? std::string_view() : text.substr(next + 1);
      } else {
        p.Value.clear();
        text = {};
      }
    } else {
      std::size_t k = 0;
      while (k < text.size() && !IsSeparator(text[k], specials)) ++k;
      p.Value = std::string(text.substr(0, k));
      if (k < text.size() && text[k] == ';') ++k;
      text = text.substr(k);
    }
    if (!p.Name.empty() && (!p.Value.empty() || p.Quoted)) params.push_back(std::move(p));
  }
  return params;
}

std::string QuoteHeaderParam(std::string_view AValue, bool AWasQuoted,
                             TIdHeaderQuotingType AQuoteType) {
  if (AValue.empty()) return {};
  const std::string_view specials = Specials(AQuoteType);
  const bool escapeCR = AQuoteType == QuoteRFC822 || AQuoteType == QuoteMIME;
  bool needs = AWasQuoted;
  std::string out;
  out.reserve(AValue.size() + 2);
  for (char c : AValue) {
    if (c == '"' || c == '\\' || (escapeCR && c == '\r')) {
      out.push_back('\\');
      needs = true;
    } else if (IsSeparator(c, specials)) {
      needs = true;
    }
    out.push_back(c);
  }
  return needs ? "\"" + out + "\"" : out;
}

std::optional<std::string> ReplaceHeaderParam(std::string_view AValue, std::string_view AParam,
                                              std::string_view AParamValue,
                                              TIdHeaderQuotingType AQuoteType) {
  std::vector<TIdHeaderParam> params = SplitHeaderParams(AValue, AQuoteType);
  const std::string_view v = TrimView(AParamValue);
  std::size_t found = params.size();
  for (std::size_t k = 0; k < params.size(); ++k)
    if (SameName(params[k].Name, AParam)) {
      found = k;
      break;
    }
  if (v.empty()) {
    if (found == params.size()) return std::nullopt;
    params.erase(params.begin() + static_cast<std::ptrdiff_t>(found));
  } else if (found == params.size()) {
    params.push_back({std::string(AParam), std::string(v), false});
  } else {
    params[found].Value = v;
  }
  std::string_view main = AValue;
  main = TrimView(FetchView(main, ";"));
  if (main.empty()) return std::string();
  std::string out(main);
  for (const auto& p : params)
    out += "; " + p.Name + "=" + QuoteHeaderParam(p.Value, p.Quoted, AQuoteType);
  return out;
}

std::vector<std::string> FoldHeaderLine(std::string_view ALine, std::int32_t ALength) {
  // Candidate breaks: before a space or tab, or after a comma, outside double
  // quotes; the text of the line before a break must hold more than blanks, and
  // the rest must come out shorter than what there was. The best break is the
  // last one within the length, else the first one beyond it.
  //
  // Where a break may stand is found once for the whole text, so that each line
  // costs a lookup and not a walk over the rest: whether a place is outside
  // quotes depends on where its line begins only through the parity of the
  // quotes before that beginning, so the places are kept in two lists, one per
  // parity of the quotes before them.
  std::vector<std::string> lines;
  std::string s(ALine);
  const std::size_t n = s.size();
  const std::size_t length = ALength < 1 ? 1 : static_cast<std::size_t>(ALength);
  std::vector<std::size_t> breaks[2];
  std::vector<unsigned char> parity(n + 1, 0);  // of the quotes before each place
  for (std::size_t q = 0; q < n; ++q) {
    if (q > 0 && (s[q] == ' ' || s[q] == '\t' || s[q - 1] == ',')) breaks[parity[q]].push_back(q);
    parity[q + 1] = parity[q] ^ (s[q] == '"' ? 1 : 0);
  }
  std::vector<std::size_t> text(n + 1, n);  // the first place from each one on that is no blank
  for (std::size_t q = n; q-- > 0;) text[q] = IsBlank(s[q]) ? text[q + 1] : q;

  std::size_t off = 0;     // the line still to fold is s from here
  bool comma_cut = false;  // s[off] stands where a comma was, now a space
  while (n - off > length) {
    const std::vector<std::size_t>& at = breaks[parity[off]];
    // A break needs text before it, and a comma break a character between.
    const std::size_t first_text = comma_cut ? text[off + 1] : text[off];
    const std::size_t lo = std::max(off + 1, first_text == n ? n : first_text + 1);
    const std::size_t hi = off + length;
    std::size_t cut = npos;
    auto it = std::upper_bound(at.begin(), at.end(), hi);
    if (it != at.begin()) {
      const std::size_t q = *(it - 1);
      const bool comma_only = s[q] != ' ' && s[q] != '\t';
      if (q >= lo && !(comma_only && q < off + 2)) cut = q - off;
    }
    if (cut == npos) {
      it = std::lower_bound(at.begin(), at.end(), std::max(lo, hi + 1));
      if (it != at.end()) cut = *it - off;
    }
    if (cut == npos) break;
    lines.push_back(TrimRight(std::string_view(s).substr(off, cut)));
    if (s[off + cut] == ' ' || s[off + cut] == '\t') {
      off += cut;
      comma_cut = false;
    } else {
      // The comma went out with the line before; its place starts the next one.
      off += cut - 1;
      s[off] = ' ';
      comma_cut = true;
    }
  }
  lines.push_back(TrimRight(std::string_view(s).substr(off)));
  return lines;
}

TIdHeaderList::TIdHeaderList(TIdHeaderQuotingType AQuoteType)
    : FFoldLinesLength(AQuoteType == QuoteHTTP ? kNoFolding : 78), FQuoteType(AQuoteType) {}

const std::string& TIdHeaderList::Strings(std::int32_t AIndex) const {
  if (AIndex < 0 || AIndex >= Count()) return kEmpty;
  return FLines[static_cast<std::size_t>(AIndex)];
}

void TIdHeaderList::SetStrings(std::int32_t AIndex, std::string_view ALine) {
  if (AIndex >= 0 && AIndex < Count()) FLines[static_cast<std::size_t>(AIndex)] = ALine;
}

void TIdHeaderList::Insert(std::int32_t AIndex, std::string_view ALine) {
  if (AIndex < 0) AIndex = 0;
  if (AIndex > Count()) AIndex = Count();
  FLines.insert(FLines.begin() + AIndex, std::string(ALine));
}

void TIdHeaderList::Delete(std::int32_t AIndex) {
  if (AIndex >= 0 && AIndex < Count()) FLines.erase(FLines.begin() + AIndex);
}

std::string TIdHeaderList::Text() const {
  std::string out;
  for (const auto& l : FLines) {
    out += l;
    out += "\r\n";
  }
  return out;
}

void TIdHeaderList::SetText(std::string_view AText) {
  FLines.clear();
  std::size_t i = 0;
  while (i < AText.size()) {
    std::size_t j = i;
    while (j < AText.size() && AText[j] != '\r' && AText[j] != '\n') ++j;
    FLines.emplace_back(AText.substr(i, j - i));
    if (j < AText.size()) {
      if (AText[j] == '\r' && j + 1 < AText.size() && AText[j + 1] == '\n') ++j;
      ++j;
    }
    i = j;
  }
}

std::string_view TIdHeaderList::NameEnd() const {
  const std::string_view sep = TrimRightView(FNameValueSeparator);
  return sep.empty() ? std::string_view(":") : sep;
}

std::string_view TIdHeaderList::NameOf(std::string_view ALine) const {
  const std::size_t p = ALine.find(NameEnd());
  return p == npos ? std::string_view() : ALine.substr(0, p);
}

std::string TIdHeaderList::Names(std::int32_t AIndex) const {
  return std::string(NameOf(Strings(AIndex)));
}

std::int32_t TIdHeaderList::IndexOfName(std::string_view AName) const {
  // A line's name is its text before the first separator, so a match has the
  // separator right after AName's length (and none before it). A line without a
  // separator has the empty name.
  const std::string_view sep = NameEnd();
  if (AName.find(sep) != npos) return -1;
  const std::size_t n = AName.size();
  for (std::size_t i = 0; i < FLines.size(); ++i) {
    const std::string_view line = FLines[i];
    if (line.size() >= n + sep.size() && line.compare(n, sep.size(), sep) == 0 &&
        SameName(line.substr(0, n), AName))
      return static_cast<std::int32_t>(i);
    if (n == 0 && line.find(sep) == npos) return static_cast<std::int32_t>(i);
  }
  return -1;
}

std::string TIdHeaderList::ValueAt(std::size_t AIndex, std::size_t& ANext) const {
  ANext = AIndex + 1;
  if (AIndex >= FLines.size()) return {};
  std::string_view line = FLines[AIndex];
  const std::string_view sep = NameEnd();
  const std::size_t p = line.find(sep);
  if (p != npos) line.remove_prefix(p + sep.size());
  std::string value(TrimLeftView(line));
  if (FUnfoldLines) {
    // value := trimmed value + " " + trimmed continuation, built in place (the
    // value's left side is trimmed already).
    while (ANext < FLines.size() && IsContinuation(FLines[ANext])) {
      value.erase(TrimRightView(value).size());
      value += ' ';
      value += TrimView(FLines[ANext]);
      ++ANext;
    }
  }
  return Trim(value);
}

std::string TIdHeaderList::ValueFromIndex(std::int32_t AIndex) const {
  if (AIndex < 0) return {};
  std::size_t next;
  return ValueAt(static_cast<std::size_t>(AIndex), next);
}

std::string TIdHeaderList::Values(std::string_view AName) const {
  return ValueFromIndex(IndexOfName(AName));
}

void TIdHeaderList::DeleteContinuations(std::size_t AIndex) {
  std::size_t end = AIndex + 1;
  while (end < FLines.size() && IsContinuation(FLines[end])) ++end;
  FLines.erase(FLines.begin() + static_cast<std::ptrdiff_t>(AIndex + 1),
               FLines.begin() + static_cast<std::ptrdiff_t>(end));
}

void TIdHeaderList::SetValues(std::string_view AName, std::string_view AValue) {
  std::int32_t i = IndexOfName(AName);
  if (AValue.empty()) {
    if (i < 0) return;
    // The old value's continuation lines go with it, folding or not.
    DeleteContinuations(static_cast<std::size_t>(i));
    Delete(i);
    return;
  }
  if (i < 0) {
    FLines.emplace_back();
    i = Count() - 1;
  }
  const auto at = static_cast<std::size_t>(i);
  DeleteContinuations(at);
  std::string line;
  line.reserve(AName.size() + FNameValueSeparator.size() + AValue.size());
  line.append(AName).append(FNameValueSeparator).append(AValue);
  if (!FFoldLines) {
    FLines[at] = std::move(line);
    return;
  }
  std::vector<std::string> folded = FoldHeaderLine(line, FFoldLinesLength);
  FLines[at] = std::move(folded[0]);
  FLines.insert(FLines.begin() + static_cast<std::ptrdiff_t>(at + 1),
                std::make_move_iterator(folded.begin() + 1), std::make_move_iterator(folded.end()));
}

void TIdHeaderList::AddValue(std::string_view AName, std::string_view AValue) {
  if (AName.empty() || AValue.empty()) return;
  std::string line = std::string(AName) + FNameValueSeparator + std::string(AValue);
  if (FFoldLines) {
    for (auto& l : FoldHeaderLine(line, FFoldLinesLength)) FLines.push_back(std::move(l));
  } else {
    FLines.push_back(std::move(line));
  }
}

void TIdHeaderList::Extract(std::string_view AName, std::vector<std::string>* ADest) const {
  if (ADest == nullptr) return;
  std::size_t i = 0;
  while (i < FLines.size()) {
    if (SameName(NameOf(FLines[i]), AName)) {
      std::size_t next;
      ADest->push_back(ValueAt(i, next));
      i = next;
    } else {
      ++i;
      while (i < FLines.size() && IsContinuation(FLines[i])) ++i;
    }
  }
}

TIdHeaderQuotingType TIdHeaderList::ParamQuoteType(std::string_view AName) const {
  const bool contentHeader =
      SameName(AName, "Content-Type") || SameName(AName, "Content-Disposition");
  if (FQuoteType == QuoteRFC822 && contentHeader) return QuoteMIME;
  if (FQuoteType == QuoteMIME && !contentHeader) return QuoteRFC822;
  return FQuoteType;
}

std::string TIdHeaderList::Params(std::string_view AName, std::string_view AParam) const {
  for (auto& p : SplitHeaderParams(Values(AName), ParamQuoteType(AName)))
    if (SameName(p.Name, AParam)) return std::move(p.Value);
  return {};
}

void TIdHeaderList::SetParams(std::string_view AName, std::string_view AParam,
                              std::string_view AValue) {
  const auto value = ReplaceHeaderParam(Values(AName), AParam, AValue, ParamQuoteType(AName));
  if (value) SetValues(AName, *value);
}

std::string TIdHeaderList::AllParams(std::string_view AName) const {
  const std::string value = Values(AName);
  const std::size_t semi = value.find(';');
  if (semi == npos) return {};
  return Trim(std::string_view(value).substr(semi + 1));
}

void TIdHeaderList::SetAllParams(std::string_view AName, std::string_view AValue) {
  const std::int32_t i = IndexOfName(AName);
  if (i < 0) return;
  std::string_view value;
  const std::string current = ValueFromIndex(i);
  value = current;
  std::string main = Trim(FetchView(value, ";"));
  if (!AValue.empty()) main += "; " + std::string(AValue);
  SetValues(AName, main);
}

void TIdHeaderList::AddStdValues(const std::vector<std::string>& ASrc) {
  for (const auto& line : ASrc) {
    const std::size_t eq = line.find('=');
    if (eq == npos) continue;
    AddValue(std::string_view(line).substr(0, eq), std::string_view(line).substr(eq + 1));
  }
}

void TIdHeaderList::AddStrings(const TIdHeaderList& ASrc) {
  if (&ASrc == this) {
    const std::vector<std::string> copy = FLines;
    FLines.insert(FLines.end(), copy.begin(), copy.end());
    return;
  }
  FLines.insert(FLines.end(), ASrc.FLines.begin(), ASrc.FLines.end());
}

void TIdHeaderList::ConvertToStdValues(std::vector<std::string>& ADest) const {
  std::size_t i = 0;
  while (i < FLines.size()) {
    if (FLines[i].empty()) {
      ++i;
      continue;
    }
    std::string name(NameOf(FLines[i]));
    std::size_t next;
    std::string value = ValueAt(i, next);
    ADest.push_back(name + "=" + value);
    i = next;
  }
}

}  // namespace vto
