// The routing descriptions of "[routing_model]": one group of lines per routing sub-basin
// (TG) with its channels (OL, SUMTRIB), inflows (ZL), abstractions (AL) and reservoirs
// (SP). Reading them is pure text work: the functions here know nothing of grids or
// routing objects, so that they can be tested and fuzzed alone.
//
// Every failure writes a "FATAL: " message (ending in "[end-entry]") to the log and throws
// the error code as an int: 38 syntax, 40 length, 41 sub-basin codes and the network,
// 42 inflows.
#pragma once

#include <string>
#include <vector>

class LogStream;
class TextCursor;

// The ten numbers of a channel, in the order in which they follow their entry.
struct ChannelParameters {
  double km = 0.0;      // storage constant of the mean channel, h
  double kf = 0.0;      // storage constant of the flood plains, h
  double bm = 0.0;      // width of the mean channel, m
  double bf = 0.0;      // width of the flood plains, m
  double hm = 0.0;      // depth of the mean channel, m
  double kstm = 0.0;    // Manning-Strickler coefficient of the mean channel
  double kstf = 0.0;    // the same of the flood plains
  double slope = 0.0;   // 1/1
  double length = 0.0;  // m
  double area = 0.0;    // catchment area, km²
};

// An OL channel (code = the tributary) or a SUMTRIB channel (code = its first tributary,
// members = the further tributaries joined by "&").
struct ChannelEntry {
  int code = 0;
  std::vector<int> members;
  ChannelParameters p;
  size_t at = 0;  // where its keyword stands in the description's text
};

// Inflow kinds as the routing object stores them.
enum InflowMode : int { kInflowConstant = 1, kInflowIntern = 3, kInflowExtern = 4 };

struct InflowEntry {
  int number = 0;  // 1..total number of inflows of the basin
  int mode = 0;
  double constant = 0.0;  // m³/s, kInflowConstant
  std::string fileName;   // kInflowExtern
  int startRow = 0;
  int column = 0;
  ChannelParameters p;
};

// A line of a description: where it begins in the joined text, and how messages name it
// ("line 341 of basin.ctl").
struct DescriptionLine {
  size_t offset = 0;
  std::string place;
};

struct RoutingDescription {
  int number = 0;  // 1-based position in the list
  int code = 0;    // the routing sub-basin (TG)
  double area = 0.0;        // km², from the control file
  double areaFactor = 0.0;  // discharges of the tables may be divided by it
  std::vector<ChannelEntry> ol, sumtrib;
  std::vector<InflowEntry> zl;
  std::vector<int> abstractionCodes;  // AL entries (target codes)
  std::vector<std::string> abstractionTexts;  // per AL entry: the text after its code
  std::vector<int> reservoirCodes;    // SP entries
  std::vector<std::string> reservoirEntries;  // their texts after the code
  int joins = 0;                      // "&" in the text
  std::vector<DescriptionLine> lines;  // its lines, as JoinRoutingDescriptions found them (may be empty)
  // How messages name the line that holds the text at offset; "routing description <n>"
  // without lines.
  std::string PlaceOf(size_t offset) const;
};

// Counts over the whole list, as the first pass finds them.
struct DescriptionTotals {
  int descriptions = 0, ol = 0, joins = 0, sumtrib = 0, zl = 0, al = 0, sp = 0;
};

// Positions at which pattern begins in text; overlapping matches count.
int CountSubstring(const std::string& text, const std::string& pattern);
// Whether a line belongs to the description list (holds one of the six keywords).
bool IsDescriptionLine(const std::string& line);

// Longest accepted line of the list, without its line break.
constexpr size_t kMaxDescriptionLine = 2400;
// Most tributaries joined to one SUMTRIB entry with "&".
constexpr int kMaxJoinedTributaries = 9;

// First pass: from the cursor's position, counts the list up to its first line without a
// keyword. The cursor is left behind that line.
DescriptionTotals CountRoutingDescriptions(TextCursor& cursor, LogStream* log);
// Second pass: from the cursor's position, the descriptions' texts, each made of its lines
// joined with one blank; lines, when given, receives each description's lines. A key of an
// SP entry that its reservoir does not read is named in a WARNING with its line and the
// nearest key (the names before the "=" of the other entries are free: their values are
// taken in their order).
std::vector<std::string> JoinRoutingDescriptions(TextCursor& cursor, LogStream* log,
                                                 std::vector<std::vector<DescriptionLine>>* lines = nullptr);

// The first word of text from `from` on that begins like a number and that no "=" precedes:
// a value that belongs to no key ("5" of "kh=3, 5, kf=10", where a decimal comma was meant
// perhaps). It is looked for up to the next "=" (whose name, the word right before it, is
// left out), ")", "#" (a remark) or keyword of an entry. Empty when there is none; at, when
// given, receives where it stands.
std::string ValueWithoutKey(const std::string& text, size_t from, size_t* at = nullptr);
// What a message on such a word adds: how values of an entry are written.
std::string ValueWithoutKeyNote();
// The word at the cursor that a number read of an entry refused, without the separators
// behind it ("3,5" of "3,5, kf"); empty when it does not begin like a number.
std::string RefusedValue(const TextCursor& t);

// A key of an entry as written: the name right before an "=" (where it stands) and where
// its value's text begins (behind the "=") and ends (the next key's name, or the entry's end).
struct EntryKey {
  std::string name;
  size_t at = 0;
  size_t value = 0;
  size_t end = 0;
};
// Where the entry whose text begins at from ends: at the next keyword of an entry (TG, OL,
// SUMTRIB, ZL, AL, SP), or at the end of text.
size_t EntryEnd(const std::string& text, size_t from);
// The keys of an entry's text[from, to), in their order: each word that an "=" follows. The
// word right behind another key's "=" is that key's value ("file = a=b.txt" sets file alone),
// and a remark ("#" up to the line's end) sets none. Every entry of the list is read through
// them: an SP entry by name, the others in their order.
std::vector<EntryKey> EntryKeys(const std::string& text, size_t from, size_t to);
// The reservoir key that a name of an SP entry sets: the first of "file", "V0", "A0", "W0",
// "C0", "dTmin", "UseRunningAvg" the name holds (a longer word is read as the key it holds,
// "filename" as "file"); empty when it holds none.
std::string ReservoirKeyOf(const std::string& name);
// The message on a key that an entry gives twice: its name and both values as written.
std::string KeyGivenTwiceText(const std::string& text, const EntryKey& first, const EntryKey& second);

// Sub-basin codes as the routing knows them: codeMap[code] > 0 is the internal number of
// an existing sub-basin, for 0 <= code <= maxCode.
struct SubbasinCodes {
  const int* codeMap = nullptr;
  int maxCode = 0;
  bool Exists(int code) const { return code >= 1 && code <= maxCode && codeMap[code] > 0; }
  int Internal(int code) const { return codeMap[code]; }
};

// Reads one joined description (number: its position in the list). totalInflows is the
// number of ZL entries of the whole list; file is the control file the messages name.
// stepMinutes: the routing step, which the storage constants kh and kf count.
RoutingDescription ParseRoutingDescription(const std::string& text, int number, const SubbasinCodes& codes,
                                           int totalInflows, LogStream* log, const std::string& file = "",
                                           double stepMinutes = 60.0);

// The network of the whole list: a sub-basin has one description at most and flows into
// one sub-basin at most, the network has no cycle, and every description comes after the
// descriptions of the sub-basins that flow into it (else their water would be read
// before it is routed).
void CheckRoutingNetwork(const std::vector<RoutingDescription>& list, LogStream* log, const std::string& file = "");

// Whether an area of a routing description (km²) differs from the zone grid's by more than
// a written area's rounding: by more than half a km² and more than 5 % of the grid's.
bool AreaBeyondRounding(double written, double grid);

// Names in WARNINGs the water of the list that does not reach the outlet its areas say, once
// the areas have been checked: upstreamArea (km², indexed by internal sub-basin number 1..n)
// holds the zone grid's area upstream of each sub-basin's outlet (a sub-basin with a TG:
// itself and everything routed into it; any other: itself). Named are
// - a sub-basin of the zone grid with no description that is the tributary of none: its
//   runoff reaches no outlet;
// - a TG whose area exceeds beyond rounding what is routed into it, with the sub-basins
//   that flow into no other and would fit into what it lacks (an OL entry left out);
// - an OL or SUMTRIB entry whose catchment area A differs beyond rounding from the zone
//   grid's area of its tributaries: the channel's table is built for A as written.
// file: the control file the messages name.
void WarnOfUnroutedAreas(const std::vector<RoutingDescription>& list, const SubbasinCodes& codes,
                         const std::vector<double>& upstreamArea, LogStream* log, const std::string& file = "");
