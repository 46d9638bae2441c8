// Sequential reading of a text file as comma-delimited fields, one item per call.
// Leading spaces are skipped; a field runs to the next comma or the line end (trailing spaces
// kept); a field that begins with a double quote runs to the closing quote, keeps its commas
// and loses the quotes, and text between the closing quote and the next comma is dropped; an
// unclosed quote runs to the end of its line. CR LF, LF and a lone CR each end a line.
// The file is read as UTF-8 (a BOM skipped), or as Windows-1252 when it is not valid UTF-8,
// and handed out as UTF-8; NUL bytes are dropped. Open copies the file's bytes once: every pass
// over the items (Rewind starts another) sees the file as it was then, whatever is written to it
// meanwhile.
#pragma once

#include <string>
#include <string_view>

namespace varn {

class clsFieldReader {
 public:
  // Opens and decodes the whole file; raises 53 when it does not exist, 75 when it cannot be read.
  void Open(const std::string& sPath);
  // Back to the first item, for another pass over the same text.
  void Rewind() { mnPos = 0; }
  // Reads from text already in memory (UTF-8 or Windows-1252 bytes).
  void OpenText(std::string_view sBytes);
  void Close();

  bool IsOpen() const { return mbOpen; }
  bool AtEnd() const { return mnPos >= msText.size(); }
  // The next item; raises 62 (input past end of file) when AtEnd.
  std::string ReadItem();
  // The same item as a view of the text read: valid until the next Open or Close.
  std::string_view NextItem();

 private:
  void mOpenDecoded(std::string sText);

  std::string msText;
  size_t mnPos = 0;
  bool mbOpen = false;
};

// Bytes as valid UTF-8: themselves when they are, else read as Windows-1252. NULs dropped, BOM skipped.
std::string DecodeLogText(std::string_view sBytes);
// The same, reusing the bytes' own buffer when they are UTF-8, so that a file is held only once.
std::string DecodeLogText(std::string&& sBytes);
// Whether an item is blank: nothing but spaces.
bool IsBlankItem(std::string_view sItem);

}  // namespace varn
