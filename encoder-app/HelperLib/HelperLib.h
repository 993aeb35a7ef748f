#pragma once

#include <string>

// Settings files are flat JSON texts under "/etc" written by the web UI. Values are found by a
// plain text search, never by parsing JSON:
//   - a key is found by the first occurrence of its quoted form "Key" anywhere in the text;
//   - its value starts two characters after the key's closing quote (past `:` and the opening
//     quote) and runs up to, not including, the next double quote;
//   - so every value must be stored as a string with no blank after the colon: "ZoomSpeed":"5".
// Both functions take the system path ("/etc/vantor-enc1-settings.json") and resolve it through the
// board root themselves. Each call opens, reads or rewrites, and closes the file.

// Returns the value of `Key` in `filename`, or "NULL" when the file cannot be read, the key is
// missing, or the key stands so close to the end of the text that no value position follows it.
// A value whose closing quote is missing runs to the end of the text.
std::string GetJsonString(const char* filename, const char* Key);

// The same search in a text already read: the value of `Key` in `text`, or "NULL". Several keys
// taken from one read of a file belong to the same version of it, even while the file is rewritten.
std::string GetJsonStringFromText(const std::string& text, const char* Key);

// When `condition` is false, returns true at once without touching the file. Otherwise replaces the
// characters between the value's quotes with `Val`, every other byte of the file unchanged, and
// returns true once the new content is safely in place. The file is replaced atomically, so a
// concurrent reader sees either the old or the new text. Returns false, leaving the file unchanged,
// when the file cannot be read, the key or the value's closing quote is missing, `Val` holds a
// character that would break the file's structure (a double quote, a backslash or a control
// character), or the new content cannot be written.
bool SetJsonStringCond(const char* filename, const char* Key, const char* Val, bool condition);
