// Support of the fault tests: child runs of the program, and the layouts of its result files.
#include "faults/fault_support.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

values19 fault_values() {
  values19 v = test_values();
  v[v_chat] = 0.5;
  v[v_diff] = 0.002;
  v[v_incon] = 0;
  v[v_sigma] = 2.0;
  v[v_amp] = 0.5;
  v[v_ly] = 24;
  v[v_nx] = 64;
  v[v_ny] = 64;
  v[v_dt] = 0.02;
  v[v_itstp] = 5;
  v[v_itmax] = 20;
  v[v_ntrace] = 2;
  v[v_ihype] = 2;
  return v;
}

pid_t start_tavo(const std::string &dir, long file_limit, const std::string &console_prefix) {
  const std::string out = dir + "/" + console_prefix + "stdout.txt", err = dir + "/" + console_prefix + "stderr.txt";
  const std::string program = tavo_program();
  const pid_t pid = fork();
  if (pid != 0) return pid;
  // The child: only calls that are safe after fork, then the program.
  if (chdir(dir.c_str()) != 0) _exit(126);
  const int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out_fd < 0 || err_fd < 0 || dup2(out_fd, 1) < 0 || dup2(err_fd, 2) < 0) _exit(126);
  if (file_limit > 0) {
    // A write beyond the limit then fails with EFBIG instead of raising SIGXFSZ.
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit = {rlim_t(file_limit), rlim_t(file_limit)};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
  }
  execl(program.c_str(), program.c_str(), static_cast<char *>(nullptr));
  _exit(127);
}

int finish_tavo(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1000;
  if (WIFSIGNALED(status)) return -WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
}

int run_values(const std::string &dir, const values19 &v, std::string *output, long file_limit) {
  write_text(dir + "/tavo.inp", parameter_file(v));
  const int status = finish_tavo(start_tavo(dir, file_limit));
  if (output) *output = read_text(dir + "/stdout.txt");
  return status;
}

namespace {

// The shape of a result file: fields per line, and the line count when it is fixed.
enum layout_kind { series, zonal, table, snapshot, restart };
struct layout {
  std::string name;
  layout_kind kind;
  int fields;
  long lines;  // number of lines of a table
};

// The probe samples of a run of v, as the program counts them.
int samples_of(const values19 &v) {
  const int ntrace = static_cast<int>(v[v_ntrace]);
  return ntrace == 0 ? 1 : static_cast<int>(v[v_itmax] / v[v_ntrace]);
}

// Lines of a spectrum over n points: k = 1 .. n/2 - 1 when n > 3.
long spectrum_lines(long n) { return n > 3 ? n / 2 - 1 : 0; }

std::vector<layout> layouts(const values19 &v) {
  const long nx = static_cast<long>(v[v_nx]), ny = static_cast<long>(v[v_ny]);
  std::vector<layout> list = {
      {"eng.dat", series, 6, 0},          {"eng-transfer.dat", series, 5, 0},
      {"fne.dat", series, 2, 0},          {"gamma.dat", series, 3, 0},
      {"zfx.dat", zonal, 3, 0},           {"time.dat", series, 0, 0},
      {"cutx.dat", table, 6, nx},         {"cuty.dat", table, 6, ny},
      {"xprof.dat", table, 6, nx},        {"n2d.dat", snapshot, 3, 0},
      {"w2d.dat", snapshot, 3, 0},        {"p2d.dat", snapshot, 3, 0},
      {"i2d.dat", snapshot, 3, 0},        {"pky_p.dat", table, 3, spectrum_lines(ny)},
      {"pky_n.dat", table, 3, spectrum_lines(ny)}, {"pky_w.dat", table, 3, spectrum_lines(ny)},
      {"pky_e.dat", table, 3, spectrum_lines(ny)}, {"pkx_p.dat", table, 3, spectrum_lines(nx)},
      {"restart.dat", restart, 14, 0},
  };
  const int samples = samples_of(v);
  if (static_cast<int>(v[v_ntrace]) > 0 && samples > 0) {
    list.push_back({"traces.dat", table, 4, samples});
    list.push_back({"ptt_n.dat", table, 2, spectrum_lines(samples)});
    list.push_back({"ptt_p.dat", table, 2, spectrum_lines(samples)});
  } else {
    list.push_back({"traces.dat", series, 0, 0});
  }
  return list;
}

// The whitespace-separated fields of a line, each a number in full; false when one is not.
bool numbers_of(const std::string &line, std::vector<double> *numbers) {
  numbers->clear();
  std::istringstream fields(line);
  std::string field;
  while (fields >> field) {
    char *end;
    const double value = strtod(field.c_str(), &end);
    if (*end != '\0') return false;
    numbers->push_back(value);
  }
  return true;
}

}  // namespace

std::vector<std::string> result_files(const values19 &v) {
  std::vector<std::string> names;
  for (const layout &l : layouts(v)) names.push_back(l.name);
  return names;
}

std::string whole_file_fault(const std::string &dir, const std::string &name, const values19 &v) {
  layout shape{};
  for (const layout &l : layouts(v))
    if (l.name == name) shape = l;
  if (shape.name.empty()) return name + ": no layout known";
  const std::string path = dir + "/" + name;
  if (!std::filesystem::is_regular_file(path)) return name + ": missing or not a regular file";
  const std::string text = read_text(path);
  if (!text.empty() && text.back() != '\n') return name + ": the last line is cut short (no line end)";
  const long nx = static_cast<long>(v[v_nx]), ny = static_cast<long>(v[v_ny]);

  std::vector<std::string> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) lines.push_back(line);
  std::vector<double> numbers;
  for (size_t k = 0; k < lines.size(); k++) {
    const std::string where = name + " line " + std::to_string(k + 1) + " \"" + lines[k].substr(0, 60) + "\"";
    if (!numbers_of(lines[k], &numbers)) return where + ": not numbers";
    const bool blank = numbers.empty();
    switch (shape.kind) {
      case series:
      case table:
        if (static_cast<int>(numbers.size()) != shape.fields) return where + ": wrong number of fields";
        break;
      case zonal:
        if (!blank && numbers.size() != 3) return where + ": wrong number of fields";
        break;
      case snapshot: {
        // nx blocks of ny lines "x y value", each block followed by an empty line
        const long x = static_cast<long>(k) / (ny + 1), y = static_cast<long>(k) % (ny + 1);
        if (y == ny) {
          if (!blank) return where + ": the empty line after a block is missing";
        } else if (numbers.size() != 3 || numbers[0] != x || numbers[1] != y) {
          return where + ": expected point (" + std::to_string(x) + ", " + std::to_string(y) + ")";
        }
        break;
      }
      case restart:
        if (k == 0) {
          if (numbers.size() != 1) return where + ": the header holds one number";
        } else {
          const long x = static_cast<long>(k - 1) / ny, y = static_cast<long>(k - 1) % ny;
          if (numbers.size() != 14 || numbers[0] != x || numbers[1] != y)
            return where + ": expected the 14 columns of point (" + std::to_string(x) + ", " + std::to_string(y) + ")";
        }
        break;
    }
  }
  long want = -1;
  if (shape.kind == table) want = shape.lines;
  if (shape.kind == snapshot) want = nx * (ny + 1);
  if (shape.kind == restart) want = nx * ny + 1;
  if (want >= 0 && static_cast<long>(lines.size()) != want)
    return name + ": " + std::to_string(lines.size()) + " lines, expected " + std::to_string(want);
  return "";
}

std::vector<std::string> whole_files_faults(const std::string &dir, const values19 &v) {
  std::vector<std::string> faults;
  for (const std::string &name : result_files(v)) {
    const std::string fault = whole_file_fault(dir, name, v);
    if (!fault.empty()) faults.push_back(fault);
  }
  return faults;
}

std::vector<std::string> names_ending(const std::string &dir, const std::string &suffix) {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
      names.push_back(name);
  }
  return names;
}

int progress_lines(const std::string &console) {
  int count = 0;
  for (size_t at = console.find("|t="); at != std::string::npos; at = console.find("|t=", at + 1)) count++;
  return count;
}

void remove_dir(const std::string &dir) {
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}
