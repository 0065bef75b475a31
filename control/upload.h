// The package upload's framing as its callers may need to know it: how
// large a package the upload request still takes.
#pragma once

// The largest package, in bytes, that an upload named fileName to host
// still takes: the request head, the form around the package and the package
// fit the device's upload size. 0 when not even an empty one does.
int upload_largestPackage(const char* host, const char* fileName);
