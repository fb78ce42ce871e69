# The two commands of the README, plus the sanitizer, benchmark and fuzz builds.
# Each interpreter has its own build folders: Python 2 in build, build-demo,
# build-asan, build-bench; Python 3 in build-py3, build-demo-py3, build-asan-py3,
# build-bench-py3.
# PYTHON=3 makes `make build` and `make demo` use Python 3 (default 2);
# `make test`, `make sanitize` and `make bench` always cover both.
PYTHON2_PREFIX ?= $(shell pyenv prefix 2.7.18 2>/dev/null || echo $(HOME)/.pyenv/versions/2.7.18)
PYTHON2 := $(PYTHON2_PREFIX)/bin/python2.7
PYTHON3 := /usr/bin/python3
PYTHON ?= 2
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
export PYTHON2_PREFIX

ifeq ($(filter $(PYTHON),2 3),)
$(error PYTHON must be 2 or 3, not '$(PYTHON)')
endif

BUILD_2 := build
BUILD_3 := build-py3

.PHONY: all deps build build-2 build-3 demo test sanitize sanitize-2 sanitize-3 tsan bench fuzz clean

all: build

deps:
	@scripts/install-deps.sh

# build-N: the RelWithDebInfo build for Python N, in its own folder. The C++
# units that do not embed the interpreter (libw32's, the services', the
# detector component's) do not depend on it: only the Python 2 build has them;
# the Python 3 build gets libw32's objects from the compiler cache (ccache).
NATIVE_TESTS_2 := ON
NATIVE_TESTS_3 := OFF
build-2 build-3: build-%: deps
	cmake -S . -B $(BUILD_$*) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDEVICE_PYTHON=$* -DDEVICE_NATIVE_TESTS=$(NATIVE_TESTS_$*) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD_$*) -j $(JOBS)

build: build-$(PYTHON)

# The demo builds what it imports (the modules, libw32, the detector
# component) in a Release build of its own, without the tests and their debug
# information; it writes only to a scratch home of its own.
DEMO_2 := build-demo
DEMO_3 := build-demo-py3

demo: deps
	cmake -S . -B $(DEMO_$(PYTHON)) -DCMAKE_BUILD_TYPE=Release -DDEVICE_TESTS=OFF -DDEVICE_PYTHON=$(PYTHON) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(DEMO_$(PYTHON)) -j $(JOBS)
	PYTHONPATH=$(DEMO_$(PYTHON))/lib $(PYTHON$(PYTHON)) examples/demo.py $(ARGS)

# Both builds' tests in one ctest run (build-test holds only its list and
# ctest's records): most tests wait on timers, other processes and the
# kernel, not on a processor, so they run TEST_JOBS at once.
TEST_JOBS ?= $(shell echo $$(( 2 * $(JOBS) )))
test: build-2 build-3
	@mkdir -p build-test
	@echo 'subdirs("$(CURDIR)/$(BUILD_2)" "$(CURDIR)/$(BUILD_3)")' >build-test/CTestTestfile.cmake
	cd build-test && ctest --output-on-failure -j $(TEST_JOBS)

# The sanitizer builds split the C++ units between them as build and build-py3 do.
sanitize-2 sanitize-3: sanitize-%: deps
	cmake -S . -B build-asan$(if $(filter 3,$*),-py3) -DCMAKE_BUILD_TYPE=Debug -DDEVICE_SANITIZE=ON -DDEVICE_PYTHON=$* -DDEVICE_NATIVE_TESTS=$(NATIVE_TESTS_$*) >/dev/null
	cmake --build build-asan$(if $(filter 3,$*),-py3) -j $(JOBS)
	cd build-asan$(if $(filter 3,$*),-py3) && ctest --output-on-failure -j $(JOBS)

sanitize: sanitize-2 sanitize-3

# The C++ units under ThreadSanitizer (the host interpreter cannot take it).
tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DDEVICE_TSAN=ON >/dev/null
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && ctest --output-on-failure -j $(JOBS) -L unit

# Every benchmark under Python 2, then the module's import time and
# MMer_Encode throughput under both interpreters in one run.
bench:
	@scripts/install-deps.sh bench
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DDEVICE_BENCH=ON -DDEVICE_PYTHON=2 >/dev/null
	cmake --build build-bench -j $(JOBS)
	cmake -S . -B build-bench-py3 -DCMAKE_BUILD_TYPE=Release -DDEVICE_BENCH=ON -DDEVICE_PYTHON=3 >/dev/null
	cmake --build build-bench-py3 -j $(JOBS) --target _Device _trivial
	cmake --build build-bench --target run-bench
	$(PYTHON3) bench/binding/interpreters.py $(PYTHON2)=build-bench/lib $(PYTHON3)=build-bench-py3/lib

fuzz:
	@scripts/install-deps.sh fuzz
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DDEVICE_FUZZ=ON >/dev/null
	cmake --build build-fuzz -j $(JOBS)
	cmake --build build-fuzz --target run-fuzz

clean:
	rm -rf build build-py3 build-test build-pip2 build-pip3 build-demo build-demo-py3 build-asan build-asan-py3 build-tsan build-bench build-bench-py3 build-fuzz
