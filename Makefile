# tavo: the two commands of the README and a few more.
#   make run    install what is missing, build, run the default example, draw its plots
#   make test   install what is missing, build, run the test suite (also under the sanitizers)
#   make test-quick   the unit tests of the release build, in seconds (ctest -L unit)
#   make test-slurm   the Slurm scripts on a one-node Slurm started on this machine (as root)
#   make bench  micro-benchmarks and the whole-step table
#   make plot RUN=dir   draw the plots of a finished run into dir/plots/
#   make analyse RUN=dir   time averages with error bars and spectra of a run (dir/summary.json)
#   make movie RUN=dir     film of ne and phi from the run's field history (dir/movie.mp4)
SHELL := /bin/bash
JOBS ?= $(shell nproc)
EXAMPLE ?= default

.PHONY: deps build run test test-quick test-release test-asan test-slurm bench plot analyse movie fuzz clean

deps:
	@bash scripts/install-deps

build: deps
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build build -j $(JOBS) --target tavo

run: build
	@bash scripts/run-example $(EXAMPLE)

test: deps test-release test-asan

test-release:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build build -j $(JOBS)
	cd build && ctest --output-on-failure -j $(JOBS)

# Tiers are CTest labels (ctest --print-labels): unit, integrated, faults, mpi, scripts, lint;
# `cd build && ctest -L faults` runs one of them.
test-quick: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build build -j $(JOBS)
	cd build && ctest --output-on-failure -j $(JOBS) -L '^unit$$'

test-asan:
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVO_SANITIZE=ON >/dev/null
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

# make test-slurm   (not part of make test: about five minutes, as root) starts a one-node Slurm on
# this machine and runs a scan array and a run stopped twice by its time limit through it.
test-slurm:
	@TAVO_SLURM=1 bash scripts/install-deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build build -j $(JOBS) --target tavo
	bash scripts/test-slurm

bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTAVO_BENCH=ON -DTAVO_TESTS=OFF >/dev/null
	cmake --build build-bench -j $(JOBS)
	bash scripts/bench

plot:
	@scripts/plot $(RUN)

analyse:
	@scripts/analyse $(RUN)

movie:
	@scripts/movie $(RUN)

# make fuzz   (not part of make test) builds the libFuzzer targets of the parameter and restart
# readers with clang and the sanitizers and runs each for FUZZ_SECONDS. Inputs that find new paths
# collect in build-fuzz/corpus/; a crash, hang or leak is stored in tests/fuzz/regressions/<reader>/,
# which make test replays together with the seed corpus tests/fuzz/corpus/<reader>/.
FUZZ_SECONDS ?= 60
FUZZ_READERS := parameters restart

fuzz:
	@TAVO_FUZZ=1 bash scripts/install-deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVO_FUZZ=ON -DTAVO_TESTS=OFF >/dev/null
	cmake --build build-fuzz -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_READERS))
	@for reader in $(FUZZ_READERS); do \
	  mkdir -p build-fuzz/corpus/$$reader tests/fuzz/regressions/$$reader; \
	  echo "| fuzzing the $$reader reader for $(FUZZ_SECONDS) s"; \
	  build-fuzz/tests/fuzz/fuzz_$$reader build-fuzz/corpus/$$reader tests/fuzz/corpus/$$reader \
	    tests/fuzz/regressions/$$reader -dict=tests/fuzz/$$reader.dict -max_total_time=$(FUZZ_SECONDS) -timeout=10 \
	    -artifact_prefix=tests/fuzz/regressions/$$reader/ -print_final_stats=1 || exit 1; \
	done

clean:
	rm -rf build build-asan build-bench build-fuzz
