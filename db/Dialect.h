// What the engines' dialects share: reading blanks and words at the start of a statement,
// and the report database's "DELETE * FROM x", which both engines write "DELETE FROM x".
#pragma once

#include <string>
#include <string_view>

namespace varn {

bool IsBlank(char c);
// Where the first character at or after nAt that is no blank stands (the size when none is).
size_t SkipBlanks(std::string_view s, size_t nAt = 0);
bool IsLetter(char c);
// A character that can start a bare name: a letter, "_", or any byte of a non-ASCII character.
bool IsWordStart(char c);
// A character of a bare name: those that start one, digits and "$".
bool IsWordChar(char c);

using CharTest = bool (*)(char);

// The statement's first word in capitals, made of the characters bInWord accepts ("" when it
// starts with none), and in *pnEnd where it ends.
std::string LeadingWord(std::string_view sSql, CharTest bInWord, size_t* pnEnd = nullptr);

// "DELETE * FROM x" as "DELETE FROM x"; any other statement as it is. Its words are read with
// bInWord, as the engine reads them.
std::string WithoutDeleteStar(std::string_view sSql, CharTest bInWord);

}  // namespace varn
