// The HTML meta scanner: the header lines (<meta http-equiv>) and the character
// set (<meta charset>) in the head of an HTML body, and their taking over into
// the response.
#include "desktop/AsciiNumbers.h"
#include "desktop/TextCodec.h"
#include "http/IdHTTPHeaderInfo.h"
#include "http/IdText.h"
#include "streams/Streams.h"

namespace vto {

using namespace http_text;

namespace {

class HtmlScanner {
 public:
  explicit HtmlScanner(std::string_view text) : t_(text) {}

  TIdHtmlMetaScan Run() {
    enum Stage { kBeforeHtml, kAfterHtml, kHead } stage = kBeforeHtml;
    for (;;) {
      const std::size_t lt = t_.find('<', pos_);
      if (lt == npos) break;
      pos_ = lt + 1;
      if (pos_ < t_.size() && t_[pos_] == '?') ++pos_;
      if (t_.compare(pos_, 3, "!--") == 0) {
        const std::size_t end = t_.find("-->", pos_ + 3);
        if (end == npos) break;
        pos_ = end + 3;
        continue;
      }
      SkipWhite();
      const std::string_view name = ReadName();
      if (stage == kBeforeHtml) {
        if (Is(name, "HTML")) stage = kAfterHtml;
        if (!SkipPast('>')) break;
      } else if (stage == kAfterHtml) {
        if (Is(name, "BODY") || Is(name, "TITLE"))
          break;  // a title before the head: nothing to take
        if (Is(name, "HEAD")) stage = kHead;
        if (!SkipPast('>')) break;
      } else if (Is(name, "TITLE") || Is(name, "SCRIPT")) {
        if (!SkipPastEndTag(name)) break;
      } else if (Is(name, "LINK")) {
        if (!SkipPast('>')) break;
      } else if (Is(name, "META")) {
        if (!ReadMeta()) break;
      }
    }
    return std::move(result_);
  }

 private:
  static constexpr auto npos = std::string_view::npos;

  static bool IsWhite(char c) {
    return c == '\0' || c == '\t' || c == '\n' || c == '\r' || c == ' ';
  }
  static bool IsNameChar(char c) {
    return IsAsciiLetter(c) || IsAsciiDigit(c) || c == '-' || c == '_' || c == ':' || c == '.';
  }
  static bool Is(std::string_view a, std::string_view b) { return SameTextAscii(a, b); }

  void SkipWhite() {
    while (pos_ < t_.size() && IsWhite(t_[pos_])) ++pos_;
  }
  std::string_view ReadName() {
    const std::size_t start = pos_;
    while (pos_ < t_.size() && IsNameChar(t_[pos_])) ++pos_;
    return t_.substr(start, pos_ - start);
  }
  bool SkipPast(char c) {
    const std::size_t p = t_.find(c, pos_);
    if (p == npos) return false;
    pos_ = p + 1;
    return true;
  }
  // Up to and including "</NAME" (white space allowed after the "<").
  bool SkipPastEndTag(std::string_view name) {
    for (;;) {
      const std::size_t lt = t_.find('<', pos_);
      if (lt == npos) return false;
      pos_ = lt + 1;
      SkipWhite();
      if (pos_ < t_.size() && t_[pos_] == '/' && Is(t_.substr(pos_ + 1, name.size()), name)) {
        pos_ += 1 + name.size();
        return true;
      }
    }
  }
  // A quoted value (up to the same quote) or a run of name characters.
  std::string_view ReadValue() {
    if (pos_ < t_.size() && (t_[pos_] == '"' || t_[pos_] == '\'')) {
      const char q = t_[pos_++];
      const std::size_t end = t_.find(q, pos_);
      const std::size_t stop = end == npos ? t_.size() : end;
      const std::string_view v = t_.substr(pos_, stop - pos_);
      pos_ = end == npos ? t_.size() : end + 1;
      return v;
    }
    return ReadName();
  }
  bool ReadEquals() {
    SkipWhite();
    if (pos_ < t_.size() && t_[pos_] == '=') {
      ++pos_;
      SkipWhite();
      return true;
    }
    return false;
  }
  // Passes over an attribute value: quoted up to the same quote, otherwise up to a
  // space or ">".
  std::string_view TakeAttributeValue() {
    if (pos_ < t_.size() && (t_[pos_] == '"' || t_[pos_] == '\'')) return ReadValue();
    const std::size_t start = pos_;
    while (pos_ < t_.size() && t_[pos_] != ' ' && t_[pos_] != '>') ++pos_;
    return t_.substr(start, pos_ - start);
  }

  // After "<META": false when the text ends inside the tag.
  bool ReadMeta() {
    SkipWhite();
    const std::string_view attr = ReadName();
    if (Is(attr, "charset")) {
      ReadEquals();
      result_.CharSet = Text(ReadValue());
      return SkipPast('>');
    }
    if (!Is(attr, "HTTP-EQUIV")) return SkipPast('>');
    ReadEquals();
    const std::string headerName = Text(ReadValue());
    std::string line = headerName + ":";
    bool closed = false;
    while (pos_ < t_.size()) {
      SkipWhite();
      if (pos_ >= t_.size()) break;
      const char c = t_[pos_];
      if (c == '/') {
        ++pos_;
        continue;
      }
      if (c == '>') {
        ++pos_;
        closed = true;
        break;
      }
      const std::string_view name = ReadName();
      if (name.empty()) {
        ++pos_;  // a stray character: pass over it
        continue;
      }
      if (!ReadEquals()) continue;
      if (!Is(name, "CONTENT")) {
        TakeAttributeValue();
        continue;
      }
      std::string value;
      if (pos_ < t_.size() && (t_[pos_] == '"' || t_[pos_] == '\'')) {
        const char q = t_[pos_];
        value = ReadValue();
        // content="text/html; charset="utf-8"": the rest up to the next such quote.
        if (pos_ < t_.size() && !IsWhite(t_[pos_]) && t_[pos_] != '/' && t_[pos_] != '>') {
          const std::size_t end = t_.find(q, pos_);
          const std::size_t stop = end == npos ? t_.size() : end;
          value += t_.substr(pos_, stop - pos_);
          pos_ = end == npos ? t_.size() : end + 1;
        }
      } else {
        value = TakeAttributeValue();
      }
      line += " " + Text(value);
    }
    result_.Lines.push_back(std::move(line));
    return closed;
  }

  // 8-bit characters as text, kept on the one header line of the value.
  static std::string Text(std::string_view bytes) { return OneLine(AnsiToText(bytes)); }

  std::string_view t_;
  std::size_t pos_ = 0;
  TIdHtmlMetaScan result_;
};

}  // namespace

TIdHtmlMetaScan ScanHtmlMetaHeaders(std::string_view AHtml) {
  return HtmlScanner(AHtml).Run();
}

void TIdHTTPResponse::ProcessMetaHTTPEquiv() {
  if (FContentStream == nullptr) return;
  // The whole stream, from its start; its position is left where it was. A
  // memory stream (what the client reads a body into) is scanned where it is.
  std::string copy;
  std::string_view html;
  if (auto* memory = dynamic_cast<TCustomMemoryStream*>(FContentStream)) {
    html = std::string_view(memory->Memory(), static_cast<std::size_t>(memory->Size()));
  } else if (const std::int64_t size = FContentStream->Size(); size > 0) {
    const std::int64_t position = FContentStream->Position();
    FContentStream->SetPosition(0);
    copy.reserve(static_cast<std::size_t>(size));
    char buf[65536];
    for (;;) {
      const std::int32_t n = FContentStream->Read(buf, sizeof buf);
      if (n <= 0) break;
      copy.append(buf, static_cast<std::size_t>(n));
    }
    FContentStream->SetPosition(position);
    html = copy;
  }
  TIdHtmlMetaScan scan = ScanHtmlMetaHeaders(html);
  TIdMetaHTTPEquiv& meta = *FMetaHTTPEquiv;
  if (!scan.Lines.empty()) {
    for (const auto& line : scan.Lines) meta.RawHeaders().Add(line);
    meta.ParseHeaders();
  }
  if (!scan.CharSet.empty()) meta.SetCharSet(scan.CharSet);
  if (!scan.Lines.empty()) {
    const TIdHeaderList& lines = meta.RawHeaders();
    for (std::int32_t i = 0; i < lines.Count(); ++i) {
      // A header without a name is no header of the response: written there it
      // would take the place of the first line without a colon (another
      // header's continuation), or become one itself.
      const std::string name = lines.Names(i);
      if (TrimView(name).empty() || IsBlank(name[0])) continue;
      FRawHeaders.SetValues(name, lines.ValueFromIndex(i));
    }
    ParseHeaders();
  }
  if (!meta.CharSet().empty()) FCharSet = meta.CharSet();
}

}  // namespace vto
