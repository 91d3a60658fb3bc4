// The program's command line: no argument runs, a few flags answer questions and exit.
#pragma once

// Handle the arguments of main: -1 when there are none (the run goes on), else the exit status
// of what they asked for (--help, --version, --parameters[=json], --check) or 1 with a "|" line
// for any other argument. Touches no file but reads "tavo.inp" for --check.
int command_line(int argc, char **argv);
