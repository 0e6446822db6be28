// TQELMemoryStream: a growable in-memory byte stream holding one whole document
// (print data, a downloaded file, an archive), with whole-content operations on
// top of the memory stream: load and save, append and insert, search and replace,
// line deletion, cutting, Base64, zlib compression, zip packaging and PCL edits.
//
// Byte strings (the content, most parameters) are std::string / std::string_view
// of raw bytes, NUL allowed. Text parameters (file names, search strings of
// SearchFor, update and DeleteLineContaining, reports) are UTF-8; the content is
// read as text through the ISO-8859-1 code page (byte b is character U+00bb).
// Whole-content positions count from 1, stream positions from 0. Sizes stay
// within signed 32 bits: an operation whose result would not fit raises
// EStreamError before it changes anything.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "desktop/DateTime.h"
#include "streams/Streams.h"

namespace vto {

enum TOrientation { NoOrientation = 0, pgPortrait = 1, pgLandscape = 2 };

class TQELMemoryStream : public TMemoryStream {
 public:
  TQELMemoryStream() = default;

  // ---- Core. The "position afterwards" of each operation is part of its contract.

  // The whole content whatever the position; position 0 afterwards (unchanged
  // when the content is empty).
  std::string GetAsString();
  // Writes s at the end; position at the end (unchanged when s is empty).
  void AppendStr(std::string_view s);
  // Appends all of aStream (from its 0) and sets this position to 0; aStream
  // ends at its end. Appending the stream to itself doubles the content.
  void AppendStream(TStream& aStream);
  // Inserts s after the first aPosition bytes: 0 or less prepends, the size or
  // more appends. Position 0.
  void InsertStr(std::string_view s, std::int32_t aPosition);
  // 1-based position of s within the part of the content that starts at the
  // 1-based aStartOffset (the whole content when aStartOffset <= 1), or 0. With
  // aCaseInsensitive only the ASCII letters a-z and A-Z pair. An empty s, or one
  // holding a character the code page cannot represent, is never found.
  // Position 0 (unchanged for an empty content).
  std::int32_t SearchFor(std::string_view s, std::int32_t aStartOffset, bool aCaseInsensitive);
  // Replaces the content by the file: true and position 0; any error gives
  // false (content and position stay when the file cannot be opened).
  bool Load(const std::string& aFileName);
  // Writes the whole content to the file (created or emptied); any error gives
  // false. Position unchanged.
  bool Save(const std::string& aFileName);
  // Replaces every occurrence, ignoring case under the ISO-8859-1 letter rules,
  // in one left-to-right pass; replacement text is never searched again.
  // Position at the end (0 for an empty content).
  void ChangeString(std::string_view aSearchStr, std::string_view aReplacementStr);
  // Keeps the bytes from 1-based index on (all for index <= 1, none beyond the
  // size). Position 0.
  void RemoveBeginning(std::int32_t index);
  // Keeps the first index - 1 bytes; an index below 1 keeps none. Beyond the
  // size the content grows with zero bytes. Position as SetSize leaves it.
  void RemoveTrailing(std::int32_t index);
  // A new stream holding Len bytes from 0-based offset (the whole content when
  // Len <= 0), positioned at 0; null when offset is beyond the size. Too few
  // bytes after offset raise EReadError. This position ends at offset + copied.
  std::unique_ptr<TQELMemoryStream> GetBytes(std::int32_t offset, std::int32_t Len);
  // Overwrites, in place, the bytes at 1-based positions index to
  // index + length - 1 with the characters of aString (one byte each; a character
  // the code page lacks becomes "?"). The size never changes: the characters that
  // would land before position 1 or after the end are dropped. Position at the
  // end (0 for an empty content).
  void update(std::int32_t index, std::string_view aString);
  // Deletes Length bytes from 1-based Offset (fewer when the end comes first).
  // Nothing happens (position included) when Offset is 0 or beyond the size, or
  // Length is 0, or either is 2^31 or more. Otherwise position at the end.
  void Remove(std::uint32_t Offset, std::uint32_t Length);
  // Takes the bytes from the current position (0 when it is negative) to the
  // end as text (UTF-8, UTF-16 LE or BE after a byte-order mark, else the code
  // page), splits them into lines (CR LF, CR, LF; a NUL ends the text), deletes
  // every line but the first that contains aStr, and writes the mark and the
  // remaining lines back, each ending in CR LF. Position 0.
  void DeleteLineContaining(std::string_view aStr);
  // Control characters below the space other than the layout characters TAB,
  // LF, FF and CR (that is NUL, ESC, BEL, BS, VT, ...) are replaced by aStr,
  // taken through the code page; an empty aStr deletes them. The whole content
  // is worked on, whatever the position. Position at the end (0 when empty).
  void ChangeCharsLessThanSpace(std::string_view aStr);
  // Reads the lines as DeleteLineContaining does (from the current position)
  // and reports each line holding characters that ChangeCharsLessThanSpace would
  // replace (below the space, other than TAB and FF):
  // "(<line number from 0>) <line> has invalid chars: <those characters>\n".
  // Empty when no line has any. The report is UTF-8. Position at the end.
  std::string DoFindBadChar();

  // ---- PCL printer data.

  // Portrait when the content holds ESC "&l0O" (or "&l0o"), else landscape for
  // ESC "&l1O" ("&l1o"), else NoOrientation. Position 0 (unchanged when empty).
  TOrientation GetOrientation();
  // Cuts out the first macro ID command ESC "&f<id>Y" up to and including the
  // first ESC "&f8X" after it (bytes compared with bit 5 folded) and returns the
  // removed bytes, or an empty string when nothing was removed.
  std::string RemovePCLMacro(std::int32_t aMacroID);

  // ---- Base64: content := EncodeBase64(content); content := DecodeBase64Lines
  // (content), falling back to DecodeBase64. Position at the end (0 when empty).
  void Base64EncodeData();
  void Base64DecodeData();

  // ---- zlib (RFC 1950). Compress: content := zlib stream of the content.
  // Uncompress: when the content begins with a zlib stream, content := its
  // inflated bytes (bytes behind the stream are dropped, a stream cut short gives
  // what could be inflated); otherwise, and also for a stream that asks for a
  // preset dictionary, the content stays. Damage found after the first 16,384
  // inflated bytes raises EZDecompressionError, the content unchanged and the
  // position at the end. Position 0 otherwise.
  void Compress();
  void Uncompress();

  // ---- One-entry zip archives (defined with the zip code, target qelstream_zip).
  void Zip();
  void Zip(const std::string& afilename, const std::string& acomment, TDateTime aDateTime);
  void Unzip();
  void Unzip(std::string& afilename, std::string& acomment, TDateTime& aDate);

 private:
  // Writes all bytes at the position; raises EStreamError when they cannot fit
  // within the 32-bit size.
  void WriteAll(std::string_view bytes);
  // Clear, then AppendStr: position at the end (0 when empty). Raises
  // EStreamError before changing anything when the bytes exceed the 32-bit size.
  void SetContent(std::string_view bytes);
  // Replaces the content by the block of another stream without copying.
  void TakeContentOf(TQELMemoryStream& other);
  std::string_view View() const { return {FMemory, static_cast<std::size_t>(FSize)}; }
};

// 1-based position of the first occurrence of pattern in text at or after the
// 1-based start (0 counts as 1, so does a negative start), or 0. A text byte
// matches a pattern byte when both are equal with bit 5 set. An empty pattern is
// never found.
std::int32_t FindFolded(std::string_view pattern, std::string_view text, std::int32_t start);

// One-line Base64 (RFC 4648 alphabet, "=" padding).
std::string EncodeBase64(std::string_view data);
// Strict decoder: raises Exception "Base64: Incorrect string format" when the
// length is not a multiple of 4; characters outside the alphabet count as 63.
std::string DecodeBase64(std::string_view data);
// Line-by-line decoder: each line (CR LF, CR, LF) decodes on its own, its last
// 1 to 3 bytes beyond whole groups are dropped, characters outside the alphabet
// count as 63, and "=" trims only at the last decoded character of a line.
std::string DecodeBase64Lines(std::string_view data);

}  // namespace vto
