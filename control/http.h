// Request and answer texts: checks on caller and settings texts before they
// go into a request, and the header/body split of an answer.
#pragma once

// 1 when text may stand in a request line or header: present and free of
// carriage returns and line feeds, so it cannot end the line and add a
// header or a second request of its own.
int http_isLineSafe(const char* text);

// 1 when every one of the count texts is line-safe; writes one debug line
// naming the refusal otherwise.
int http_areLineSafe(const char* const* texts, int count);

// Just behind the first blank line of text, or text itself if there is none
// (protocol_findBody).
const char* http_findBody(const char* text);
