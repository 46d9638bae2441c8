// Text helpers of the runtime: trimming, case-blind search and replace, splitting, and the
// forms in which values are written into SQL text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varn {

// Letter case folded for A-Z only, as the keyed collection and the user list compare names.
std::string FoldCase(std::string_view s);
std::string UCase(std::string_view s);

// Blanks (spaces) removed from the ends; tabs and other characters stay, as the runtime trims.
std::string Trim(std::string_view s);
std::string LTrim(std::string_view s);

bool StartsWith(std::string_view s, std::string_view sPrefix);
// Every occurrence of sFind replaced, compared without regard to letter case when bIgnoreCase.
std::string Replace(std::string_view s, std::string_view sFind, std::string_view sWith, bool bIgnoreCase = false);
// Splits at every sDelimiter (no limit); an empty text gives one empty piece.
std::vector<std::string> Split(std::string_view s, std::string_view sDelimiter, bool bIgnoreCase = false);
// The same pieces for a one-character delimiter, as views of s: nothing is copied, so s must
// outlive them.
std::vector<std::string_view> SplitViews(std::string_view s, char cDelimiter);
// The part after the last "\" or "/"; the whole path when it has neither.
std::string FileNameOf(std::string_view sPath);
// A folder of the user's by the XDG rules: the one the variable sVariable names (XDG_CONFIG_HOME,
// XDG_DATA_HOME), else sUnderHome in HOME; only absolute folders count, as a relative one would
// move with the working folder. "" when neither names one.
std::string UserFolder(const char* sVariable, std::string_view sUnderHome);

// A text value for SQL: single quotes doubled, so the value is stored exactly as held.
std::string SqlText(std::string_view s);
// A whole number as decimal digits, a minus sign when negative.
std::string NumText(int64_t lValue);
// A whole number with its thousands grouped by commas ("32,767").
std::string GroupedNumber(int64_t lValue);
// The text as it may be printed on a terminal: control characters shown as \xNN, and more
// than nMost characters cut to nMost followed by "...".
std::string VisibleText(std::string_view s, size_t nMost = std::string_view::npos);
// A double in its shortest form of up to 15 significant digits, full stop as decimal point.
std::string NumText(double dValue);
// The same texts appended to one being built, such as a statement, without a text of their own.
void AppendNumText(std::string& sOut, int64_t lValue);
void AppendNumText(std::string& sOut, double dValue);

}  // namespace varn
