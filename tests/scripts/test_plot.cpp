// Tests of scripts/plot, the gnuplot drawing of a run's output files.
//
// The input is the complete output of a small run (tests/reference-runs/blob_small: 16 x 16 blob,
// 40 steps, probe traces every 4 steps), computed by an independent implementation of the model,
// so every file the plot script reads is present in its exact format. A picture counts as drawn
// when it is a PNG file (signature and IHDR chunk) of a readable size; missing inputs must be
// skipped with a "|" note and exit status 0, a missing run directory must fail with a "|" message.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/run_setup.hpp"

namespace fs = std::filesystem;

namespace {

const std::string source_dir = TAVO_SOURCE_DIR;
const std::string reference_run = source_dir + "/tests/reference-runs/blob_small";

bool have_gnuplot() { return system("command -v gnuplot >/dev/null 2>&1") == 0; }

// A temporary run directory holding the reference run's "tavo.inp" and all its output files.
std::string copy_reference_run() {
  std::string dir = make_temp_dir();
  fs::copy_file(reference_run + "/tavo.inp", dir + "/tavo.inp");
  for (const auto &entry : fs::directory_iterator(reference_run + "/expected"))
    fs::copy_file(entry.path(), dir + "/" + entry.path().filename().string());
  for (const auto &entry : fs::directory_iterator(dir))
    fs::permissions(entry.path(), fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
  return dir;
}

// Run scripts/plot on dir from the root directory (so nothing depends on the caller's working
// directory); returns the exit status and puts standard output and error into output.
int run_plot(const std::string &dir, std::string *output) {
  std::string log = make_temp_dir() + "/plot.log";
  std::string command = "cd / && bash '" + source_dir + "/scripts/plot' '" + dir + "' > '" + log + "' 2>&1";
  int status = system(command.c_str());
  *output = read_text(log);
  fs::remove_all(fs::path(log).parent_path());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

struct png_check {
  bool ok;
  std::string why;
  unsigned width, height;
};

// Whether path is a PNG picture: the eight signature bytes, an IHDR chunk first, more than
// 1000 bytes in all; width and height are read from the IHDR chunk (big-endian).
png_check check_png(const std::string &path) {
  std::string bytes = read_text(path);
  if (bytes.empty()) return {false, "missing or empty", 0, 0};
  if (bytes.size() <= 1000) return {false, "only " + std::to_string(bytes.size()) + " bytes", 0, 0};
  static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  for (int i = 0; i < 8; i++)
    if (static_cast<unsigned char>(bytes[i]) != signature[i]) return {false, "no PNG signature", 0, 0};
  if (bytes.compare(12, 4, "IHDR") != 0) return {false, "no IHDR chunk first", 0, 0};
  auto be32 = [&](size_t at) {
    unsigned value = 0;
    for (size_t i = 0; i < 4; i++) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
  };
  return {true, "", be32(16), be32(20)};
}

// Every picture the script draws from a complete run with probe traces.
const std::vector<std::string> all_pictures = {
    "density", "potential", "vorticity", "nonadiabatic", "energy", "flux", "transfer", "growth",
    "spectrum_ky_potential", "spectrum_ky_density", "spectrum_ky_vorticity", "spectrum_ky_energy",
    "spectrum_kx_potential", "zonal_flow", "zonal_flow_map", "profiles", "probe_trace", "probe_spectra"};

}  // namespace

// A complete run gives every picture, each a valid PNG of readable size, and exit status 0.
TEST(Plot, DrawsEveryPictureOfACompleteRun) {
  if (!have_gnuplot()) GTEST_SKIP() << "gnuplot is not installed";
  std::string dir = copy_reference_run();
  std::string output;
  int status = run_plot(dir, &output);
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(output.find("skipped"), std::string::npos) << "nothing should be skipped:\n" << output;
  for (const std::string &name : all_pictures) {
    png_check png = check_png(dir + "/plots/" + name + ".png");
    EXPECT_TRUE(png.ok) << name << ".png: " << png.why;
    if (!png.ok) continue;
    EXPECT_GE(png.width, 600u) << name << ".png width " << png.width << ", expected at least 600";
    EXPECT_GE(png.height, 500u) << name << ".png height " << png.height << ", expected at least 500";
  }
  fs::remove_all(dir);
}

// Missing and empty inputs skip only their own pictures, each with a "|" note, and the run still
// ends with status 0; the run directory may be given relative to the caller's directory.
TEST(Plot, SkipsMissingOrEmptyInputs) {
  if (!have_gnuplot()) GTEST_SKIP() << "gnuplot is not installed";
  std::string dir = copy_reference_run();
  fs::remove(dir + "/fne.dat");
  fs::remove(dir + "/ptt_n.dat");
  fs::remove(dir + "/ptt_p.dat");
  fs::remove(dir + "/w2d.dat");
  write_text(dir + "/gamma.dat", "");
  write_text(dir + "/zfx.dat", "\n");  // what the call before the first interval leaves

  std::string log = dir + "/plot.log";
  std::string command = "cd '" + fs::path(dir).parent_path().string() + "' && bash '" + source_dir +
                        "/scripts/plot' '" + fs::path(dir).filename().string() + "' > '" + log + "' 2>&1";
  int status = system(command.c_str());
  std::string output = read_text(log);
  ASSERT_TRUE(WIFEXITED(status)) << output;
  EXPECT_EQ(WEXITSTATUS(status), 0) << output;

  struct skipped_case {
    const char *picture, *input;
  };
  const skipped_case skipped[] = {{"flux", "fne.dat"},          {"growth", "gamma.dat"},
                                  {"probe_spectra", "ptt_n.dat"}, {"vorticity", "w2d.dat"},
                                  {"zonal_flow", "zfx.dat"},     {"zonal_flow_map", nullptr}};
  for (const skipped_case &c : skipped) {
    EXPECT_FALSE(fs::exists(dir + "/plots/" + c.picture + ".png")) << c.picture << ".png drawn without data";
    if (!c.input) continue;
    std::string note = std::string("| plot: skipped ") + c.picture + ".png: " + c.input;
    EXPECT_TRUE(output.find(note) == 0 || output.find("\n" + note) != std::string::npos)
        << "no line starting with \"" << note << "\" in:\n"
        << output;
  }
  for (const char *name : {"density", "potential", "energy", "probe_trace", "spectrum_ky_potential"}) {
    png_check png = check_png(dir + "/plots/" + name + ".png");
    EXPECT_TRUE(png.ok) << name << ".png: " << png.why;
  }
  fs::remove_all(dir);
}

// A run directory that does not exist is an error with a "|" message, and nothing is created.
TEST(Plot, FailsOnAMissingRunDirectory) {
  if (!have_gnuplot()) GTEST_SKIP() << "gnuplot is not installed";
  std::string parent = make_temp_dir();
  std::string missing = parent + "/no-such-run";
  std::string output;
  int status = run_plot(missing, &output);
  EXPECT_NE(status, 0) << output;
  EXPECT_EQ(output.rfind("|", 0), 0u) << "message should start with \"|\":\n" << output;
  EXPECT_FALSE(fs::exists(missing));
  fs::remove_all(parent);
}
