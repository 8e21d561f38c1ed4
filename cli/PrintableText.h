#pragma once
// Text bound for a terminal (messages, the text summary) with its control bytes escaped, so a file name
// holding a newline or an escape sequence cannot split a line or recolour the terminal: "\n", "\r",
// "\t" and "\xHH" for the other C0 bytes, DEL and the C1 controls (as raw bytes or UTF-8 encoded).
// Every other byte, UTF-8 or not, is kept as it is.

#include <cstddef>
#include <string>

std::string printableText(const std::string& text);

// Length of the UTF-8 sequence at s[i], or 0 when none starts there.
std::size_t utf8Length(const std::string& s, std::size_t i);
