// End-to-end runs compared with stored output.
//
// The fixtures under tests/reference-runs/<run>/ (tavo.inp and expected/, every file the run
// writes plus console.txt, its standard output) were computed by a separate, independent
// implementation of the same model. Two correct programs differ in the last bits of their FFTs
// and threaded sums, and a value printed with %.6e can round either way, so real numbers must
// agree to 1e-5 relative plus one unit of the last printed digit; integers and all text must be
// equal. Values that are zero by symmetry carry only round-off, so every real number also gets
// an absolute floor of 1e-10 times the size of the fields (the largest magnitude in the snapshot
// files). The thread numbers of the start report and the timing report are not compared.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_setup.hpp"

namespace fs = std::filesystem;

namespace {

// A line cut into alternating text and number pieces.
struct piece {
  bool number;
  std::string text;
};

// Split a line into numbers (as strtod reads them from a digit, a sign or a point followed by a
// digit) and the text between them.
std::vector<piece> cut(const std::string &line) {
  std::vector<piece> pieces;
  std::string text;
  const char *begin = line.c_str();
  for (size_t i = 0; i < line.size();) {
    const char c = line[i], next = i + 1 < line.size() ? line[i + 1] : '\0';
    const bool starts = isdigit(c) || ((c == '-' || c == '+' || c == '.') && (isdigit(next) || next == '.'));
    char *end = nullptr;
    if (starts) strtod(begin + i, &end);
    if (!starts || end == begin + i) {
      text += c;
      i++;
      continue;
    }
    if (!text.empty()) pieces.push_back({false, text});
    text.clear();
    const size_t length = size_t(end - (begin + i));
    pieces.push_back({true, line.substr(i, length)});
    i += length;
  }
  if (!text.empty()) pieces.push_back({false, text});
  return pieces;
}

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) lines.push_back(line);
  if (!text.empty() && text.back() != '\n') lines.push_back("<no line end>");
  return lines;
}

// One unit of the last printed digit of a number as printed.
double last_digit_unit(const std::string &text) {
  size_t e = text.find_first_of("eE");
  std::string mantissa = text.substr(0, e);
  int exponent = e == std::string::npos ? 0 : atoi(text.c_str() + e + 1);
  size_t dot = mantissa.find('.');
  int decimals = dot == std::string::npos ? 0 : int(mantissa.size() - dot - 1);
  return std::pow(10.0, exponent - decimals);
}

bool is_integer(const std::string &text) { return text.find_first_of(".eEni") == std::string::npos; }

// Compare two texts line by line; floor is the absolute tolerance of real numbers. Reports at
// most a few differences under the label name and returns their count.
int compare_text(const std::string &name, const std::string &got, const std::string &want, double floor) {
  std::vector<std::string> a = lines_of(got), b = lines_of(want);
  if (a.size() != b.size()) {
    ADD_FAILURE() << name << ": " << a.size() << " lines, expected " << b.size();
    return 1;
  }
  int bad = 0;
  for (size_t i = 0; i < a.size(); i++) {
    std::vector<piece> pa = cut(a[i]), pb = cut(b[i]);
    bool same = pa.size() == pb.size();
    std::string why;
    for (size_t k = 0; same && k < pa.size(); k++) {
      if (pa[k].number != pb[k].number) same = false;
      else if (!pa[k].number || is_integer(pb[k].text)) same = pa[k].text == pb[k].text;
      else {
        double u = strtod(pa[k].text.c_str(), nullptr), v = strtod(pb[k].text.c_str(), nullptr);
        double tolerance = 1e-5 * std::fabs(v) + last_digit_unit(pb[k].text) + floor;
        same = std::fabs(u - v) <= tolerance;  // NaN fails
        if (!same) {
          std::ostringstream s;
          s << " (value " << k << ": got " << u << ", expected " << v << ", difference " << u - v
            << ", tolerance " << tolerance << ")";
          why = s.str();
        }
      }
    }
    if (!same && bad++ < 5)
      ADD_FAILURE() << name << " line " << i + 1 << ":\n  got:      " << a[i] << "\n  expected: " << b[i] << why;
  }
  return bad;
}

// The console without the parts that change from run to run: the thread numbers of the start
// report and the two timing lines.
std::string steady_console(const std::string &text) {
  std::string out;
  for (const std::string &line : lines_of(text)) {
    if (line.rfind("| total times:", 0) == 0 || line.rfind("| rela. times:", 0) == 0) continue;
    const std::string report = "| parallel threads ";
    const size_t of = line.find(" of ");
    out += line.rfind(report, 0) == 0 && of != std::string::npos ? report + line.substr(of + 1) : line;
    out += '\n';
  }
  return out;
}

// Largest magnitude of the values (third column) in the snapshot files of a directory.
double field_size(const fs::path &dir) {
  double size = 0.0;
  for (const char *name : {"n2d.dat", "p2d.dat", "w2d.dat"}) {
    std::istringstream in(read_text((dir / name).string()));
    std::string line;
    while (std::getline(in, line)) {
      int x, y;
      double v;
      if (sscanf(line.c_str(), "%d %d %lf", &x, &y, &v) == 3) size = std::max(size, std::fabs(v));
    }
  }
  return size;
}

class ReferenceRun : public testing::TestWithParam<const char *> {};

}  // namespace

TEST_P(ReferenceRun, EveryOutputFileMatches) {
  const fs::path fixture = fs::path(TAVO_SOURCE_DIR) / "tests" / "reference-runs" / GetParam();
  const fs::path expected = fixture / "expected";
  ASSERT_TRUE(fs::exists(expected / "console.txt")) << "missing fixture " << fixture;
  const std::string dir = make_temp_dir();
  fs::copy_file(fixture / "tavo.inp", fs::path(dir) / "tavo.inp");

  std::string console;
  ASSERT_EQ(run_tavo(dir, &console), 0) << "console:\n" << console;
  compare_text("console", steady_console(console), steady_console(read_text((expected / "console.txt").string())), 0.0);

  // the same set of files, and each file equal within the tolerances
  std::set<std::string> made, wanted;
  for (const auto &entry : fs::directory_iterator(dir)) made.insert(entry.path().filename().string());
  for (const auto &entry : fs::directory_iterator(expected)) wanted.insert(entry.path().filename().string());
  // the input, the console, the directory's lock file, the binary field history (checked
  // against the text files by the history tests) and the binary checkpoint (checked by the
  // continuation tests) are not results compared here
  for (const char *own : {"tavo.inp", "stdout.txt", "stderr.txt", "tavo.lock", "tavo.nc", "restart.nc"})
    made.erase(own);
  wanted.erase("console.txt");
  for (const std::string &name : wanted)
    if (!made.count(name)) ADD_FAILURE() << "the run did not write \"" << name << "\"";
  for (const std::string &name : made)
    if (!wanted.count(name)) ADD_FAILURE() << "the run wrote the unexpected file \"" << name << "\"";

  const double floor = 1e-10 * field_size(expected);
  for (const std::string &name : wanted) {
    if (!made.count(name)) continue;
    compare_text(name, read_text((fs::path(dir) / name).string()), read_text((expected / name).string()), floor);
  }
  // Standard error holds the progress lines only: no warning of the start-up checks.
  EXPECT_EQ(without_progress(read_text(dir + "/stderr.txt")), "");
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ReferenceRun, testing::Values("blob_small", "bath_laplace", "kymode_linear"));
