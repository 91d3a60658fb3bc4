// The version string, given by the build as TAVO_VERSION (only this file is rebuilt when it changes).
#include "common/version.hpp"

#ifndef TAVO_VERSION
#error "the build defines TAVO_VERSION"
#endif

const char tavo_version[] = TAVO_VERSION;
