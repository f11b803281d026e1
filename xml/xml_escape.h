// Escaping of comment fields for the comment XML document.
//
// Both escapers read their input as UTF-8 and write well-formed UTF-8 that a
// conforming XML 1.0 parser reads back as the input, with these exceptions
// that XML cannot carry: each ill-formed sequence (one per maximal subpart)
// and each character XML 1.0 forbids (U+0000 to U+0008, U+000B, U+000C,
// U+000E to U+001F, U+FFFE, U+FFFF) becomes U+FFFD. The five markup
// characters & < > " ' become &#38; &#60; &#62; &#34; &#39;.
#ifndef ORDIL_XML_XML_ESCAPE_H_
#define ORDIL_XML_XML_ESCAPE_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ordil {

// Element content: a CR becomes &#13; (a parser would otherwise fold it into
// a line feed), an LF is written as the document's line end CR LF, and a tab
// stays as it is. Appends to *out.
void appendEscapedText(std::string_view utf8, std::string* out);

// Attribute values: as the text, but TAB, LF and CR become &#9; &#10; &#13;,
// since attribute-value normalisation would turn them into spaces.
void appendEscapedAttribute(std::string_view utf8, std::string* out);

// The room escaping n input bytes needs: a byte becomes at most a five-byte
// reference, and the escapers store whole blocks of up to 32 bytes, which
// may reach 32 bytes past what they write.
constexpr size_t maxEscapedSize(size_t n) { return 5 * n + 32; }

// Escape a field of a cache record, whose value ends at its first NUL, into
// a caller's buffer, which must hold maxEscapedSize(field.size()) bytes at
// out; return the byte after the last one written. Escapes the bytes before
// the NUL (all of them if there is none), so that one scan of the field
// finds both the NUL and what needs escaping. readable is nullptr, or the end of the
// memory the field's view points into, even when it is empty (a cache
// record's dataEnd): the escapers may then load, but never use, the bytes
// between the field's end and it, which spares them loading a field's last
// bytes piecemeal.
char* escapeTextValueTo(std::string_view field, const char* readable, char* out);
char* escapeAttributeValueTo(std::string_view field, const char* readable, char* out);

// The kernels that do the escaping, which give the same bytes for every
// input: the portable one, a word of 8 bytes at a time; where the build has
// it (SSE2, on every x86-64 processor), 16 bytes at a time; and where the
// processor also has AVX2, 32 bytes at a time. Each entry escapes into a
// buffer as the field escapers do: text and attribute the whole input, as
// appendEscapedText and appendEscapedAttribute, textValue and
// attributeValue up to the first NUL; readable as for the field escapers (the
// portable kernel never loads past a field).
struct EscapeKernel {
  const char* name;     // "portable", "sse2", "avx2"
  bool (*supported)();  // whether this processor runs it
  char* (*text)(std::string_view utf8, const char* readable, char* out);
  char* (*attribute)(std::string_view utf8, const char* readable, char* out);
  char* (*textValue)(std::string_view field, const char* readable, char* out);
  char* (*attributeValue)(std::string_view field, const char* readable, char* out);
};

// The kernels of this build that this processor runs, narrowest first.
// The calls above use the last, chosen once, at start-up.
std::vector<const EscapeKernel*> availableEscapeKernels();

// Makes the calls above use kernel instead, for the tests and benchmarks
// that compare the kernels; not while another thread escapes. Returns the
// kernel used until then.
EscapeKernel useEscapeKernelForTesting(const EscapeKernel& kernel);

}  // namespace ordil

#endif  // ORDIL_XML_XML_ESCAPE_H_
