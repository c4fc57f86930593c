// The program's own version, for the version block and the log alike.
#pragma once

#define ORV_PROGRAM_VERSION 1, 0, 0, 1
#define ORV_PROGRAM_VERSION_TEXT "1.0.0.1"
