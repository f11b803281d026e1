// The UTF-8/UTF-16 conversions and the XML escaping over arbitrary bytes.
//   - every conversion result is well-formed;
//   - well-formed UTF-8 without NUL survives UTF-8 -> UTF-16 -> UTF-8;
//   - the vector escaping path gives the bytes of the portable one;
//   - escaped text and attribute values hold no character XML 1.0 forbids
//     and no raw markup, and read back, unescaped as a parser would, to the
//     input with its ill-formed and forbidden characters replaced by U+FFFD.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_checks.h"
#include "platform/code_page.h"
#include "text/utf8.h"
#include "xml/xml_escape.h"

namespace {

using ordil::fuzz::check;
using ordil::fuzz::isWellFormedUtf8;

bool forbiddenInXml(char32_t c) {
  return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE || c == 0xFFFF;
}

// The input as a parser must read it back.
std::string expectedReading(std::string_view in) {
  std::string out;
  const char* p = in.data();
  const char* const limit = p + in.size();
  while (p < limit) {
    char32_t c;
    p = ordil::decodeUtf8(p, limit, &c);
    ordil::appendUtf8(forbiddenInXml(c) ? ordil::kReplacementCharacter : c, &out);
  }
  return out;
}

// Reads escaped output back the way an XML parser does: character
// references decoded, a raw CR LF read as LF. Checks that nothing in it
// would end the content or the attribute value early.
std::string parserReading(std::string_view escaped, bool attribute) {
  std::string out;
  const char* p = escaped.data();
  const char* const limit = p + escaped.size();
  while (p < limit) {
    char32_t c;
    p = ordil::decodeUtf8(p, limit, &c);
    check(!forbiddenInXml(c) && c != '<' && c != '>' && c != '"' && c != '\'');
    if (c == '&') {
      check(p < limit && *p == '#');
      char32_t value = 0;
      for (++p; p < limit && *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + static_cast<char32_t>(*p - '0');
      }
      check(p < limit && *p == ';' && value < 0x110000);
      ++p;
      c = value;
    } else if (c == '\r') {
      check(!attribute && p < limit && *p == '\n');  // raw CR only before LF
      continue;
    } else if (attribute) {
      check(c != '\t' && c != '\n');  // would be normalised to a space
    }
    ordil::appendUtf8(c, &out);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);

  std::u16string wide;
  check(ordil::platform::utf8ToWide(in, &wide));
  std::string back;
  check(ordil::platform::wideToUtf8(wide, &back));
  check(isWellFormedUtf8(back));
  const std::string_view beforeNul = in.substr(0, in.find('\0'));
  if (isWellFormedUtf8(beforeNul)) check(back == beforeNul);

  // Arbitrary UTF-16, lone surrogates included, always gives well-formed UTF-8.
  const std::u16string units(reinterpret_cast<const char16_t*>(data), size / 2);
  std::string fromUnits;
  check(ordil::platform::wideToUtf8(units, &fromUnits));
  check(isWellFormedUtf8(fromUnits));

  const std::string expected = expectedReading(in);
  std::string text, attribute;
  ordil::appendEscapedText(in, &text);
  ordil::appendEscapedAttribute(in, &attribute);
  check(parserReading(text, false) == expected);
  check(parserReading(attribute, true) == expected);

  // Every kernel the processor runs (16 and, where it has AVX2, 32 bytes at
  // a time) gives what the portable one gives, with each of its entries.
  std::string portable(ordil::maxEscapedSize(in.size()), '\0');
  std::string vector(ordil::maxEscapedSize(in.size()), '\0');
  std::string portableField(ordil::maxEscapedSize(in.size()), '\0');
  static const std::vector<const ordil::EscapeKernel*> kernels = ordil::availableEscapeKernels();
  using Entry = char* (*)(std::string_view, const char*, char*);
  const auto entries = [](const ordil::EscapeKernel& k) {
    return std::array<Entry, 4>{k.text, k.attribute, k.textValue, k.attributeValue};
  };
  const auto reference = entries(*kernels.front());
  for (size_t e = 0; e < reference.size(); ++e) {
    const char* p = reference[e](in, nullptr, portable.data());
    // The first three quarters of the input as a field followed by the
    // rest, which the vector kernels may load but must not use.
    const std::string_view field = in.substr(0, in.size() - in.size() / 4);
    const char* pf = reference[e](field, nullptr, portableField.data());
    for (size_t k = 1; k < kernels.size(); ++k) {
      const Entry entry = entries(*kernels[k])[e];
      const char* v = entry(in, nullptr, vector.data());
      check(std::string_view(portable.data(), static_cast<size_t>(p - portable.data())) ==
            std::string_view(vector.data(), static_cast<size_t>(v - vector.data())));
      v = entry(field, in.data() + in.size(), vector.data());
      check(std::string_view(portableField.data(),
                             static_cast<size_t>(pf - portableField.data())) ==
            std::string_view(vector.data(), static_cast<size_t>(v - vector.data())));
    }
  }

  // A record's field, escaped up to its first NUL, gives what escaping the
  // bytes before it gives.
  std::string value(ordil::maxEscapedSize(in.size()), '\0');
  const char* t = ordil::escapeTextValueTo(in, nullptr, value.data());
  check(std::string_view(value.data(), static_cast<size_t>(t - value.data())) ==
        [&] { std::string s; ordil::appendEscapedText(beforeNul, &s); return s; }());
  const char* a = ordil::escapeAttributeValueTo(in, in.data() + in.size(), value.data());
  check(std::string_view(value.data(), static_cast<size_t>(a - value.data())) ==
        [&] { std::string s; ordil::appendEscapedAttribute(beforeNul, &s); return s; }());
  return 0;
}
