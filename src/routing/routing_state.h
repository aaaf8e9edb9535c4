// Reading the routing part of the storage file: a cursor that counts the items it reads
// and names the file and that count in every failure (error 71), so that a damaged or
// truncated file never leaves half-read state behind a running model.
#pragma once

#include <set>
#include <string>

#include "routing/routing_channel.h"

class LogStream;
class TextCursor;
struct StateRange;

class StateReader {
 public:
  StateReader(TextCursor& file, std::string path, LogStream* log);
  // A value at the cursor, read as its whole word (TextCursor::RequireWholeWords); a word
  // that is no number of its kind, or the file's end, is refused naming the line and the word.
  int Int(const std::string& what);
  double Double(const std::string& what);
  // A cursor over a line of the part that reads values so.
  static TextCursor Values(const std::string& line);
  // Refuses the word a read of values (a line read before) has just refused as a number.
  void RefuseWord(const TextCursor& values, const std::string& what) const;
  // Double, refused (error 71, naming the line and the value) outside the range of its
  // quantity, as a state grid's value would be.
  double Value(const std::string& what, const StateRange& range);
  // The same check of a value read on line `line` (0: the line at the cursor).
  double Within(double v, const std::string& what, const StateRange& range, long line = 0) const;
  long LineNumber() const;
  // The mean of the values of the next line that is not empty, which must hold expected
  // values (a comment may follow them).
  double LineMean(int expected, const std::string& what);
  void SkipLine();
  // The next whole line (may be empty); FATAL at the end of the file.
  std::string Line(const std::string& what);
  size_t Mark() const;
  void Return(size_t mark);
  // Reads the next line that is not empty when it holds marker, else leaves the file where
  // it was; false then.
  bool LineWith(const std::string& marker, std::string& line);
  // A line that older files lack (what: its content, absent: what the run does without
  // it). The first such line tells the layout: once one was there, every later one must be
  // (a part cut short is refused); once one was missing, none may follow.
  bool NewerLine(const std::string& marker, const std::string& what, const std::string& absent, std::string& line);
  // The part belongs to a file that ends with the record of its state, which this program
  // wrote whole in its newest layout: a line that older files lack is damage where missing.
  void RequireNewestLayout() {
    layout_ = Layout::kNewer;
    newest_ = true;
  }
  bool NewestLayout() const { return newest_; }
  // The lines of the older layout that were missing, for one INFO line.
  const std::set<std::string>& Absent() const { return absent_; }
  // "FATAL: " what " in file " path " (position " n ")", error 71.
  [[noreturn]] void Fail(const std::string& what) const;
  long Position() const { return position_; }

 private:
  TextCursor& file_;
  std::string path_;
  LogStream* log_;
  long position_ = 0;
  enum class Layout { kUnknown, kOlder, kNewer } layout_ = Layout::kUnknown;
  bool newest_ = false;
  std::set<std::string> absent_;
};

// The range of the flows of the routing state (translation queues, sub-channel outflows,
// transfers): 0 or more, below 1e9.
StateRange RoutedFlowRange();

// Marks of the lines that older storage files lack.
extern const char* const kTranslationMark;  // a sub-channel's translation of its last step
extern const char* const kTransferMark;     // the transfers waiting for internal inflows

// Sets each sub-channel's last occupied queue slot from the restored queue and outflows
// (the translation the sub-channel used in its last step).
void RestoreLastSlots(ChannelTable& c, double dt);
