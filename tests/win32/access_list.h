// A security descriptor's access list in words, for the tests and the helper
// that read one back.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace orv::win32test {

// "protected yes" or "protected no", then one line per entry:
// "allow|deny|other SID 0xMASK 0xFLAGS" (the SID in its S-1-... form).
std::vector<std::string> DescribeAccessList(PSECURITY_DESCRIPTOR descriptor);

// The S-1-... form of the account this process runs as.
std::string ProcessUserSid();

}  // namespace orv::win32test
