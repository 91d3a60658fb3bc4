// The Slurm batch scripts of scripts/scan --slurm and scripts/submit, without a Slurm: their
// options (time, memory, partition, account, the points' threads, the early signal, quoted paths),
// and a task run by hand with stand-ins for tavo and sbatch, in a directory whose path holds a
// blank: OMP_NUM_THREADS from the job's CPUs, a stop (status 75) turned into incon 2 and the next
// part submitted for the same array index, the finished point left alone by a later task. The
// real Slurm runs these scripts in make test-slurm.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "setup/setup.hpp"
#include "support/run_setup.hpp"

namespace fs = std::filesystem;

namespace {

const std::string top = TAVO_SOURCE_DIR;

int shell(const std::string &dir, const std::string &command, std::string *output) {
  const std::string log = dir + "/command.log";
  const int status = system(("cd '" + dir + "' && " + command + " > '" + log + "' 2>&1").c_str());
  *output = read_text(log);
  fs::remove(log);
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<double> values_of(const std::string &path) {
  std::vector<double> values(nknown, NAN);
  read_values(read_text(path), values.data(), nknown);
  return values;
}

// A stand-in tavo: logs its thread count and incon, stops (75) on its first call and finishes
// on the next; and a stand-in sbatch that logs its arguments.
void write_stand_ins(const std::string &bin) {
  fs::create_directories(bin);
  write_text(bin + "/tavo",
             "#!/bin/bash\n"
             "incon=$(awk '{for (i = 1; i < NF; i++) if ($i ~ /=/) { n++; if (n == 5) print $(i+1) }}' tavo.inp)\n"
             "echo \"threads=$OMP_NUM_THREADS incon=$incon\" >> calls.txt\n"
             "[ $(wc -l < calls.txt) -ge 2 ] && exit 0\n"
             "echo '| stopped by SIGUSR1 at t = 1 (step 5): checkpoint written, continue with incon 2' >&2\n"
             "exit 75\n");
  write_text(bin + "/sbatch", "#!/bin/bash\nprintf '%s\\n' \"$*\" >> \"$(dirname \"$0\")/sbatch.txt\"\n");
  fs::permissions(bin + "/tavo", fs::perms::owner_all);
  fs::permissions(bin + "/sbatch", fs::perms::owner_all);
}

TEST(SlurmScripts, ScanArrayAsksForItsResourcesAndContinuesAStoppedPoint) {
  const std::string dir = make_temp_dir() + "/with blank";
  fs::create_directories(dir + "/base");
  values19 v = test_values();
  v[v_npar] = 2;
  write_text(dir + "/base/tavo.inp", parameter_file(v));
  write_stand_ins(dir + "/bin");
  std::string output;
  ASSERT_EQ(shell(dir,
                  "TAVO_ANALYSE=true '" + top + "/scripts/scan' --slurm --tavo bin/tavo --time 2:00:00 --mem 3G "
                  "--partition short --account plasma --lead 90 base out chat=0.5,1",
                  &output),
            0)
      << output;
  const std::string script = read_text(dir + "/out/scan.slurm");
  for (const std::string &line : std::vector<std::string>{"#SBATCH --array=0-1", "#SBATCH --cpus-per-task=2", "#SBATCH --time=2:00:00", "#SBATCH --mem=3G",
        "#SBATCH --partition=short", "#SBATCH --account=plasma", "#SBATCH --signal=B:USR1@90",
        "#SBATCH --output=\"" + dir + "/out/slurm-%A_%a.log\"", "  '" + dir + "/out/chat_1'"})
    EXPECT_NE(script.find("\n" + line + "\n"), std::string::npos) << line << " in\n" << script;
  EXPECT_EQ(shell(dir, "bash -n out/scan.slurm", &output), 0) << output;

  // Task 1 by hand: stopped, so incon 2 and the same index submitted again; then finished; then
  // left alone.
  const std::string task = "PATH='" + dir + "/bin':$PATH SLURM_ARRAY_TASK_ID=1 SLURM_CPUS_PER_TASK=2 bash out/scan.slurm";
  const std::string point = dir + "/out/chat_1";
  ASSERT_EQ(shell(dir, task, &output), 0) << output;
  EXPECT_EQ(read_text(point + "/calls.txt"), "threads=2 incon=0\n");
  EXPECT_EQ(values_of(point + "/tavo.inp")[4], 2) << "incon";
  EXPECT_EQ(values_of(point + "/tavo.inp.first")[4], 0) << "the first file kept";
  EXPECT_EQ(read_text(dir + "/bin/sbatch.txt"), "--array=1 " + dir + "/out/scan.slurm\n");
  ASSERT_EQ(shell(dir, task, &output), 0) << output;
  EXPECT_TRUE(fs::exists(point + "/finished")) << output;
  ASSERT_EQ(shell(dir, task, &output), 0) << output;
  EXPECT_NE(output.find("finished already"), std::string::npos) << output;
  EXPECT_EQ(read_text(point + "/calls.txt"), "threads=2 incon=0\nthreads=2 incon=2\n");
  EXPECT_EQ(read_text(dir + "/bin/sbatch.txt"), "--array=1 " + dir + "/out/scan.slurm\n") << "submitted once";
  EXPECT_FALSE(fs::exists(dir + "/out/chat_0.5/calls.txt")) << "task 0 never ran";
  if (!testing::Test::HasFailure()) fs::remove_all(fs::path(dir).parent_path());
}

TEST(SlurmScripts, SubmitWritesASelfContinuingJob) {
  const std::string dir = make_temp_dir() + "/a run";
  fs::create_directories(dir);
  values19 v = test_values();
  v[v_npar] = 3;
  write_text(dir + "/tavo.inp", parameter_file(v));
  write_stand_ins(dir + "/bin");
  std::string output;
  ASSERT_EQ(shell(dir, "'" + top + "/scripts/submit' --no-submit --tavo bin/tavo --time 30 --lead 60 .", &output), 0)
      << output;
  const std::string script = read_text(dir + "/tavo.slurm");
  for (const std::string &line : std::vector<std::string>{"#SBATCH --cpus-per-task=3", "#SBATCH --time=30", "#SBATCH --signal=B:USR1@60",
                                 "#SBATCH --output=\"" + dir + "/slurm-%j.log\""})
    EXPECT_NE(script.find("\n" + line + "\n"), std::string::npos) << line << " in\n" << script;
  EXPECT_NE(script.find("#SBATCH --mem="), std::string::npos) << script;
  EXPECT_EQ(script.find("--partition"), std::string::npos) << "left out unless given";
  // The job by hand: stopped, continued in a new job; finished.
  const std::string job = "PATH='" + dir + "/bin':$PATH SLURM_CPUS_PER_TASK=3 bash tavo.slurm";
  ASSERT_EQ(shell(dir, job, &output), 0) << output;
  EXPECT_EQ(values_of(dir + "/tavo.inp")[4], 2) << "incon";
  EXPECT_EQ(read_text(dir + "/bin/sbatch.txt"), dir + "/tavo.slurm\n");
  ASSERT_EQ(shell(dir, job, &output), 0) << output;
  EXPECT_EQ(read_text(dir + "/calls.txt"), "threads=3 incon=0\nthreads=3 incon=2\n");
  EXPECT_TRUE(fs::exists(dir + "/finished"));
  if (!testing::Test::HasFailure()) fs::remove_all(fs::path(dir).parent_path());
}

}  // namespace
