# make test  - install what is missing, build, run every test
# make demo  - install what is missing, build, run a POS session against the local service
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo bench sanitize tsan clean

all: build

deps:
	@bash tools/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	bash tools/demo.sh $(BUILD)

bench: build
	bash tools/bench.sh $(BUILD)

# Test suite under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: deps
	cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=Debug -DQVPA_SANITIZE=ON -DQVPA_BENCHMARKS=OFF
	cmake --build $(BUILD)-asan -j $(JOBS)
	cd $(BUILD)-asan && ctest --output-on-failure -j $(JOBS)

# The log writer and the objects around its thread under ThreadSanitizer.
TSAN_TESTS = base_log_writer_test base_application_test io_handler_test
tsan: deps
	cmake -S . -B $(BUILD)-tsan -DCMAKE_BUILD_TYPE=Debug -DQVPA_TSAN=ON -DQVPA_BENCHMARKS=OFF
	cmake --build $(BUILD)-tsan -j $(JOBS) --target $(TSAN_TESTS)
	set -e; for t in $(TSAN_TESTS); do \
	  TSAN_OPTIONS=halt_on_error=1 $$(find $(BUILD)-tsan -type f -name $$t -perm -u+x | head -n 1); done

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan
