# make test  - install what is missing, build, run every test
# make demo  - install what is missing, build, run a POS session against the local service
# make soak  - build, then run the long fault soak (tools/fault-soak)
# make fuzz  - build the fuzz targets with clang and run each for FUZZ_TIME seconds
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo bench soak sanitize tsan fuzz clean windows-deps windows \
        windows64 windows-test

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

# The long fault soak: 10,000 operations on 4 devices at a 20% fault rate (SOAK_OPTIONS adds
# or overrides, e.g. SOAK_OPTIONS="--seed 7").
SOAK_OPTIONS ?=
soak: build
	$(BUILD)/tools/fault-soak/fault-soak --operations 10000 --devices 4 --fault-rate 0.2 --seed 1 $(SOAK_OPTIONS)

# Test suite under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: deps
	cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=Debug -DQVPA_SANITIZE=ON -DQVPA_BENCHMARKS=OFF
	cmake --build $(BUILD)-asan -j $(JOBS)
	cd $(BUILD)-asan && ctest --output-on-failure -j $(JOBS)

# The log writer and the objects around its thread, and the driver's devices on parallel
# threads against the local service, under ThreadSanitizer.
TSAN_TESTS = base_log_writer_test base_application_test io_handler_test satispay_e2e_test
tsan: deps
	cmake -S . -B $(BUILD)-tsan -DCMAKE_BUILD_TYPE=Debug -DQVPA_TSAN=ON -DQVPA_BENCHMARKS=OFF
	cmake --build $(BUILD)-tsan -j $(JOBS) --target $(TSAN_TESTS)
	set -e; for t in $(TSAN_TESTS); do \
	  TSAN_OPTIONS=halt_on_error=1 $$(find $(BUILD)-tsan -type f -name $$t -perm -u+x | head -n 1); done

# Fuzz targets under libFuzzer (clang, AddressSanitizer and UBSan), each run for FUZZ_TIME
# seconds from its seed corpus in fuzz/corpus; tools/fuzz.sh says where inputs and findings go.
FUZZ_TIME ?= 60
FUZZ_TARGETS ?= exports_utf16_fuzz exports_utf8_fuzz device_session_fuzz service_answers_fuzz \
                receipt_codecs_fuzz
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQVPA_FUZZ=ON -DQVPA_BENCHMARKS=OFF -DQVPA_KEY_BITS=1024
	cmake --build $(BUILD)-fuzz -j $(JOBS) --target fuzz_targets
	set -e; for t in $(FUZZ_TARGETS); do bash tools/fuzz.sh $(BUILD)-fuzz $$t $(FUZZ_TIME); done

# Windows: QVPA_SATISPAY_10.dll (32-bit; windows64: 64-bit) cross-built with MinGW-w64, and
# windows-test: both builds' unit tests under Wine, then a POS session of the Windows host
# against the native service simulator and the unload test, for each.
windows-deps:
	@bash tools/install-windows-deps.sh

windows: windows-deps
	cmake -S . -B $(BUILD)-win32 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake $(CMAKE_FLAGS)
	cmake --build $(BUILD)-win32 -j $(JOBS)

windows64: windows-deps
	cmake -S . -B $(BUILD)-win64 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake $(CMAKE_FLAGS)
	cmake --build $(BUILD)-win64 -j $(JOBS)

windows-test: build windows windows64
	bash tools/windows-test.sh $(BUILD) $(BUILD)-win32 $(BUILD)-win64

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan $(BUILD)-fuzz $(BUILD)-win32 $(BUILD)-win64
