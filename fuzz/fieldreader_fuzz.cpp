// The field reader on any bytes: it ends, every item is decoded text without line breaks or
// NULs, and the reading always moves on.

#include "fuzz/FuzzSupport.h"
#include "runtime/FieldReader.h"

using namespace varn;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  std::string_view sBytes(reinterpret_cast<const char*>(pData), nSize);
  clsFieldReader reader;
  reader.OpenText(sBytes);
  size_t nItems = 0;
  while (!reader.AtEnd()) {
    std::string sItem = reader.ReadItem();
    fuzz::Require(sItem.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos,
                  "an item holds a line break or a NUL", sBytes);
    // A leading mark keeps a BOM inside the text from being taken for the file's own.
    fuzz::Require(DecodeLogText("x" + sItem) == "x" + sItem, "an item is not valid UTF-8", sBytes);
    fuzz::Require(++nItems <= nSize + 1, "the reader does not move on", sBytes);
  }
  return 0;
}
