// Fetching a web page over plain HTTP.
#pragma once

#include <string>

// A bounded HTTP GET of an "http://host/path" address: every step (lookup aside) gives up
// after `timeout_ms`, and at most 64 kB are read. Returns the body of a 200 response, or
// an empty string on any failure.
std::string http_get(const std::string& url, int timeout_ms);
