#include "tools/cache_builder.h"

#include <algorithm>
#include <charconv>
#include <random>

namespace ordil::tools {

namespace {

constexpr size_t kMaxShortField = 255;

void appendShortField(std::string_view field, std::string* out) {
  const size_t n = std::min(field.size(), kMaxShortField);
  out->push_back(static_cast<char>(n));
  out->append(field.substr(0, n));
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool unescapeField(std::string_view field, std::string* out,
                   std::string* error) {
  out->clear();
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\') {
      out->push_back(field[i]);
      continue;
    }
    if (++i == field.size()) {
      *error = "backslash at the end of a field";
      return false;
    }
    switch (field[i]) {
      case 't': out->push_back('\t'); break;
      case 'n': out->push_back('\n'); break;
      case 'r': out->push_back('\r'); break;
      case '\\': out->push_back('\\'); break;
      case 'x': {
        const int high = i + 1 < field.size() ? hexValue(field[i + 1]) : -1;
        const int low = i + 2 < field.size() ? hexValue(field[i + 2]) : -1;
        if (high < 0 || low < 0) {
          *error = "\\x needs two hexadecimal digits";
          return false;
        }
        out->push_back(static_cast<char>(high * 16 + low));
        i += 2;
        break;
      }
      default:
        *error = std::string("unknown escape \\") + field[i];
        return false;
    }
  }
  return true;
}

bool parseLine(std::string_view line, Comment* record, std::string* error) {
  std::string_view fields[4];
  for (int f = 0; f < 3; ++f) {
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos) {
      *error = "expected 4 tab-separated fields";
      return false;
    }
    fields[f] = line.substr(0, tab);
    line.remove_prefix(tab + 1);
  }
  fields[3] = line;
  const auto [end, ec] = std::from_chars(
      fields[0].data(), fields[0].data() + fields[0].size(), record->position);
  if (ec != std::errc() || end != fields[0].data() + fields[0].size()) {
    *error = "position is not a 32-bit unsigned number";
    return false;
  }
  return unescapeField(fields[1], &record->userId, error) &&
         unescapeField(fields[2], &record->mail, error) &&
         unescapeField(fields[3], &record->text, error);
}

// Pieces of realistic comments.
constexpr std::string_view kJapanese[] = {
    "こんにちは", "草", "かわいい", "ここすき", "神回", "888888",
    "うぽつ", "わこつ", "きたあああ", "なにこれ", "すごい", "おつかれさま"};
constexpr std::string_view kEnglish[] = {
    "hello", "lol", "nice", "first", "wow", "this part", "so good",
    "again", "what is this", "gg", "thanks for uploading", "here it comes"};
constexpr std::string_view kMarkup[] = {"<3", "a<b&c", "\"quoted\"", "it's",
                                        "->", "&&", "<b>bold</b>"};
constexpr std::string_view kMails[] = {"", "", "", "shita red", "ue",
                                       "big", "small blue", "184", "naka"};
constexpr char kIdChars[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-";

template <size_t N>
std::string_view pick(const std::string_view (&choices)[N], std::mt19937_64& rng) {
  return choices[rng() % N];
}

Comment realisticRecord(std::mt19937_64& rng) {
  Comment r;
  const auto kind = static_cast<unsigned>(rng() % 100);
  const int pieces = kind < 90 ? 1 + static_cast<int>(rng() % 3)   // short
                               : 12 + static_cast<int>(rng() % 20);  // long
  for (int i = 0; i < pieces; ++i) {
    if (i > 0 && rng() % 2) r.text.push_back(' ');
    const auto what = static_cast<unsigned>(rng() % 100);
    if (what < 50) r.text.append(pick(kJapanese, rng));
    else if (what < 92) r.text.append(pick(kEnglish, rng));
    else r.text.append(pick(kMarkup, rng));
  }
  r.mail = pick(kMails, rng);
  const auto idLength = static_cast<size_t>(20 + rng() % 11);
  for (size_t i = 0; i < idLength; ++i) {
    r.userId.push_back(kIdChars[rng() % (sizeof kIdChars - 1)]);
  }
  r.position = static_cast<uint32_t>(rng() % 360000);
  return r;
}

std::string randomBytes(std::mt19937_64& rng, size_t maxLength) {
  std::string s(static_cast<size_t>(rng() % (maxLength + 1)), '\0');
  for (char& c : s) {
    // Lean towards the bytes that matter: controls, markup, UTF-8 leads.
    const unsigned choice = rng() % 4;
    if (choice == 0) c = "\t\n\r&<>\"'\x01\x1f"[rng() % 10];
    else c = static_cast<char>(rng() % 256);
  }
  return s;
}

// Pieces of comments that give the escaper the most work.
constexpr std::string_view kStressPieces[] = {
    "<b>", "</b>", "&amp;", "\"", "'", "<&>", "a<b&c>d", "\t", "\n", "\r\n", "\x01",
    "\xF0\x9F\x98\x80", "\xF0\x9F\x91\x8D", "\xE3\x81\x82\xE3\x81\x84", "\xE6\xBC\xA2\xE5\xAD\x97",
    "\xEF\xBC\x81", "\xED\x95\x9C", "\xC3\xA9t\xC3\xA9", "wwwwwwww", "lol", " "};

Comment stressRecord(std::mt19937_64& rng) {
  Comment r;
  const auto length = static_cast<size_t>(rng() % 10 == 0 ? 150 + rng() % 300 : 20 + rng() % 60);
  while (r.text.size() < length) r.text.append(pick(kStressPieces, rng));
  r.mail = rng() % 2 ? std::string(pick(kMails, rng)) : "ue <red> & \"big\"";
  const auto idLength = static_cast<size_t>(20 + rng() % 11);
  for (size_t i = 0; i < idLength; ++i) {
    r.userId.push_back(i % 7 == 3 ? '&' : kIdChars[rng() % (sizeof kIdChars - 1)]);
  }
  r.position = static_cast<uint32_t>(rng() % 360000);
  return r;
}

}  // namespace

void appendTextLength(uint32_t length, std::string* out) {
  while (length >= 0x80) {
    out->push_back(static_cast<char>(0x80 | (length & 0x7F)));
    length >>= 7;
  }
  out->push_back(static_cast<char>(length));
}

void appendRecord(const CacheRecord& record, std::string* out) {
  appendShortField(record.mail, out);
  appendTextLength(static_cast<uint32_t>(record.text.size()), out);
  out->append(record.text);
  for (int shift = 0; shift < 32; shift += 8) {
    out->push_back(static_cast<char>((record.position >> shift) & 0xFF));
  }
  out->append(8, '\0');
  appendShortField(record.userId, out);
}

std::string buildCacheFile(const std::vector<Comment>& comments) {
  std::string file(kGeneratedHeader);
  for (const Comment& comment : comments) appendRecord(comment.record(), &file);
  return file;
}

bool parseDescription(std::string_view description,
                      std::vector<Comment>* records, std::string* error) {
  size_t lineNumber = 0;
  while (!description.empty()) {
    ++lineNumber;
    const size_t end = description.find('\n');
    std::string_view line = description.substr(0, end);
    description.remove_prefix(end == std::string_view::npos ? description.size()
                                                            : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    Comment record;
    std::string reason;
    if (!parseLine(line, &record, &reason)) {
      *error = "line " + std::to_string(lineNumber) + ": " + reason;
      return false;
    }
    records->push_back(std::move(record));
  }
  return true;
}

std::vector<Comment> randomRecords(uint64_t seed, size_t count,
                                       RandomMix mix) {
  std::mt19937_64 rng(seed);
  std::vector<Comment> records;
  records.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    if (mix == RandomMix::kRealistic) {
      records.push_back(realisticRecord(rng));
    } else if (mix == RandomMix::kStress) {
      records.push_back(stressRecord(rng));
    } else {
      Comment r;
      r.mail = randomBytes(rng, 40);
      r.text = randomBytes(rng, rng() % 8 == 0 ? 600 : 60);
      r.userId = randomBytes(rng, 40);
      r.position = static_cast<uint32_t>(rng());
      records.push_back(std::move(r));
    }
  }
  return records;
}

}  // namespace ordil::tools
