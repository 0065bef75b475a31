// The device protocol as the control library speaks it: the request texts
// (printf formats; every line ends in a bare "\n", the head in three),
// the limits of the library's buffers, where an answer's body begins, and
// which channels are outputs. ormi asks a device the same questions again
// from here when it tells a refusal from a failure on the way. No heap, no
// platform.
#pragma once

enum {
    // responseText: what the library keeps of an answer, 4095 characters and
    // the terminator.
    PROTOCOL_ANSWER_SIZE = 4096,
    // valueText: a value getValue picks by key, at most 255 characters.
    PROTOCOL_VALUE_SIZE = 256,
    // The TAN and login requests, a GET, and setIO's form and request.
    PROTOCOL_REQUEST_SIZE = 1024,
    // setValue's data, form and request.
    PROTOCOL_LONG_REQUEST_SIZE = 4096,
    // A settings text (254 characters), a module path.
    PROTOCOL_TEXT_SIZE = 256,
    // Method 2: the password followed by the TAN, at most 1023 characters.
    PROTOCOL_SALTED_SIZE = 1024,
    // The password hash: MD5 in lower-case hexadecimal.
    PROTOCOL_HASH_LENGTH = 32,
};

// Login method 2's TAN request: user, MD5 of the password alone, host.
inline constexpr char protocol_tanRequest[] =
    "GET /cgi-bin/getParamFromServer.cgi?username=%s&password=%s&type=single_id&module=login HTTP/1.1\nHost: %s\n\n\n";
// checkConnection's login: user, hash, host. Taken when the answer holds
// protocol_loginAccepted anywhere.
inline constexpr char protocol_loginRequest[] =
    "GET /cgi-bin/getParamFromServer.cgi?username=%s&password=%s&type=login&module=login HTTP/1.1\nHost: %s\n\n\n";
inline constexpr char protocol_loginAccepted[] = "LOGIN OK";

// getValue: user, hash, type, module, host.
inline constexpr char protocol_getValueRequest[] = "GET /cgi-bin/getParamFromServer.cgi?username=%s&password=%s"
                                                   "&type=%s&module=%s HTTP/1.1\nHost: %s\n\n\n";
// getIO: user, hash, module path (protocol_channelEnding), host.
inline constexpr char protocol_getIORequest[] = "GET /cgi-bin/getParamFromServer.cgi?username=%s&password=%s"
                                                "&type=singlevalue&module=%s HTTP/1.1\nHost: %s\n\n\n";
// The POST of setIO and setValue: host, the form's length, the form. Two
// bytes follow beyond what Content-Length announces.
inline constexpr char protocol_postRequest[] =
    "POST /cgi-bin/setParamToServer.cgi HTTP/1.1\nHost: %s\nContent-Length: %d\n\n\n%s\n";
// Their forms: user, hash, module path, value; user, hash, type, module, data.
inline constexpr char protocol_setIOForm[] = "username=%s&password=%s&type=singlevalue&module=%s&data=%d\n";
inline constexpr char protocol_setValueForm[] = "username=%s&password=%s&type=%s&module=%s&data=%s\n";
// What a device's answer to setIO, setValue and getIO holds when it took the request.
inline constexpr char protocol_confirmed[] = "OK";

// The package upload. The form head's two %s are the password hash and the
// file name; every line ends in "\n", and its empty last line puts the file
// bytes directly behind "\n\n".
inline constexpr char protocol_uploadHead[] = "-----------------------------17933678425893\n"
                                              "Content-Disposition: form-data; name=\"username\"\n"
                                              "\n"
                                              "Administrator\n"
                                              "-----------------------------17933678425893\n"
                                              "Content-Disposition: form-data; name=\"password\"\n"
                                              "\n"
                                              "%s\n"
                                              "-----------------------------17933678425893\n"
                                              "Content-Disposition: form-data; name=\"max_file_size\"\n"
                                              "\n"
                                              "10000000\n"
                                              "-----------------------------17933678425893\n"
                                              "Content-Disposition: form-data; name=\"text\"\n"
                                              "\n"
                                              "loading finished\n"
                                              "-----------------------------17933678425893\n"
                                              "Content-Disposition: form-data; name=\"package\"; filename=\"%s\"\n"
                                              "Content-Type: application/octet-stream\n"
                                              "\n";
// No closing "--": the device expects the separator line as it stands.
inline constexpr char protocol_uploadTail[] = "\n-----------------------------17933678425893\n";
// The upload's request head: host, Content-Length. The third "\n" is the
// body's first byte for the device, hence Content-Length = body length + 1.
inline constexpr char protocol_uploadRequest[] = "POST /cgi-bin/setUpdateFileToServer.cgi HTTP/1.1\nHost: %s\n"
                                                 "Content-Type:multipart/form-data\nContent-Length: %d\n\n\n";
// A formatted form head is this long plus the file name's length; the tail is
// PROTOCOL_UPLOAD_TAIL_LENGTH.
inline constexpr int PROTOCOL_UPLOAD_HEAD_LENGTH = (int)sizeof protocol_uploadHead - 1 - 4 + PROTOCOL_HASH_LENGTH;
inline constexpr int PROTOCOL_UPLOAD_TAIL_LENGTH = (int)sizeof protocol_uploadTail - 1;

// Just behind the first blank line of text ("\n\n" or "\r\n\r\n", whichever
// comes first), or text itself when there is none; nullptr stays nullptr.
const char* protocol_findBody(const char* text);

// The ending of a channel's module path: "/output" when the channel's name
// holds "do" or "ao" anywhere, "/input" otherwise.
const char* protocol_channelEnding(const char* channel);
