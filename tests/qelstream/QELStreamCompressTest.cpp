// Tests of qelstream/QELStreamCompress.cpp and streams/ZStreams.cpp.
// zlib compression of the document stream, the two adapters, and agreement with
// Python's zlib.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "qelstream/QELStream.h"
#include "streams/ZStreams.h"
#include "tests/qelstream/QELTestUtil.h"
#include "tests/support/ExceptionMatchers.h"

namespace vto {
namespace {

using test::Bytes;
using test::Fill;
using namespace std::string_literals;
using ::testing::AllOf;
using ::testing::Property;
using ::testing::StrEq;
using ::testing::Throws;
using ::testing::ThrowsMessage;
using vto::testing::WithMessage;

// A zlib stream error of class E with zlib's text for the code, and the code.
template <typename E>
auto ThrowsZLibError(const std::string& text, int code) {
  return Throws<E>(AllOf(WithMessage(StrEq(text)), Property("Code", &EZLibError::Code, code)));
}

const std::string kEmptyZlib = "\x78\x9C\x03\x00\x00\x00\x00\x01"s;

std::string Python(const std::string& script, const std::string& in, int& status) {
  const std::string inPath = test::TempPath("pyin");
  const std::string outPath = test::TempPath("pyout");
  test::WriteFile(inPath, in);
  test::Run("python3 -c \"" + script + "\" " + inPath + " " + outPath, status);
  std::string out = test::ReadFile(outPath);
  std::remove(inPath.c_str());
  std::remove(outPath.c_str());
  return out;
}

std::string PyDecompress(const std::string& data, int& status) {
  return Python(
      "import sys,zlib; "
      "open(sys.argv[2],'wb').write(zlib.decompress(open(sys.argv[1],'rb').read()))",
      data, status);
}

std::string PyCompress(const std::string& data, int level, int& status) {
  return Python(
      "import sys,zlib; open(sys.argv[2],'wb').write(zlib.compress(open(sys.argv[1],'rb')"
      ".read()," +
          std::to_string(level) + "))",
      data, status);
}

std::string Compressed(const std::string& data) {
  TQELMemoryStream s;
  Fill(s, data);
  s.Compress();
  return Bytes(s);
}

std::uint32_t Adler(const std::string& data) {
  return static_cast<std::uint32_t>(adler32(adler32(0, nullptr, 0),
                                            reinterpret_cast<const Bytef*>(data.data()),
                                            static_cast<uInt>(data.size())));
}

class WriteRecorder : public TMemoryStream {
 public:
  std::int32_t Write(const void* Buffer, std::int32_t Count) override {
    writes.push_back(Count);
    return TMemoryStream::Write(Buffer, Count);
  }
  std::vector<std::int32_t> writes;
};

std::string Hex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// Level-6 zlib streams of the shared peer vectors (RFC 1950; classic zlib output).
TEST(ZPeerVectors, ExactStreams) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", "789c030000000001"},
      {"a", "789c4b040000620062"},
      {"abc", "789c4b4c4a0600024d0127"},
      {"hello", "789ccb48cdc9c90700062c0215"},
      {"hello, hello!", "789ccb48cdc9c9d751c800518a0021700496"},
      {"The quick brown fox jumps over the lazy dog",
       "789c0bc94855282ccd4cce56482aca2fcf5348cbaf50c82acd2d2856c82f4b2d5228014ae72456552aa4e4a70"
       "3005bdc0fda"},
      {std::string(1000, 'a'), "789c4b4c1c05a360140c770000f9d87af8"},
  };
  for (const auto& [plain, hex] : vectors) {
    EXPECT_EQ(Compressed(plain), Hex(hex)) << plain.substr(0, 20);
    TQELMemoryStream s;
    Fill(s, Hex(hex));
    s.Uncompress();
    EXPECT_EQ(Bytes(s), plain);
  }
}

TEST(ZPeerVectors, NegativeAndEdgeStreams) {
  const std::string unchanged[] = {
      "789c4b4c4a0600024d0128",                              // wrong Adler byte
      "789d4b4c4a0600024d0127",                              // wrong header check
      "1f8b08000000000002ffcb48cdc9c9070086a6103605000000",  // gzip member
      "4b4c4a0600",                                          // raw DEFLATE
  };
  for (const auto& hex : unchanged) {
    TQELMemoryStream s;
    Fill(s, Hex(hex));
    s.Uncompress();
    EXPECT_EQ(Bytes(s), Hex(hex)) << hex;
    EXPECT_EQ(s.Position(), 0);
  }
  TQELMemoryStream s;
  Fill(s, Hex("789c4b4c4a0600"));  // no checksum: what could be inflated
  s.Uncompress();
  EXPECT_EQ(Bytes(s), "abc");
  Fill(s, Hex("789c4b4c4a0600024d0127ff"));  // a byte behind the stream is dropped
  s.Uncompress();
  EXPECT_EQ(Bytes(s), "abc");
}

TEST(ZCompress, EmptyStream) {
  TQELMemoryStream s;
  s.Compress();
  EXPECT_EQ(Bytes(s), kEmptyZlib);
  EXPECT_EQ(s.Position(), 0);
  s.Uncompress();
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
}

TEST(ZCompress, RoundTripHeaderAndChecksum) {
  for (std::size_t n : {1u, 100u, 65535u, 65536u, 65537u, 300000u}) {
    for (bool random : {false, true}) {
      std::string data = random ? test::RandomBytes(n, 5) : test::DocumentLike(n, 5);
      TQELMemoryStream s;
      Fill(s, data);
      s.Compress();
      EXPECT_EQ(s.Position(), 0);
      std::string z = Bytes(s);
      ASSERT_GE(z.size(), 6u);
      EXPECT_EQ(z.substr(0, 2), "\x78\x9C");
      std::uint32_t a = Adler(data);
      std::string tail = {static_cast<char>(a >> 24), static_cast<char>(a >> 16),
                          static_cast<char>(a >> 8), static_cast<char>(a)};
      EXPECT_EQ(z.substr(z.size() - 4), tail);
      s.SetPosition(3);
      s.Uncompress();
      EXPECT_EQ(Bytes(s), data) << n;
      EXPECT_EQ(s.Position(), 0);
    }
  }
}

TEST(ZCompress, PythonInflatesOurOutput) {
  for (std::size_t n : {0u, 70000u, 1000000u}) {
    std::string data = test::DocumentLike(n, 11) + test::RandomBytes(n / 10, 3);
    int status = 0;
    EXPECT_EQ(PyDecompress(Compressed(data), status), data) << n;
    EXPECT_EQ(status, 0);
  }
}

TEST(ZCompress, WeReadPythonsOutputAtSeveralLevels) {
  std::string data = test::DocumentLike(400000, 21) + test::RandomBytes(90000, 2);
  for (int level : {0, 1, 6, 9}) {
    int status = 0;
    std::string z = PyCompress(data, level, status);
    ASSERT_EQ(status, 0);
    ASSERT_FALSE(z.empty());
    TQELMemoryStream s;
    Fill(s, z);
    s.Uncompress();
    EXPECT_EQ(Bytes(s), data) << "level " << level;
  }
}

TEST(ZCompress, CompressorLevels) {
  const std::pair<TZCompressionLevel, std::string> levels[] = {
      {zcNone, "\x78\x01"}, {zcFastest, "\x78\x01"}, {zcDefault, "\x78\x9C"}, {zcMax, "\x78\xDA"}};
  for (const auto& [level, header] : levels) {
    TMemoryStream d;
    {
      TZCompressionStream z(d, level);
      z.WriteBuffer("hello hello hello", 17);
    }
    ASSERT_GE(d.Size(), 2);
    EXPECT_EQ(std::string(d.Memory(), 2), header);
    int status = 0;
    EXPECT_EQ(PyDecompress(std::string(d.Memory(), d.Size()), status), "hello hello hello");
  }
}

TEST(ZUncompress, NotZlibDataStays) {
  const std::string cases[] = {"plain text, not compressed",
                               "\x1F\x8B\x08\x00\x00\x00\x00\x00\x00\x03"s,  // gzip
                               "x", "\x78"s, "\x78\x9D\x03\x00"s};
  for (const auto& c : cases) {
    TQELMemoryStream s;
    Fill(s, c);
    s.Uncompress();
    EXPECT_EQ(Bytes(s), c);
    EXPECT_EQ(s.Position(), 0);
  }
}

TEST(ZUncompress, GzipFromPythonStays) {
  int status = 0;
  std::string gz = Python(
      "import sys,gzip; open(sys.argv[2],'wb').write(gzip.compress(open(sys.argv[1],'rb').read()))",
      "some data", status);
  ASSERT_EQ(gz.substr(0, 2), "\x1F\x8B");
  TQELMemoryStream s;
  Fill(s, gz);
  s.Uncompress();
  EXPECT_EQ(Bytes(s), gz);
}

TEST(ZUncompress, TrailingBytesAreDropped) {
  TQELMemoryStream s;
  Fill(s, Compressed("payload") + "TRAILER");
  s.Uncompress();
  EXPECT_EQ(Bytes(s), "payload");
}

TEST(ZUncompress, HeaderOnlyGivesEmpty) {
  TQELMemoryStream s;
  Fill(s, "\x78\x9C");
  s.Uncompress();
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
}

TEST(ZUncompress, TwiceCompressedLosesOneLevel) {
  TQELMemoryStream s;
  std::string data = test::DocumentLike(100000, 8);
  Fill(s, data);
  s.Compress();
  std::string once = Bytes(s);
  s.Compress();
  s.Uncompress();
  EXPECT_EQ(Bytes(s), once);
  s.Uncompress();
  EXPECT_EQ(Bytes(s), data);
}

TEST(ZUncompress, StreamCutShortGivesWhatCouldBeInflated) {
  std::string data = test::RandomBytes(200000, 4);
  std::string z = Compressed(data);
  TQELMemoryStream s;
  Fill(s, z.substr(0, z.size() / 2));
  s.Uncompress();
  ASSERT_GT(s.Size(), 16384);
  EXPECT_LT(s.Size(), 200000);
  EXPECT_EQ(Bytes(s), data.substr(0, static_cast<std::size_t>(s.Size())));
  EXPECT_EQ(s.Position(), 0);
}

TEST(ZUncompress, DamageEarlyLeavesTheContent) {
  std::string z = Compressed("short document");
  z.back() = static_cast<char>(z.back() ^ 1);  // wrong checksum inside the first read
  TQELMemoryStream s;
  Fill(s, z);
  s.Uncompress();
  EXPECT_EQ(Bytes(s), z);
  EXPECT_EQ(s.Position(), 0);
}

TEST(ZUncompress, DamageLateRaisesAndKeepsTheContent) {
  std::string z = Compressed(test::DocumentLike(100000, 6));
  z.back() = static_cast<char>(z.back() ^ 1);
  TQELMemoryStream s;
  Fill(s, z);
  ASSERT_THAT([&] { s.Uncompress(); },
              ThrowsZLibError<EZDecompressionError>("data error", Z_DATA_ERROR));
  EXPECT_EQ(Bytes(s), z);
  EXPECT_EQ(s.Position(), s.Size());
}

TEST(ZUncompress, PresetDictionaryLeavesTheContentAndEnds) {
  int status = 0;
  std::string z = Python(
      "import sys,zlib; c=zlib.compressobj(6,zlib.DEFLATED,15,8,0,zdict=b'dictionary words');"
      "open(sys.argv[2],'wb').write(c.compress(open(sys.argv[1],'rb').read())+c.flush())",
      "dictionary words and more dictionary words", status);
  ASSERT_EQ(status, 0);
  ASSERT_GE(z.size(), 6u);
  ASSERT_TRUE(static_cast<unsigned char>(z[1]) & 0x20);  // FDICT
  TQELMemoryStream s;
  Fill(s, z);
  s.Uncompress();
  EXPECT_EQ(Bytes(s), z);
  EXPECT_EQ(s.Position(), 0);
  // Read directly, the adapter says why.
  s.SetPosition(0);
  TZDecompressionStream d(s);
  char buf[64];
  ASSERT_THAT([&] { d.Read(buf, sizeof buf); },
              ThrowsZLibError<EZDecompressionError>("need dictionary", Z_NEED_DICT));
}

TEST(ZAdapters, InvalidOperations) {
  TMemoryStream m;
  TZCompressionStream c(m);
  char buf[4];
  ASSERT_THAT([&] { c.Read(buf, 4); },
              ThrowsMessage<EZCompressionError>(StrEq("Invalid ZStream operation!")));
  EXPECT_THROW(c.Seek(0, soBeginning), EZCompressionError);
  EXPECT_THROW(c.Seek(1, soCurrent), EZCompressionError);
  c.WriteBuffer("abc", 3);
  EXPECT_EQ(c.Position(), 3);
  TMemoryStream src;
  TZDecompressionStream d(src);
  ASSERT_THAT([&] { d.Write(buf, 4); },
              ThrowsMessage<EZDecompressionError>(StrEq("Invalid ZStream operation!")));
  EXPECT_THROW(d.Seek(0, soEnd), EZDecompressionError);
}

TEST(ZAdapters, CompressorWritesWholeBuffers) {
  WriteRecorder d;
  {
    TZCompressionStream z(d);
    std::string data = test::RandomBytes(300000, 12);
    for (std::size_t i = 0; i < data.size(); i += 1000) z.WriteBuffer(data.data() + i, 1000);
  }
  ASSERT_GE(d.writes.size(), 4u);
  for (std::size_t i = 0; i + 1 < d.writes.size(); ++i) EXPECT_EQ(d.writes[i], 65536);
  EXPECT_LT(d.writes.back(), 65536);
}

TEST(ZAdapters, CompressorKeepsItsPlaceWhenTheDestinationMoves) {
  TMemoryStream d;
  d.WriteBuffer("HDR", 3);
  {
    TZCompressionStream z(d);
    z.WriteBuffer("abcabcabc", 9);
    d.SetPosition(0);  // someone moves the destination
  }
  ASSERT_GT(d.Size(), 3);
  EXPECT_EQ(std::string(d.Memory(), 3), "HDR");
  int status = 0;
  EXPECT_EQ(PyDecompress(std::string(d.Memory() + 3, d.Size() - 3), status), "abcabcabc");
}

TEST(ZAdapters, DecompressorStopsRightBehindTheStream) {
  TQELMemoryStream src;
  Fill(src, Compressed(test::RandomBytes(100000, 1)) + "NEXT");
  src.SetPosition(0);
  TZDecompressionStream d(src);
  std::string out(200000, '\0');
  std::int64_t total = 0;
  std::int32_t n;
  while ((n = d.Read(out.data() + total, 7000)) > 0) total += n;
  EXPECT_EQ(total, 100000);
  EXPECT_EQ(src.Position(), src.Size() - 4);
  EXPECT_EQ(d.Read(out.data(), 10), 0);
  char tail[4];
  src.ReadBuffer(tail, 4);
  EXPECT_EQ(std::string(tail, 4), "NEXT");
}

}  // namespace
}  // namespace vto
