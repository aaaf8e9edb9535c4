// Readers of free-form option text: "key = value;" settings, some grouped in braces,
// as written in the newer control-file sections (special output, assimilation rules).
//
// A key is found only as a whole word that is followed (after blanks) by "="; the value
// text runs from just after that "=" to the next ";" or to the end of the text. Nothing
// else is interpreted: no comments, no escapes, no quoting of values.
//
// The readers never log and never throw: a key that does not occur reports "not found"
// and leaves the target untouched, so each caller decides whether that is an error.
#pragma once

#include <string>
#include <vector>

// Cuts the next braced block out of rest. The result is the text just after the first
// "{" up to and including the first "}" after it (or to the end of rest when there is no
// closing brace); rest becomes the text after that "}" (empty when there is none).
// Returns false, with rest emptied, when rest holds no "{". Nested braces are not
// matched: a block ends at its first "}". Each call shortens rest, so a loop that cuts
// blocks until a call fails always ends.
bool GetBracedText(std::string& rest, std::string& block);

// Scalar readers use the FIRST setting of the key. They return false when the key does
// not occur (out unchanged). A value that is empty or only white space also leaves out
// unchanged (and returns true). A value that does not begin with a number reads 0.
// Integers stop at the first character that cannot continue them ("2.5" gives 2) and
// values beyond the int range give the nearest int limit.
bool GetKeyValueInt(const std::string& text, const std::string& key, int& out);
bool GetKeyValueDouble(const std::string& text, const std::string& key, double& out);
// One word: the characters up to the next white space ("two words" gives "two").
bool GetKeyValueString(const std::string& text, const std::string& key, std::string& out);

// List readers use the LAST setting of the key and append its values to out. Values are
// separated by blanks, tabs, line breaks and commas; a value that does not begin with a
// number appends 0. Return the size of out after the call, or 0 (out untouched) when the
// key does not occur.
int GetKeyValueDoubles(const std::string& text, const std::string& key, std::vector<double>& out);
int GetKeyValueInts(const std::string& text, const std::string& key, std::vector<int>& out);

// Position of the first (or last) setting of key in text: the offset of the value text
// just after its "=", or std::string::npos when the key does not occur as a setting.
size_t FindOptionKey(const std::string& text, const std::string& key, bool last = false);
// Whether word occurs in text as a whole word (not inside a longer name).
bool ContainsOptionWord(const std::string& text, const std::string& word);
