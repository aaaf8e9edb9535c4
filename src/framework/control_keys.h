// Keys of the "key = value" settings of the control file that no reader knows. A reader of
// such settings hands each line (or the keys of a line) it reads to ReportUnknownKeys with
// the keys it knows; a key that is none of them would change nothing without a word (a
// misspelt DefaultOutputDirectory writes every output beside the control file), so it is
// named in a WARNING with its line, its section and the known key nearest to it.
#pragma once

#include <string>
#include <vector>

class LogStream;

// The keys set in text: each word that an "=" follows (after blanks). A word right behind
// another key's "=" is that key's value ("outname = a=b.asc" sets outname alone).
std::vector<std::string> KeysSetIn(const std::string& text);

// The number of letters to change, insert or drop that make one key the other (case not
// counted).
size_t KeyDistance(const std::string& a, const std::string& b);
// The known key nearest to key by KeyDistance; the first of equally near ones. Empty when
// known is empty.
std::string NearestKey(const std::string& key, const std::vector<std::string>& known);

// One WARNING for every key set in text that is none of known. withinWord: the reader finds
// a key within a longer word (a key holding a known one is read), else only as a whole
// word (the option readers). line names the line ("line 16 of basin.ctl") or the entry,
// section the section. Returns the number of keys named.
int ReportUnknownKeys(LogStream* log, const std::string& section, const std::string& line, const std::string& text,
                      const std::vector<std::string>& known, bool withinWord = true);
