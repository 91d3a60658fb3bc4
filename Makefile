# tavo: the two commands of the README and a few more.
#   make run    install what is missing, build, run the default example, draw its plots
#   make test   install what is missing, build, run the test suite (also under the sanitizers)
#   make bench  micro-benchmarks and the whole-step table
#   make plot RUN=dir   draw the plots of a finished run into dir/plots/
SHELL := /bin/bash
JOBS ?= $(shell nproc)
EXAMPLE ?= default

.PHONY: deps build run test test-release test-asan bench plot fuzz clean

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

test-asan:
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVO_SANITIZE=ON >/dev/null
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTAVO_BENCH=ON -DTAVO_TESTS=OFF >/dev/null
	cmake --build build-bench -j $(JOBS)
	bash scripts/bench

plot:
	@bash scripts/plot $(RUN)

clean:
	rm -rf build build-asan build-bench build-fuzz
