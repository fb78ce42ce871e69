# The two commands of the README, plus the sanitizer, benchmark and fuzz builds.
PYTHON2_PREFIX ?= $(shell pyenv prefix 2.7.18 2>/dev/null || echo $(HOME)/.pyenv/versions/2.7.18)
PYTHON2 := $(PYTHON2_PREFIX)/bin/python2.7
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
export PYTHON2_PREFIX

.PHONY: all deps build demo test sanitize tsan bench fuzz clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build build -j $(JOBS)

demo: build
	PYTHONPATH=build/lib $(PYTHON2) examples/demo.py $(ARGS)

test: build
	cd build && ctest --output-on-failure -j $(JOBS)

sanitize: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DDEVICE_SANITIZE=ON >/dev/null
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

# The C++ units under ThreadSanitizer (the host interpreter cannot take it).
tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DDEVICE_TSAN=ON >/dev/null
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && ctest --output-on-failure -j $(JOBS) -L unit

bench:
	@scripts/install-deps.sh bench
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DDEVICE_BENCH=ON >/dev/null
	cmake --build build-bench -j $(JOBS)
	cmake --build build-bench --target run-bench

fuzz:
	@scripts/install-deps.sh fuzz
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DDEVICE_FUZZ=ON >/dev/null
	cmake --build build-fuzz -j $(JOBS)
	cmake --build build-fuzz --target run-fuzz

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz
