// Reading numbers and money amounts out of log text.
//   ReadLeadingNumber: blanks, tabs and line feeds ignored; an optional sign, digits with at most
//   one full stop, an optional exponent; reading stops at the first character that cannot
//   continue the number (a comma ends it); nothing readable gives 0. A number too large for a
//   double raises overflow (6).
//   CleanUpMoney: strips leading non-digits one at a time ('$12.50' 12.5, '-5.00' 5, 'RM' 0) and
//   reads the leading number of the rest. An empty text is reported once and gives 0.
#pragma once

#include <string>
#include <string_view>

namespace varn {

double ReadLeadingNumber(std::string_view sText);
double CleanUpMoney(std::string_view sText);
// True when the text begins with a digit or is emptied; otherwise drops its first character
// and trims it. Reports an empty text (error 5) and answers True.
bool mbIsNumber(std::string& sText);
// The sum of two amounts. A sum past the largest double raises overflow (6), as the runtime's
// addition does, so that no total is ever written as infinite.
double AddAmounts(double dblTotal, double dblAmount);

}  // namespace varn
