# Everything an operator or developer needs on a fresh Debian machine.
#   make run    build, then load the module into corvane and transcode the
#               bundled speech sample both ways
#   make test   build and run every test
#   make bench  build and run the benchmarks
#   make fuzz   build the fuzz targets with clang and libFuzzer and run each
#               for FUZZ_SECONDS
#   make tsan   the multi-channel test under ThreadSanitizer
#   make cross-test
#               build for 64-bit ARM with the cross compiler and run the
#               codec and module tests under qemu-user

BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGES := cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev libsndfile1-dev libsoxr-dev libedit-dev nlohmann-json3-dev sox \
	libpcap-dev python3-numpy python3-pytest speex
CROSS_PACKAGES := cmake make g++-aarch64-linux-gnu binutils-aarch64-linux-gnu qemu-user googletest
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
SAMPLE := data/speech_male_librivox.raw
OUT := out

CROSS_BUILD ?= build-aarch64
CROSS_TOOLCHAIN := $(CURDIR)/cmake/aarch64-linux-gnu.cmake
CROSS_GTEST_SOURCE ?= /usr/src/googletest
CROSS_OBJDUMP := aarch64-linux-gnu-objdump

SANITIZE_BUILD ?= build-sanitize
SANITIZE_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer

.PHONY: all deps configure build run test sanitize bench install clean cross-deps cross-build cross-test fuzz fuzz-deps tsan

all: build

deps:
	@missing=$$(for p in $(PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || echo $$p; done); \
	if [ -n "$$missing" ]; then \
		echo "Installing:" $$missing; \
		$(SUDO) apt-get update && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: configure
	cmake --build $(BUILD) -j$(JOBS)

# Builds only what it runs (the host, the module and the tool), not the
# tests and benchmarks.
run: configure
	cmake --build $(BUILD) -j$(JOBS) --target corvane codec_g729a g729a
	@mkdir -p $(OUT)
	$(BUILD)/corvane -m $(BUILD)/codec_g729a.so \
		-x "g729 show version" \
		-x "module show" \
		-x "core show translation" \
		-x "file convert $(SAMPLE) $(OUT)/speech_male_librivox.g729" \
		-x "file convert $(OUT)/speech_male_librivox.g729 $(OUT)/speech_male_librivox_decoded.wav" \
		-x "file compare $(SAMPLE) $(OUT)/speech_male_librivox_decoded.wav"

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# The tests again with AddressSanitizer and UndefinedBehaviorSanitizer: any
# out-of-bounds access, overflow or invalid conversion fails the run. The
# reference vectors also prove that another optimisation level gives the
# same bits.
sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DG729A_BUILD_BENCH=OFF \
		"-DCMAKE_CXX_FLAGS=$(SANITIZE_FLAGS)" "-DCMAKE_C_FLAGS=$(SANITIZE_FLAGS)" "-DCMAKE_EXE_LINKER_FLAGS=$(SANITIZE_FLAGS)" \
		"-DCMAKE_SHARED_LINKER_FLAGS=$(SANITIZE_FLAGS)" "-DCMAKE_MODULE_LINKER_FLAGS=$(SANITIZE_FLAGS)"
	cmake --build $(SANITIZE_BUILD) -j$(JOBS)
	cd $(SANITIZE_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j$(JOBS)

# 64-bit ARM: the codec library, the module, the host and the codec and
# module tests (every reference vector among them) built with Debian's cross
# compiler and run under qemu-user. GoogleTest is built for the target from
# the sources Debian ships. The tools (libsndfile, libsoxr, libpcap) and benchmarks
# are left out.
cross-deps:
	@missing=$$(for p in $(CROSS_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || echo $$p; done); \
	if [ -n "$$missing" ]; then \
		echo "Installing:" $$missing; \
		$(SUDO) apt-get update && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y $$missing; \
	fi

cross-build: cross-deps
	@if [ ! -f $(CROSS_BUILD)/googletest-install/lib/cmake/GTest/GTestConfig.cmake ]; then \
		cmake -S $(CROSS_GTEST_SOURCE) -B $(CROSS_BUILD)/googletest -DCMAKE_BUILD_TYPE=Release \
			-DCMAKE_TOOLCHAIN_FILE=$(CROSS_TOOLCHAIN) -DBUILD_GMOCK=OFF \
			-DCMAKE_INSTALL_PREFIX=$(abspath $(CROSS_BUILD))/googletest-install && \
		cmake --build $(CROSS_BUILD)/googletest -j$(JOBS) && \
		cmake --install $(CROSS_BUILD)/googletest; \
	fi
	cmake -S . -B $(CROSS_BUILD) -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=$(CROSS_TOOLCHAIN) \
		-DG729A_BUILD_TOOLS=OFF -DG729A_BUILD_BENCH=OFF \
		-DGTest_DIR=$(abspath $(CROSS_BUILD))/googletest-install/lib/cmake/GTest
	cmake --build $(CROSS_BUILD) -j$(JOBS)

# The exact arithmetic forbids fused multiply-adds (scalar fmadd/fmsub/
# fnmadd/fnmsub, vector fmla/fmls): the check fails on any in the codec
# libraries, the module or the host library.
cross-test: cross-build
	@objects="$$(find $(CROSS_BUILD) -maxdepth 1 -type f \( -name '*.a' -o -name '*.so' -o -name '*.so.*' \) | sort)"; \
	for need in libg729a.a codec_g729a.so; do \
		echo "$$objects" | grep -q "/$$need$$" || { echo "cross-test: $$need not built"; exit 1; }; \
	done; \
	$(CROSS_OBJDUMP) -d --no-show-raw-insn $$objects > $(CROSS_BUILD)/disassembly.txt || exit 1; \
	insn='^[[:space:]]*[0-9a-f]+:[[:space:]]+'; \
	grep -qE "$${insn}fmul[[:space:]]" $(CROSS_BUILD)/disassembly.txt || { echo "cross-test: no aarch64 floating-point code found to check"; exit 1; }; \
	if grep -E "$${insn}(fn?madd|fn?msub|fmla|fmls)[[:space:]]" $(CROSS_BUILD)/disassembly.txt | head -20 | grep .; then \
		echo "cross-test: fused multiply-adds in the aarch64 build (see $(CROSS_BUILD)/disassembly.txt)"; exit 1; \
	fi; \
	echo "cross-test: no fused multiply-add in" $$objects
	cd $(CROSS_BUILD) && ctest --output-on-failure -j$(JOBS)

# Fuzzing: the targets in fuzz/, built with clang into $(FUZZ_BUILD) with
# libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer, each run for
# FUZZ_SECONDS from a copy of its seed corpus (inputs found accumulate in
# $(FUZZ_BUILD)/corpus, crashes land in $(FUZZ_BUILD)/crashes). A crash stops
# the run; its input belongs in fuzz/corpus/TARGET/ once fixed.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 180
FUZZ_TARGETS := decoder_fuzz encoder_fuzz module_fuzz tool_readers_fuzz
FUZZ_PACKAGES := clang libfuzzer-14-dev libclang-rt-14-dev
FUZZ_FLAGS := -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
FUZZ_SANITIZE := -fsanitize=address,undefined

fuzz-deps:
	@missing=$$(for p in $(FUZZ_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || echo $$p; done); \
	if [ -n "$$missing" ]; then \
		echo "Installing:" $$missing; \
		$(SUDO) apt-get update && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y $$missing; \
	fi

fuzz: deps fuzz-deps
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
		-DG729A_FUZZ=ON -DG729A_BUILD_TESTS=OFF -DG729A_BUILD_BENCH=OFF \
		"-DCMAKE_C_FLAGS=$(FUZZ_FLAGS)" "-DCMAKE_CXX_FLAGS=$(FUZZ_FLAGS)" \
		"-DCMAKE_EXE_LINKER_FLAGS=$(FUZZ_SANITIZE)" "-DCMAKE_SHARED_LINKER_FLAGS=$(FUZZ_SANITIZE)" \
		"-DCMAKE_MODULE_LINKER_FLAGS=$(FUZZ_SANITIZE)"
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target fuzz_targets
	@mkdir -p $(FUZZ_BUILD)/crashes
	@for t in $(FUZZ_TARGETS); do \
		mkdir -p $(FUZZ_BUILD)/corpus/$$t && cp fuzz/corpus/$$t/* $(FUZZ_BUILD)/corpus/$$t/ && \
		echo "== $$t: $(FUZZ_SECONDS) s" && \
		$(FUZZ_BUILD)/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 \
			-print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/crashes/$$t- \
			$(FUZZ_BUILD)/corpus/$$t 2>$(FUZZ_BUILD)/$$t.log || { tail -n 60 $(FUZZ_BUILD)/$$t.log; exit 1; }; \
		grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' $(FUZZ_BUILD)/$$t.log; \
	done

# ThreadSanitizer over many channels in parallel threads through the host
# and the real module.
TSAN_BUILD ?= build-tsan
TSAN_FLAGS := -fsanitize=thread -fno-omit-frame-pointer

tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DG729A_BUILD_BENCH=OFF -DG729A_BUILD_TOOLS=OFF \
		"-DCMAKE_CXX_FLAGS=$(TSAN_FLAGS)" "-DCMAKE_EXE_LINKER_FLAGS=$(TSAN_FLAGS)" \
		"-DCMAKE_SHARED_LINKER_FLAGS=$(TSAN_FLAGS)" "-DCMAKE_MODULE_LINKER_FLAGS=$(TSAN_FLAGS)"
	cmake --build $(TSAN_BUILD) -j$(JOBS) --target module_tests
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" $(TSAN_BUILD)/tests/module_tests --gtest_filter='MultiChannel.*'

bench: build
	$(BUILD)/bench/g729a_bench
	$(BUILD)/tests/g729a_block_bench

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(CROSS_BUILD) $(FUZZ_BUILD) $(TSAN_BUILD) $(OUT)
