// What the engines' dialects share: blanks, words, and the "DELETE * FROM" rewrite.
#include "db/Dialect.h"

#include <cctype>

#include "runtime/Text.h"

namespace varn {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

size_t SkipBlanks(std::string_view s, size_t nAt) {
  while (nAt < s.size() && IsBlank(s[nAt])) ++nAt;
  return nAt;
}

bool IsLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

bool IsWordStart(char c) { return IsLetter(c) || c == '_' || static_cast<unsigned char>(c) >= 0x80; }

bool IsWordChar(char c) { return IsWordStart(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '$'; }

std::string LeadingWord(std::string_view sSql, CharTest bInWord, size_t* pnEnd) {
  size_t nAt = SkipBlanks(sSql);
  size_t nStart = nAt;
  while (nAt < sSql.size() && bInWord(sSql[nAt])) ++nAt;
  if (pnEnd) *pnEnd = nAt;
  return UCase(sSql.substr(nStart, nAt - nStart));
}

std::string WithoutDeleteStar(std::string_view sSql, CharTest bInWord) {
  size_t nAt = 0;
  if (LeadingWord(sSql, bInWord, &nAt) != "DELETE") return std::string(sSql);
  size_t nStar = SkipBlanks(sSql, nAt);
  if (nStar >= sSql.size() || sSql[nStar] != '*' || LeadingWord(sSql.substr(nStar + 1), bInWord) != "FROM") {
    return std::string(sSql);
  }
  return std::string(sSql.substr(0, nAt)) + " " + std::string(sSql.substr(nStar + 1));
}

}  // namespace varn
