// JSON checks and member edits the simulated device needs for its stored
// configuration texts, which it keeps in the layout they were sent in.
#pragma once
#include <cstddef>
#include <string>

// True when text is one JSON object (surrounding white space allowed). Raw
// control characters inside strings are accepted: the updater's re-indentation
// puts line breaks into strings that hold a comma.
bool simjson_isObject(const std::string& text);
// Finds the value of a top-level member; *start/*end span the value token.
bool simjson_findMember(const std::string& text, const std::string& key, std::size_t* start, std::size_t* end);
// The member's value: a string's unescaped text, or a literal/number as it stands.
std::string simjson_memberText(const std::string& text, const std::string& key);
// Replaces the value token of a top-level member; false if it is missing.
bool simjson_replaceMember(std::string& text, const std::string& key, const std::string& valueToken);
// The text as a JSON string token, quotes included.
std::string simjson_quote(const std::string& text);
