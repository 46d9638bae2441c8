// The log file as comma-delimited items: decoding to UTF-8 once, then one pass over the text.
#include "runtime/FieldReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "runtime/Error.h"
#include "runtime/Utf8.h"

namespace varn {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// Windows-1252 at 0x80-0x9F; the five bytes it leaves undefined keep their own value.
constexpr char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string FromCp1252(std::string_view s) {
  std::string sOut;
  sOut.reserve(s.size() + s.size() / 4);
  for (char c : s) {
    auto b = static_cast<unsigned char>(c);
    if (b == 0) continue;
    AppendUtf8(sOut, b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char16_t{b});
  }
  return sOut;
}

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

// The position of the first character from nFrom on that ends what is being read, or the
// text's size. A test of one character beats a search for any of a set in every item.
template <class Fn>
size_t FirstWhere(std::string_view sText, size_t nFrom, Fn fnEnds) {
  return static_cast<size_t>(std::find_if(sText.begin() + static_cast<std::ptrdiff_t>(nFrom), sText.end(), fnEnds) -
                             sText.begin());
}

std::string ReadBytes(const std::string& sPath) {
  std::error_code ec;
  auto status = std::filesystem::status(sPath, ec);
  if (status.type() == std::filesystem::file_type::not_found) RaiseError(errFileNotFound);
  if (status.type() == std::filesystem::file_type::directory) {
    RaiseError(errPathFileAccess, "Path/File access error: " + sPath + " is a folder, not a file");
  }
  std::ifstream file(sPath, std::ios::binary);
  if (!file) RaiseError(errPathFileAccess, "Path/File access error: " + sPath + ": " + std::strerror(errno));
  // Read straight into a buffer of the file's size: growing one as the bytes come would hold up
  // to twice the file. A file that grows meanwhile is read on to its end.
  std::error_code ecSize;
  uintmax_t nSize = std::filesystem::file_size(sPath, ecSize);
  std::string sBytes(ecSize ? 0 : nSize, '\0');
  file.read(sBytes.data(), static_cast<std::streamsize>(sBytes.size()));
  sBytes.resize(static_cast<size_t>(file.gcount()));
  char sChunk[1 << 16];
  while (file.read(sChunk, sizeof sChunk) || file.gcount() > 0)
    sBytes.append(sChunk, static_cast<size_t>(file.gcount()));
  if (file.bad()) RaiseError(errPathFileAccess, "Path/File access error: " + sPath + " could not be read");
  return sBytes;
}

}  // namespace

std::string DecodeLogText(std::string_view sBytes) { return DecodeLogText(std::string(sBytes)); }

std::string DecodeLogText(std::string&& sBytes) {
  size_t nBom = sBytes.compare(0, kBom.size(), kBom) == 0 ? kBom.size() : 0;
  if (!IsValidUtf8(std::string_view(sBytes).substr(nBom))) return FromCp1252(std::string_view(sBytes).substr(nBom));
  sBytes.erase(0, nBom);
  sBytes.erase(std::remove(sBytes.begin(), sBytes.end(), '\0'), sBytes.end());
  return std::move(sBytes);
}

bool IsBlankItem(std::string_view sItem) { return sItem.find_first_not_of(' ') == std::string_view::npos; }

void clsFieldReader::Open(const std::string& sPath) {
  mOpenDecoded(DecodeLogText(ReadBytes(sPath)));
}

void clsFieldReader::OpenText(std::string_view sBytes) { mOpenDecoded(DecodeLogText(sBytes)); }

void clsFieldReader::mOpenDecoded(std::string sText) {
  msText = std::move(sText);
  mnPos = 0;
  mbOpen = true;
}

void clsFieldReader::Close() {
  msText.clear();
  msText.shrink_to_fit();
  mnPos = 0;
  mbOpen = false;
}

std::string clsFieldReader::ReadItem() { return std::string(NextItem()); }

std::string_view clsFieldReader::NextItem() {
  if (!mbOpen) RaiseError(errBadFileNumber, "Bad file name or number");
  if (AtEnd()) RaiseError(errInputPastEnd, "Input past end of file");
  std::string_view sText = msText;
  size_t nStart = std::min(sText.find_first_not_of(' ', mnPos), sText.size());
  bool bQuoted = nStart < sText.size() && sText[nStart] == '"';
  std::string_view sItem;
  size_t nRest = nStart;  // where the search for the comma or line end that ends the item begins
  if (bQuoted) {
    size_t nClose = FirstWhere(sText, nStart + 1, [](char c) { return c == '"' || IsLineEnd(c); });
    sItem = sText.substr(nStart + 1, nClose - nStart - 1);
    nRest = nClose < sText.size() && sText[nClose] == '"' ? nClose + 1 : nClose;
  }
  size_t nEnd = FirstWhere(sText, nRest, [](char c) { return c == ',' || IsLineEnd(c); });
  if (!bQuoted) sItem = sText.substr(nStart, nEnd - nStart);
  mnPos = nEnd;
  if (mnPos < sText.size() && sText[mnPos] == ',') {
    ++mnPos;
  } else if (mnPos < sText.size() && IsLineEnd(sText[mnPos])) {
    mnPos += sText.compare(mnPos, 2, "\r\n") == 0 ? 2 : 1;
  }
  return sItem;
}

}  // namespace varn
