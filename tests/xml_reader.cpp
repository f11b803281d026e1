#include "tests/xml_reader.h"

#include <expat.h>

#include "tests/test_support.h"
#include "text/utf8.h"

namespace ordil::testing {

namespace {

struct State {
  ParsedDocument* doc;
  int depth = 0;
  bool inChat = false;
};

void onStart(void* data, const XML_Char* name, const XML_Char** attributes) {
  State* s = static_cast<State*>(data);
  ++s->depth;
  if (s->depth != 2) return;  // children of <packet>
  const std::string element = name;
  s->doc->elements.push_back(element);
  std::map<std::string, std::string> values;
  for (const XML_Char** a = attributes; *a != nullptr; a += 2) values[a[0]] = a[1];
  if (element == "chat") {
    s->doc->chats.push_back({values, ""});
    s->inChat = true;
  } else if (element == "view_counter") {
    s->doc->viewCounterId = values["id"];
  }
}

void onEnd(void* data, const XML_Char*) {
  State* s = static_cast<State*>(data);
  if (s->depth == 2) s->inChat = false;
  --s->depth;
}

void onText(void* data, const XML_Char* text, int length) {
  State* s = static_cast<State*>(data);
  if (s->inChat) s->doc->chats.back().text.append(text, static_cast<size_t>(length));
}

}  // namespace

bool parseDocument(const std::string& document, ParsedDocument* parsed,
                   std::string* error) {
  XML_Parser parser = XML_ParserCreate("UTF-8");
  State state{parsed};
  XML_SetUserData(parser, &state);
  XML_SetElementHandler(parser, onStart, onEnd);
  XML_SetCharacterDataHandler(parser, onText);
  const bool ok = XML_Parse(parser, document.data(), static_cast<int>(document.size()),
                            /*isFinal=*/1) == XML_STATUS_OK;
  if (!ok) {
    *error = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + " at line " +
             std::to_string(XML_GetCurrentLineNumber(parser));
  }
  XML_ParserFree(parser);
  return ok;
}

std::string xmlReading(const std::string& field) {
  std::u16string wide = utf8ToUtf16(field);
  for (char16_t& c : wide) {
    if (isForbiddenInXml(c)) c = static_cast<char16_t>(kReplacementCharacter);
  }
  return utf16ToUtf8(wide);
}

}  // namespace ordil::testing
