// Decimal and hexadecimal numbers (see number_text.h).
#include "number_text.h"

#include <charconv>

namespace dtv {

bool ParseNumber(const std::string& text, uint64_t* value) {
  const char* begin = text.data();
  const char* end = text.data() + text.size();
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    begin += 2;
    base = 16;
  }
  if (begin == end) {
    return false;
  }
  auto result = std::from_chars(begin, end, *value, base);
  return result.ec == std::errc() && result.ptr == end;
}

}  // namespace dtv
