# Everything an operator or developer needs on a fresh Debian machine.
#   make run    build, then load the module into corvane and transcode the
#               bundled speech sample both ways
#   make test   build and run every test
#   make bench  build and run the benchmarks
#   make cross-test
#               build for 64-bit ARM with the cross compiler and run the
#               codec and module tests under qemu-user

BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGES := cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev libsndfile1-dev libsoxr-dev \
	libpcap-dev python3-numpy python3-pytest
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

.PHONY: all deps configure build run test sanitize bench install clean cross-deps cross-build cross-test

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

bench: build
	$(BUILD)/bench/g729a_bench
	$(BUILD)/tests/g729a_block_bench

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(CROSS_BUILD) $(OUT)
