#include "routing/routing_description.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cmath>
#include <map>
#include <set>
#include <sstream>

#include "framework/control_keys.h"
#include "framework/logstream.h"
#include "framework/text_helpers.h"
#include "framework/value_checks.h"

namespace {

const char* const kKeywords[] = {"TG", "OL", "SUMTRIB", "ZL", "AL", "SP"};

[[noreturn]] void Fail(LogStream* log, const std::string& text, int code) {
  if (log) *log << "FATAL: " << text << "[end-entry]";
  throw code;
}

std::string Where(int number, int code) {
  return "routing description " + std::to_string(number) + " (TG " + std::to_string(code) + ")";
}

// The section and file a message names.
std::string InFile(const std::string& file) {
  return " of [routing_model] in " + (file.empty() ? std::string("the control file") : file);
}

// Characters that join a keyword to the word around it (a file name, a free key name).
bool JoinsWord(char ch) {
  return std::isalnum(static_cast<unsigned char>(ch)) || std::strchr("._-/~", ch) != nullptr;
}

// The keys the reservoir of an SP entry reads (SP_class::ReadParameters). It finds each
// within a longer word ("filename =" reads as "file ="), so a key holding one counts as known.
const std::vector<std::string> kReservoirKeys = {"file", "V0", "A0", "W0", "C0", "dTmin", "UseRunningAvg"};

// Names in a WARNING each key of the SP entries on a line of the list that the reservoir
// does not read. Only an SP entry's keys are read by name: the names before the "=" of the
// other entries are free (their values are taken in their order, an AL's after its mode).
// An entry's text runs from its keyword to the next keyword, wherever it stands, also over
// line ends: inReservoir says whether the line begins inside an SP entry and is left so for
// the next line. A remark ("#" to the line's end) is not checked. lineNumber: the line's in
// the cursor's text.
void ReportUnknownReservoirKeys(const std::string& line, long lineNumber, const TextCursor& cursor, bool& inReservoir,
                                LogStream* log) {
  const size_t remark = std::min(line.find('#'), line.size());
  size_t from = 0;
  for (;;) {
    size_t next = std::string::npos;
    const char* keyword = nullptr;
    for (const char* k : kKeywords) {
      const size_t p = line.find(k, from);
      if (p < next) {
        next = p;
        keyword = k;
      }
    }
    const size_t end = std::min(next, remark);
    if (inReservoir && end > from) {
      // The entry's brackets and commas stand between its keys as blanks do.
      std::string text = line.substr(from, end - from);
      for (char& c : text)
        if (std::strchr("(),;", c)) c = ' ';
      ReportUnknownKeys(log, "the SP entries of [routing_model]", cursor.LineText(lineNumber), text, kReservoirKeys);
    }
    if (!keyword) return;
    inReservoir = std::strcmp(keyword, "SP") == 0;
    from = next + std::strlen(keyword);
  }
}

// Refuses the line that ends the list (line, named place) where it goes on with an entry of
// the line before, whose bracket that line leaves open: it holds a key = value, which the
// list would lose with the rest of the entry.
void CheckNoEntryGoesOn(const std::string& before, const std::string& line, const std::string& place,
                        LogStream* log) {
  const std::string open = before.substr(0, before.find('#'));
  const std::string own = line.substr(0, line.find('#'));
  if (std::count(open.begin(), open.end(), '(') <= std::count(open.begin(), open.end(), ')') ||
      own.find('=') == std::string::npos)
    return;
  Fail(log,
       place + " in [routing_model] goes on with the entry of the line before (\"" + open.substr(0, 60) +
           "\"), whose bracket is not closed: the list of routing descriptions ends at the first line without a "
           "keyword (TG, OL, SUMTRIB, ZL, AL, SP), so this line is not read as part of the entry. Write the entry on "
           "one line",
       38);
}

// Whether a keyword of an entry begins within text[from, to): the values of an entry end
// where the next entry begins.
bool KeywordBetween(const std::string& text, size_t from, size_t to) {
  for (size_t p = from; p < to && p < text.size(); ++p)
    for (const char* k : kKeywords)
      if (text.compare(p, std::strlen(k), k) == 0) return true;
  return false;
}

// Whether a word standing between the values of an entry is a number of its own, not a
// remark or unit ("1/1", "m^", "km"): one that begins like a number and holds nothing but a
// number's characters ("5", "1.000.000", "1e400"), or "nan" and "inf".
bool NumberWord(const std::string& word) {
  if (!BeginsLikeNumber(word)) return false;
  if (word.find_first_not_of("0123456789.+-eE") == std::string::npos) return true;
  std::string letters = word.substr(word.find_first_not_of("+-"));
  for (char& c : letters) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return letters == "nan" || letters == "inf" || letters == "infinity";
}

// Whether a character stands between the words of an entry: a blank, a bracket, a comma or
// a semicolon.
bool BetweenWords(char c) { return std::isspace(static_cast<unsigned char>(c)) || std::strchr("(),;", c); }

// The name written right before the "=" at eq ("kh" of "(kh ="); empty when there is none.
// begin, when given, receives where it begins.
std::string NameBefore(const std::string& text, size_t eq, size_t* begin = nullptr) {
  size_t end = eq;
  while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  size_t first = end;
  while (first > 0 && !BetweenWords(text[first - 1])) --first;
  if (begin) *begin = first;
  return text.substr(first, end - first);
}

// The next line of the list; a line longer than the limit is error 40, the end of the file
// inside the list error 38.
std::string NextListLine(TextCursor& cursor, LogStream* log) {
  std::string line;
  if (!cursor.ReadLine(line))
    Fail(log, "unexpected end of control file reached reading routing descriptions", 38);
  if (line.size() > kMaxDescriptionLine)
    Fail(log, "string is too long (max. " + std::to_string(kMaxDescriptionLine) + " chars):\n" + line, 40);
  return line;
}

// Reads the description text with checked numbers; every failure names the description
// and the entry being read.
class DescriptionReader {
 public:
  DescriptionReader(const std::string& text, int number, LogStream* log, const std::string& file)
      : t_(text), number_(number), log_(log), file_(file.empty() ? "the control file" : file), inFile_(InFile(file)) {
    // A number is read whole: "3,5" is refused as a decimal comma rather than read as 3.
    t_.RequireWholeNumbers();
  }

  // Moves behind the next occurrence of key from the current position.
  void Find(const std::string& key, const std::string& entry) {
    const size_t p = t_.Text().find(key, t_.Pos());
    if (p == std::string::npos) SyntaxError("the entry " + key + " was not found", entry);
    if (std::find(std::begin(kKeywords), std::end(kKeywords), key) != std::end(kKeywords)) {
      lastKey_ = key;
      lastFound_ = p;
    }
    t_.Seek(p + key.size());
  }
  // The description in a message: its number, its first words, the section and the file.
  // A keyword inside a file name splits or adds entries, so the number alone may point at
  // a description the user never wrote.
  std::string Place() const {
    const std::string& s = t_.Text();
    const size_t from = std::min(s.find_first_not_of(" \t"), s.size());
    std::string begins = s.substr(from, 40);
    std::replace(begins.begin(), begins.end(), '\n', ' ');
    return "routing description " + std::to_string(number_) + " (\"" + begins + (s.size() - from > 40 ? "..." : "") +
           "\")" + inFile_;
  }
  // When the keyword read last stands inside a word, the word that holds it and why that
  // matters; empty otherwise.
  std::string KeywordNote() const {
    if (lastKey_.empty()) return "";
    const std::string& s = t_.Text();
    const size_t end = lastFound_ + lastKey_.size();
    const bool before = lastFound_ > 0 && JoinsWord(s[lastFound_ - 1]);
    const bool after = end < s.size() && JoinsWord(s[end]) && !std::isdigit(static_cast<unsigned char>(s[end]));
    if (!before && !after) return "";
    size_t a = lastFound_, b = end;
    while (a > 0 && JoinsWord(s[a - 1])) --a;
    while (b < s.size() && JoinsWord(s[b])) ++b;
    return "; this " + lastKey_ + " stands inside the word \"" + s.substr(a, std::min<size_t>(b - a, 80)) +
           "\": the keywords TG, OL, SUMTRIB, ZL, AL, SP and & are read wherever they stand in a description, "
           "also inside a file name, which therefore must not hold them";
  }
  int Int(const std::string& what, const std::string& entry, int code = 38) {
    int v = 0;
    if (!t_.ReadInt(v)) Error("cannot read " + what + Refused(), entry, code);
    return v;
  }
  double Double(const std::string& what, const std::string& entry, int code = 38) {
    double v = 0.0;
    if (!t_.ReadDouble(v)) {
      const std::string word = RefusedValue(t_);
      Error("cannot read " + what + " (a finite number expected at " + NoNumberText(word.empty() ? Ahead() : word, ")"),
            entry, code);
    }
    return v;
  }
  // For a message on a number that could not be read: the word, when it begins like one.
  std::string Refused() const {
    const std::string word = RefusedValue(t_);
    return word.empty() ? std::string() : " (" + NoNumberText(word, " is not a whole number") + ")";
  }
  // The text at the cursor, for messages.
  std::string Ahead() const {
    const std::string& s = t_.Text();
    const size_t from = std::min(s.find_first_not_of(" \t", t_.Pos()), s.size());
    return s.substr(from, std::min<size_t>(20, s.find_first_of(",)\n", from) - from));
  }
  std::string Word(const std::string& what, const std::string& entry, int code = 38) {
    std::string w;
    if (!t_.ReadWord(w)) Error("cannot read " + what, entry, code);
    return w;
  }
  // One value of a positional entry: its place's name, what it means, and where it goes.
  struct Slot {
    double* value;
    const char* name;
    const char* what;   // its meaning
    std::string label;  // how a message on a value that cannot be read names it
    const char* unit = nullptr;  // the unit it takes, where a unit written behind it is checked
    bool steps = false;          // it counts routing steps
  };
  // The values of an entry, each the number after the next "=", taken in their order
  // whatever the names before the "=" say (from: where the entry's keyword stands). An "="
  // missing before the next entry's keyword is named at this entry, with the names it holds,
  // rather than read from the next entry. A number that no "=" precedes ("5" of "kh=3, 5")
  // is refused: it is a value the entry would lose. A name of another place of the entry
  // standing where it is not read ("L=4000, I=0.025") gets a WARNING with what is taken.
  void ReadValues(const std::string& entry, size_t from, const std::vector<Slot>& slots) {
    const std::string& s = t_.Text();
    const std::vector<EntryKey> keys = EntryKeys(s, t_.Pos(), EntryEnd(s, t_.Pos()));
    CheckKeysGivenOnce(entry, slots, keys);
    std::vector<std::string> names;
    size_t mark = from;  // the start of the text the previous value was read from, for messages
    for (const Slot& slot : slots) {
      if (names.size() == keys.size()) MissingValues(entry, slots, names);
      const EntryKey& key = keys[names.size()];
      CheckNoValueLost(entry, mark);
      mark = key.at;
      names.push_back(key.name);
      t_.Seek(key.value);
      *slot.value = Double(slot.label, entry);
      if (slot.unit || slot.steps) CheckUnit(entry, slot);
    }
    CheckNoValueLost(entry, mark);
    if (keys.size() > slots.size()) {
      const EntryKey& beyond = keys[slots.size()];
      SyntaxError("the entry holds " + std::to_string(keys.size()) + " values, " +
                      std::to_string(keys.size() - slots.size()) + " more than the " + std::to_string(slots.size()) +
                      " it reads, and \"" + Shown(beyond.at, beyond.end) + "\" would be lost" +
                      " (a remark behind the values begins with \"#\")",
                  entry);
    }
    WarnOfNamesOutOfPlace(entry, slots, names);
  }
  // The text [from, to) of the description for a message, on one line and cut short.
  std::string Shown(size_t from, size_t to) const {
    std::string text = t_.Text().substr(from, std::min<size_t>(to - from, 80));
    std::replace(text.begin(), text.end(), '\n', ' ');
    while (!text.empty() && std::strchr(" \t,;)", text.back())) text.pop_back();
    return text;
  }
  // Refuses a key of the entry's own given twice: the entry would read one of them as the
  // value of another.
  void CheckKeysGivenOnce(const std::string& entry, const std::vector<Slot>& slots, const std::vector<EntryKey>& keys) {
    for (size_t k = 0; k < keys.size(); ++k) {
      if (PlaceOf(slots, keys[k].name) == slots.size()) continue;
      for (size_t j = 0; j < k; ++j)
        if (SameLetters(keys[j].name, keys[k].name))
          SyntaxError(KeyGivenTwiceText(t_.Text(), keys[j], keys[k]), entry);
    }
  }
  // Refuses a unit behind the value just read that is not the slot's ("L=9 km").
  void CheckUnit(const std::string& entry, const Slot& slot) {
    const std::string word = WordBehindValue(t_.Text(), t_.Pos());
    const std::string note = slot.steps ? StepUnitMismatch(word, stepMinutes_, *slot.value)
                                        : UnitMismatch(word, slot.unit, *slot.value);
    if (!note.empty()) SyntaxError(std::string(slot.name) + " = " + NumberText(*slot.value) + ": " + note, entry);
  }
  // Refuses a number between the cursor and the next value's name (or the entry's end)
  // that belongs to no "=".
  void CheckNoValueLost(const std::string& entry, size_t mark) {
    size_t at = 0;
    const std::string word = ValueWithoutKey(t_.Text(), t_.Pos(), &at);
    if (word.empty()) return;
    const std::string seen = Shown(mark, at + word.size());
    SyntaxError("the word \"" + word + "\" in \"" + seen + "\" is neither a value after an \"=\" nor a key = value" +
                    ValueWithoutKeyNote(),
                entry);
  }
  [[noreturn]] void MissingValues(const std::string& entry, const std::vector<Slot>& slots,
                                  const std::vector<std::string>& names) {
    std::string order, given;
    for (size_t k = 0; k < slots.size(); ++k) order += (k ? ", " : "") + std::string(slots[k].name);
    for (size_t k = 0; k < names.size(); ++k) given += (k ? ", " : "") + names[k];
    // With every name given one of the entry's own, the ones left out are known.
    bool known = true;
    for (const std::string& n : names) known = known && PlaceOf(slots, n) < slots.size();
    std::vector<std::string> missing;
    for (const Slot& slot : slots) {
      const bool there =
          std::any_of(names.begin(), names.end(), [&](const std::string& n) { return SameLetters(n, slot.name); });
      if (known && !there) missing.push_back(slot.name + std::string(" ="));
    }
    std::string what;
    for (size_t k = 0; k < missing.size(); ++k)
      what += (k == 0 ? "" : k + 1 == missing.size() ? " and " : ", ") + missing[k];
    if (missing.empty())
      what = slots[names.size()].name + std::string(names.size() + 1 < slots.size() ? " and the values after it" : "");
    const bool one = missing.size() == 1 || (missing.empty() && names.size() + 1 == slots.size());
    SyntaxError(what + (one ? " is" : " are") + " missing: the entry holds " +
                    (names.empty() ? std::string("no value") : std::to_string(names.size()) + " (" + given + ")") +
                    " up to the next entry or the description's end, and reads " + std::to_string(slots.size()) +
                    " values, each after an \"=\", in the order " + order,
                entry);
  }
  static size_t PlaceOf(const std::vector<Slot>& slots, const std::string& name) {
    for (size_t k = 0; k < slots.size(); ++k)
      if (SameLetters(name, slots[k].name)) return k;
    return slots.size();
  }
  void WarnOfNamesOutOfPlace(const std::string& entry, const std::vector<Slot>& slots,
                             const std::vector<std::string>& names) {
    std::string taken, order;
    for (size_t k = 0; k < names.size(); ++k) {
      const size_t own = PlaceOf(slots, names[k]);
      if (own == slots.size() || own == k) continue;
      taken += std::string(taken.empty() ? "" : "; ") + names[k] + " = " + NumberText(*slots[k].value) +
               " is taken as " + slots[k].name + ", " + slots[k].what;
    }
    if (taken.empty() || !log_) return;
    for (size_t k = 0; k < slots.size(); ++k) order += (k ? ", " : "") + std::string(slots[k].name);
    *log_ << "WARNING: " << Place() << ", entry " << entry << ": its values are taken in their order " << order
          << ", whatever the names before their \"=\": " << taken
          << ". Write the values in this order if they are not meant so[end-entry]";
  }

  // The ten channel values (from: where the entry's keyword stands). Values no channel can
  // have are refused: a catchment area, a
  // slope, the mean channel's width and roughness not above 0, a negative length, width or
  // roughness of the flood plains (what is no finite number is not read at all). A value of
  // 0 where it stays allowed (storage constants, depth, length, flood plains) takes its
  // default; a negative storage constant or depth takes it too, with a warning that says so.
  ChannelParameters Channel(const std::string& entry, size_t from) {
    ChannelParameters p;
    struct Field {
      double* value;
      const char* key;
      const char* what;
      bool zeroAllowed;
      bool negativeAllowed;
      const char* fallback;  // the default a negative value takes
      const char* unit;
    } fields[] = {{&p.km, "kh", "the storage constant of the mean channel (h)", true, true, "0.01", nullptr},
                  {&p.kf, "kf", "the storage constant of the flood plains (h)", true, true, "0.01", nullptr},
                  {&p.bm, "bm", "the width of the mean channel (m)", false, false, nullptr, "m"},
                  {&p.bf, "bf", "the width of the flood plains (m)", true, false, nullptr, "m"},
                  {&p.hm, "hm", "the depth of the mean channel (m)", true, true, "0.1", "m"},
                  {&p.kstm, "kstm", "the Manning-Strickler coefficient of the mean channel", false, false, nullptr,
                   nullptr},
                  {&p.kstf, "kstf", "the Manning-Strickler coefficient of the flood plains", true, false, nullptr,
                   nullptr},
                  {&p.slope, "I", "the slope (1/1)", false, false, nullptr, "m/m"},
                  {&p.length, "L", "the channel length (m)", true, false, nullptr, "m"},
                  {&p.area, "A", "the catchment area (km2)", false, false, nullptr, "km2"}};
    std::vector<Slot> slots;
    for (const Field& f : fields)
      slots.push_back({f.value, f.key, f.what, "the channel value " + std::string(f.key), f.unit,
                       f.value == &p.km || f.value == &p.kf});  // the storage constants count routing steps
    ReadValues(entry, from, slots);
    for (Field& f : fields) {
      const double v = *f.value;
      const char* expected = v < 0.0 && !f.negativeAllowed ? (f.zeroAllowed ? "0 or more" : "above 0")
                             : v == 0.0 && !f.zeroAllowed    ? "above 0"
                                                             : nullptr;
      const std::string key = std::string(f.key) + " of " + entry + " in routing description " + std::to_string(number_);
      if (expected) RefuseValue(log_, file_, "[routing_model]", key, v, std::string(f.what) + " must be " + expected, 41);
      WarnIf(v < 0.0, log_, file_, "[routing_model]", key, v,
             "below 0: " + std::string(f.what) + " takes its default, " + (f.fallback ? f.fallback : ""));
    }
    return p;
  }
  [[noreturn]] void SyntaxError(const std::string& what, const std::string& entry) { Error(what, entry, 38); }
  [[noreturn]] void Error(const std::string& what, const std::string& entry, int code) {
    Fail(log_, Place() + ", entry " + entry + ": " + what + KeywordNote(), code);
  }
  // A failure found past the reading of an entry, named with the description.
  [[noreturn]] void Refuse(const std::string& what, int code) { Fail(log_, Place() + ": " + what, code); }

  TextCursor t_;
  int number_;
  LogStream* log_;
  std::string file_;
  std::string inFile_;
  double stepMinutes_ = 60.0;  // the routing step, which kh and kf count
  std::string lastKey_;   // the keyword read last
  size_t lastFound_ = 0;  // where it stands
};

void CheckTributary(const SubbasinCodes& codes, int code, int tg, int k, bool lineBreak, DescriptionReader& r,
                    const char* keyword) {
  if (!codes.Exists(code))
    r.Refuse("there cant be a tributary with code " + std::to_string(code) + " for no subbasin (according to zones)" +
                 r.KeywordNote() + (lineBreak ? "\n" : ""),
             41);
  if (code == tg)
    r.Refuse("subbasin " + std::to_string(tg) + ": code of tributary " + std::to_string(k) + " (" +
                 std::to_string(code) +
                 ") is equal to subbasin code!\nIt is not allowed to rout the outflow of a subbasin back into \nthe "
                 "same subbasin. Use a reservoir instead." +
                 // Most often the line stands in the wrong place: name the place it belongs.
                 "\nThe " + keyword + " entry of sub-basin " + std::to_string(code) + " stands under its own TG " +
                 std::to_string(tg) + ": an " + keyword + " entry routes a tributary's discharge to the outlet of " +
                 "the TG it stands under, so move it under the TG of the sub-basin that " + std::to_string(code) +
                 " flows into (a reservoir, SP, holds water back inside a sub-basin)" + (lineBreak ? "\n" : ""),
             41);
}

}  // namespace

int CountSubstring(const std::string& text, const std::string& pattern) {
  if (pattern.empty()) return 0;
  int n = 0;
  for (size_t p = text.find(pattern); p != std::string::npos; p = text.find(pattern, p + 1)) ++n;
  return n;
}

bool IsDescriptionLine(const std::string& line) {
  for (const char* k : kKeywords)
    if (line.find(k) != std::string::npos) return true;
  return false;
}

std::string ValueWithoutKey(const std::string& text, size_t from, size_t* at) {
  size_t to = from;
  while (to < text.size() && !std::strchr("=)#", text[to]) && !KeywordBetween(text, to, to + 1)) ++to;
  // The word right before an "=" is the next value's name.
  const size_t names = to < text.size() && text[to] == '=' ? to - NameBefore(text, to).size() : to;
  for (size_t p = from; p < names;) {
    while (p < names && BetweenWords(text[p])) ++p;
    size_t end = p;
    while (end < names && !BetweenWords(text[end])) ++end;
    const std::string word = text.substr(p, end - p);
    if (NumberWord(word)) {
      if (at) *at = p;
      return word;
    }
    p = end;
  }
  return std::string();
}

size_t EntryEnd(const std::string& text, size_t from) {
  size_t p = from;
  while (p < text.size() && !KeywordBetween(text, p, p + 1)) ++p;
  return p;
}

std::vector<EntryKey> EntryKeys(const std::string& text, size_t from, size_t to) {
  std::vector<EntryKey> keys;
  to = std::min(to, text.size());
  size_t valueWord = std::string::npos;  // where the first word of the last key's value begins
  for (size_t p = from; p < to; ++p) {
    if (text[p] == '#') {
      p = std::min(text.find('\n', p), to);
      continue;
    }
    if (text[p] != '=') continue;
    size_t begin = 0;
    std::string name = NameBefore(text, p, &begin);
    if (begin < from || name.empty() || begin == valueWord) continue;
    if (!keys.empty()) keys.back().end = begin;
    keys.push_back({std::move(name), begin, p + 1, to});
    valueWord = p + 1;
    while (valueWord < to && BetweenWords(text[valueWord]) && text[valueWord] != ')') ++valueWord;
  }
  return keys;
}

std::string ReservoirKeyOf(const std::string& name) {
  for (const std::string& key : kReservoirKeys)
    if (name.find(key) != std::string::npos) return key;
  return std::string();
}

std::string KeyGivenTwiceText(const std::string& text, const EntryKey& first, const EntryKey& second) {
  const auto shown = [&](const EntryKey& k) {
    std::string s = text.substr(k.at, std::min<size_t>(k.end - k.at, 60));
    std::replace(s.begin(), s.end(), '\n', ' ');
    while (!s.empty() && std::strchr(" \t,;)", s.back())) s.pop_back();
    return "\"" + s + "\"";
  };
  return "the key " + second.name + " is given twice, " + shown(first) + " and " + shown(second) +
         ": one of them would be lost or read as another key's value; give it once";
}

std::string RefusedValue(const TextCursor& t) {
  std::string word = t.RefusedNumber().substr(0, 40);
  while (!word.empty() && std::strchr(",;)", word.back())) word.pop_back();
  return word;
}

std::string ValueWithoutKeyNote() {
  return ": every value of the entry is written after its key and an \"=\", and a comma separates values, so a "
         "fraction is written with a point (\"kh = 3.5\", not \"kh = 3,5\")";
}

DescriptionTotals CountRoutingDescriptions(TextCursor& cursor, LogStream* log) {
  const char* eof = "error reading a routing description from control file! (eof reached).";
  if (cursor.AtEnd()) Fail(log, eof, 38);
  DescriptionTotals n;
  for (;;) {
    std::string line;
    if (!cursor.ReadLine(line)) Fail(log, eof, 38);
    if (line.size() > kMaxDescriptionLine)
      Fail(log, "string is too long (max. " + std::to_string(kMaxDescriptionLine) + " chars):\n" + line, 40);
    if (!IsDescriptionLine(line)) return n;
    if (line.find("TG") != std::string::npos) ++n.descriptions;
    n.ol += CountSubstring(line, "OL");
    n.joins += CountSubstring(line, "&");
    n.sumtrib += CountSubstring(line, "SUMTRIB");
    n.zl += CountSubstring(line, "ZL");
    n.al += CountSubstring(line, "AL");
    n.sp += CountSubstring(line, "SP");
  }
}

std::vector<std::string> JoinRoutingDescriptions(TextCursor& cursor, LogStream* log,
                                                 std::vector<std::vector<DescriptionLine>>* lines) {
  std::vector<std::string> texts;
  if (cursor.AtEnd()) Fail(log, "rerror reading routing description \n2nd run, (1st run: o.k.)", 38);
  long pendingLine = cursor.LineNumber();  // counted on by one a line read
  std::string pending = NextListLine(cursor, log);
  while (pending.find("TG") != std::string::npos) {
    bool inReservoir = false;
    ReportUnknownReservoirKeys(pending, pendingLine, cursor, inReservoir, log);
    std::string text = pending;
    std::vector<DescriptionLine> own;
    if (lines) own.push_back({0, cursor.LineText(pendingLine)});
    for (;;) {
      const std::string before = pending;
      pending = NextListLine(cursor, log);
      ++pendingLine;
      if (!IsDescriptionLine(pending)) CheckNoEntryGoesOn(before, pending, cursor.LineText(pendingLine), log);
      if (!IsDescriptionLine(pending) || pending.find("TG") != std::string::npos) break;
      ReportUnknownReservoirKeys(pending, pendingLine, cursor, inReservoir, log);
      text += '\n';
      if (lines) own.push_back({text.size(), cursor.LineText(pendingLine)});
      text += pending;
    }
    texts.push_back(std::move(text));
    if (lines) lines->push_back(std::move(own));
  }
  return texts;
}

RoutingDescription ParseRoutingDescription(const std::string& text, int number, const SubbasinCodes& codes,
                                           int totalInflows, LogStream* log, const std::string& file,
                                           double stepMinutes) {
  RoutingDescription d;
  d.number = number;
  DescriptionReader r(text, number, log, file);
  r.stepMinutes_ = stepMinutes;

  r.Find("TG", "TG");
  d.code = r.Int("the sub-basin code", "TG");
  if (!codes.Exists(d.code)) r.Refuse("there is no subbasin with code " + std::to_string(d.code) + r.KeywordNote(), 41);
  const std::string tg = "TG " + std::to_string(d.code);
  r.ReadValues(tg, r.lastFound_,
               {{&d.area, "AE", "the area upstream of the outlet (km2)", "the sub-basin area", "km2"},
                {&d.areaFactor, "AF", "the area factor", "the area factor"}});
  if (!(d.area > 0.0)) r.Error("the sub-basin area must be positive", tg, 41);
  if (!(d.areaFactor > 0.0)) r.Error("the area factor must be positive", tg, 41);

  const int olCount = CountSubstring(text, "OL");
  const int sumCount = CountSubstring(text, "SUMTRIB");
  const int zlCount = CountSubstring(text, "ZL");
  const int alCount = CountSubstring(text, "AL");
  const int spCount = CountSubstring(text, "SP");
  d.joins = CountSubstring(text, "&");

  // Channels are numbered in the order OL, SUMTRIB, ZL.
  int k = 0;
  for (int e = 1; e <= olCount; ++e) {
    const std::string entry = "OL " + std::to_string(e);
    r.Find("OL", entry);
    ++k;
    ChannelEntry c;
    c.at = r.lastFound_;
    c.code = r.Int("the tributary code", entry, 41);
    CheckTributary(codes, c.code, d.code, k, true, r, "OL");
    // The values are named with the tributary the user wrote.
    c.p = r.Channel("OL " + std::to_string(c.code), c.at);
    d.ol.push_back(std::move(c));
  }

  r.t_.Rewind();
  for (int e = 1; e <= sumCount; ++e) {
    const std::string entry = "SUMTRIB " + std::to_string(e);
    r.Find("SUMTRIB", entry);
    ++k;
    ChannelEntry c;
    c.at = r.lastFound_;
    c.code = r.Int("the first tributary code", entry, 41);
    CheckTributary(codes, c.code, d.code, k, false, r, "SUMTRIB");
    // Further tributaries: "&code" up to the next blank, "(" or "k".
    const std::string& s = r.t_.Text();
    while (r.t_.Pos() < s.size()) {
      const char ch = s[r.t_.Pos()];
      if (ch == ' ' || ch == '\t' || ch == '(' || ch == 'k') break;
      if (ch != '&') {
        r.t_.Seek(r.t_.Pos() + 1);
        continue;
      }
      r.t_.Seek(r.t_.Pos() + 1);
      if (static_cast<int>(c.members.size()) == kMaxJoinedTributaries)
        r.Error("more than " + std::to_string(kMaxJoinedTributaries) + " tributaries joined with &", entry, 41);
      const char next = r.t_.Peek();
      if (!(next >= '0' && next <= '9') && next != '-' && next != '+')
        r.Error("a tributary code must follow & without a blank", entry, 41);
      const int member = r.Int("a tributary code after &", entry, 41);
      CheckTributary(codes, member, d.code, k, false, r, "SUMTRIB");
      c.members.push_back(member);
    }
    c.p = r.Channel("SUMTRIB " + std::to_string(c.code), c.at);
    d.sumtrib.push_back(std::move(c));
  }

  r.t_.Rewind();
  for (int e = 1; e <= zlCount; ++e) {
    const std::string entry = "ZL " + std::to_string(e);
    r.Find("ZL", entry);
    ++k;
    InflowEntry z;
    z.number = r.Int("the inflow number", entry, 42);
    if (z.number > totalInflows)
      r.Refuse("there is/are only " + std::to_string(totalInflows) +
                   " inflow(s) for the entire basin,\n but the codes ranges from 1 to at least " +
                   std::to_string(z.number) + "! in routing_model" + r.KeywordNote(),
               42);
    if (z.number < 1) r.Error("inflow numbers begin at 1, not " + std::to_string(z.number), entry, 42);
    r.Find("=", entry);
    const std::string mode = r.Word("the inflow mode", entry, 42);
    if (mode == "constant") {
      z.mode = kInflowConstant;
      z.constant = r.Double("the constant inflow", entry, 42);
    } else if (mode == "extern") {
      z.mode = kInflowExtern;
      z.fileName = r.Word("the inflow file name", entry, 42);
      z.startRow = r.Int("the first row of the inflow file", entry, 42);
      z.column = r.Int("the column of the inflow file", entry, 42);
      if (z.startRow < 0 || z.column < 0) r.Error("row and column of an inflow file must not be negative", entry, 42);
    } else if (mode == "intern") {
      z.mode = kInflowIntern;
    } else {
      r.Refuse("the modus \"" + mode + "\" is not supported for inflow " + std::to_string(z.number) + r.KeywordNote(),
               42);
    }
    z.p = r.Channel("ZL " + std::to_string(z.number), r.lastFound_);
    d.zl.push_back(std::move(z));
  }

  r.t_.Rewind();
  for (int e = 1; e <= alCount; ++e) {
    const std::string entry = "AL " + std::to_string(e);
    r.Find("AL", entry);
    d.abstractionCodes.push_back(r.Int("the abstraction's target code", entry));
    // The abstraction reads its mode and values from here on.
    d.abstractionTexts.push_back(text.substr(r.t_.Pos()));
  }
  r.t_.Rewind();
  std::vector<size_t> starts;  // where each reservoir's keys begin, and the next "SP"
  for (int e = 1; e <= spCount; ++e) {
    const std::string entry = "SP " + std::to_string(e);
    r.Find("SP", entry);
    if (e > 1) starts.push_back(r.t_.Pos() - 2);
    d.reservoirCodes.push_back(r.Int("the reservoir code", entry));
    starts.push_back(r.t_.Pos());
  }
  // A reservoir's keys are those of its own entry: it never takes a key of the next one.
  for (int e = 0; e < spCount; ++e) {
    const size_t from = starts[static_cast<size_t>(2 * e)];
    const size_t to = e + 1 < spCount ? starts[static_cast<size_t>(2 * e + 1)] : text.size();
    d.reservoirEntries.push_back(text.substr(from, to - from));
  }
  return d;
}

void CheckRoutingNetwork(const std::vector<RoutingDescription>& list, LogStream* log, const std::string& file) {
  const std::string inFile = InFile(file);
  std::map<int, int> descriptionOf;  // TG code -> position in the list
  std::map<int, int> downstreamOf;   // tributary code -> TG code
  std::map<int, int> inflowOwner;    // inflow number -> description number
  std::map<int, int> reservoirOwner;  // reservoir number -> description number
  for (size_t i = 0; i < list.size(); ++i) {
    const RoutingDescription& d = list[i];
    if (!descriptionOf.emplace(d.code, static_cast<int>(i)).second)
      Fail(log,
           Where(d.number, d.code) + inFile + ": sub-basin " + std::to_string(d.code) +
               " already has routing description " +
               std::to_string(list[descriptionOf[d.code]].number),
           41);
    auto addTributary = [&](int t) {
      auto done = downstreamOf.emplace(t, d.code);
      if (!done.second)
        Fail(log,
             Where(d.number, d.code) + inFile + ": sub-basin " + std::to_string(t) + " is listed as tributary of " +
                 std::to_string(done.first->second) + " and of " + std::to_string(d.code) +
                 "; a sub-basin flows into one sub-basin only",
             41);
    };
    for (const ChannelEntry& c : d.ol) addTributary(c.code);
    for (const ChannelEntry& c : d.sumtrib) {
      addTributary(c.code);
      for (int m : c.members) addTributary(m);
    }
    for (const InflowEntry& z : d.zl) {
      auto done = inflowOwner.emplace(z.number, d.number);
      if (!done.second)
        Fail(log,
             Where(d.number, d.code) + inFile + ": inflow ZL " + std::to_string(z.number) +
                 " is already described in routing description " + std::to_string(done.first->second),
             42);
    }
    // A reservoir's number is its key (its lake cells, its rules, data assimilation).
    for (int r : d.reservoirCodes) {
      auto done = reservoirOwner.emplace(r, d.number);
      if (!done.second)
        Fail(log,
             Where(d.number, d.code) + inFile + ": reservoir SP " + std::to_string(r) +
                 " is already described in routing " +
                 "description " + std::to_string(done.first->second) + "; every reservoir needs a number of its own",
             41);
    }
  }
  // Cycles: follow every sub-basin downstream; a path longer than the number of links
  // has come back to a sub-basin it passed.
  for (const auto& start : downstreamOf) {
    int at = start.first;
    for (size_t steps = 0; downstreamOf.count(at); ++steps) {
      const int next = downstreamOf[at];
      if (next == start.first || steps > downstreamOf.size())
        Fail(log,
             "the routing network" + inFile + " has a cycle: sub-basin " + std::to_string(at) + " flows into " +
                 std::to_string(next) + ", which flows back into it",
             41);
      at = next;
    }
  }
  // Order: upstream descriptions first.
  for (const auto& link : downstreamOf) {
    auto up = descriptionOf.find(link.first);
    auto down = descriptionOf.find(link.second);
    if (up == descriptionOf.end() || down == descriptionOf.end()) continue;
    if (up->second > down->second)
      Fail(log,
           Where(list[down->second].number, link.second) + inFile + " takes the outflow of sub-basin " +
               std::to_string(link.first) + ", whose " + Where(list[up->second].number, link.first) +
               " comes later; the upstream description must come first",
           41);
  }
}

std::string RoutingDescription::PlaceOf(size_t offset) const {
  if (lines.empty()) return "routing description " + std::to_string(number);
  size_t k = 0;
  while (k + 1 < lines.size() && lines[k + 1].offset <= offset) ++k;
  return lines[k].place;
}

bool AreaBeyondRounding(double written, double grid) {
  return std::fabs(written - grid) > std::max(0.5, 0.05 * std::fabs(grid));
}

namespace {

std::string Km2(double area) { return FormatText("%g km2", area); }

// The first `most` items joined by separator, and how many more there are.
std::string Listed(const std::vector<std::string>& items, size_t most, const char* separator) {
  std::string s;
  for (size_t k = 0; k < items.size() && k < most; ++k) s += (k ? separator : "") + items[k];
  if (items.size() > most) s += " and " + std::to_string(items.size() - most) + " more";
  return s;
}

}  // namespace

void WarnOfUnroutedAreas(const std::vector<RoutingDescription>& list, const SubbasinCodes& codes,
                         const std::vector<double>& upstreamArea, LogStream* log, const std::string& file) {
  if (!log || upstreamArea.size() < 2) return;
  const int n = static_cast<int>(upstreamArea.size()) - 1;
  const std::string section = "[routing_model]";
  // The code of every internal sub-basin (code 0 too, which no description can name).
  std::vector<int> codeOf(static_cast<size_t>(n) + 1, -1);
  for (int c = codes.maxCode; c >= 0; --c) {
    const int i = codes.codeMap ? codes.codeMap[c] : 0;
    if (i >= 1 && i <= n) codeOf[static_cast<size_t>(i)] = c;
  }
  std::map<int, const RoutingDescription*> descriptionOf;
  std::set<int> routedOn;  // the codes that flow into another sub-basin
  for (const RoutingDescription& d : list) {
    descriptionOf.emplace(d.code, &d);
    for (const ChannelEntry& c : d.ol) routedOn.insert(c.code);
    for (const ChannelEntry& c : d.sumtrib) {
      routedOn.insert(c.code);
      routedOn.insert(c.members.begin(), c.members.end());
    }
  }
  const auto area = [&](int code) { return upstreamArea[static_cast<size_t>(codes.Internal(code))]; };

  // Sub-basins whose water flows into no other: their own outlets, or none.
  std::vector<int> ends;
  std::vector<std::string> lost;
  bool lostZero = false;
  for (int i = 1; i <= n; ++i) {
    const int c = codeOf[static_cast<size_t>(i)];
    if (c < 0 || routedOn.count(c) || !(upstreamArea[static_cast<size_t>(i)] > 0.0)) continue;
    ends.push_back(c);
    if (descriptionOf.count(c)) continue;
    lost.push_back(std::to_string(c) + " (" + Km2(upstreamArea[static_cast<size_t>(i)]) + ")");
    lostZero = lostZero || c == 0;
  }
  if (!lost.empty()) {
    const bool one = lost.size() == 1;
    *log << "WARNING: " << (one ? "sub-basin " : "sub-basins ") << Listed(lost, 20, ", ") << " of the zone grid "
         << (one ? "has" : "have") << " no routing description in " << section << " of "
         << (file.empty() ? std::string("the control file") : file) << " and " << (one ? "is" : "are")
         << " the tributary of none: " << (one ? "its" : "their")
         << " runoff reaches no outlet and no discharge. Give " << (one ? "it" : "each")
         << " an OL entry in the description of the sub-basin it flows into, or a TG entry of its own"
         << (lostZero ? " (the code 0 cannot be routed: a description names the codes from 1 on)"
                 : "")
         << "[end-entry]";
  }

  for (const RoutingDescription& d : list) {
    const double routed = area(d.code);
    if (d.area > routed && AreaBeyondRounding(d.area, routed)) {
      const double lacks = d.area - routed;
      std::vector<std::string> fit;
      for (int c : ends) {
        if (c == d.code || (area(c) > lacks && AreaBeyondRounding(area(c), lacks))) continue;
        auto other = descriptionOf.find(c);
        fit.push_back(std::to_string(c) + " with " + Km2(area(c)) + ", " +
                      (other == descriptionOf.end() ? std::string("without a routing description")
                                                    : "its TG on " + other->second->PlaceOf(0)));
      }
      std::ostringstream s;
      s << "WARNING: " << section << ", " << d.PlaceOf(0) << ": TG " << d.code << " gives " << Km2(d.area)
        << " upstream of its outlet, but the sub-basins routed into it hold " << Km2(routed) << " of the zone grid, "
        << Km2(lacks) << " less: the water of the rest reaches another outlet or none. ";
      if (!fit.empty())
        s << "Flowing into no other sub-basin: " << Listed(fit, 5, "; ") << ". Is an OL entry missing? ";
      else
        s << "Is an OL entry missing, or the area not the one upstream of the outlet, in km2? ";
      s << "Routing takes the zone grid's " << Km2(routed);
      *log << s.str() << "[end-entry]";
    }
    const auto checkChannel = [&](const char* kind, const ChannelEntry& c) {
      double grid = area(c.code);
      std::string tributaries = "sub-basin " + std::to_string(c.code);
      for (size_t k = 0; k < c.members.size(); ++k) {
        grid += area(c.members[k]);
        tributaries += (k + 1 == c.members.size() ? " and " : ", ") + std::to_string(c.members[k]);
      }
      if (!c.members.empty()) tributaries = "sub-basins" + tributaries.substr(9);
      if (!AreaBeyondRounding(c.p.area, grid)) return;
      std::ostringstream s;
      s << "WARNING: " << section << ", " << d.PlaceOf(c.at) << ": " << kind << " " << c.code
        << " gives the catchment area A = " << Km2(c.p.area) << ", but the zone grid holds "
        << Km2(grid) << " upstream of the outlet" << (c.members.empty() ? " of " : "s of ") << tributaries
        << ": the channel's level-discharge table is built for A as written (in km2), so its travel times are "
           "those of another discharge";
      *log << s.str() << "[end-entry]";
    };
    for (const ChannelEntry& c : d.ol) checkChannel("OL", c);
    for (const ChannelEntry& c : d.sumtrib) checkChannel("SUMTRIB", c);
  }
}
