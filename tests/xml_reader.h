// Reads a comment XML document back with expat, a conforming XML parser, so
// the tests check what a reader of the document really gets.
#ifndef ORDIL_TESTS_XML_READER_H_
#define ORDIL_TESTS_XML_READER_H_

#include <map>
#include <string>
#include <vector>

namespace ordil::testing {

struct ParsedChat {
  std::map<std::string, std::string> attributes;
  std::string text;
};

struct ParsedDocument {
  std::vector<std::string> elements;  // names of the packet's children, in order
  std::vector<ParsedChat> chats;
  std::string viewCounterId;
};

// Parses document; on failure returns false with expat's message and line.
bool parseDocument(const std::string& document, ParsedDocument* parsed,
                   std::string* error);

// What a parser reads back for a field the writer escaped: the field's
// UTF-8 with every ill-formed sequence (one per maximal subpart) and every
// character XML 1.0 forbids replaced by U+FFFD.
std::string xmlReading(const std::string& field);

}  // namespace ordil::testing

#endif  // ORDIL_TESTS_XML_READER_H_
