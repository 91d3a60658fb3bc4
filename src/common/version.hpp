// The program's version, from the project version of the build (CMakeLists.txt).
#pragma once

extern const char tavo_version[];  // e.g. "1.1.0"
