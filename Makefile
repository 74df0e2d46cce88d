# Everything an operator or developer needs on a fresh Debian machine.
#   make run    build, then load the module into corvane and transcode the
#               bundled speech sample both ways
#   make test   build and run every test
#   make bench  build and run the benchmarks
#   make sanitize
#               every test with AddressSanitizer and UndefinedBehaviorSanitizer
#   make fuzz   build the fuzz targets with clang and libFuzzer and run each
#               for FUZZ_SECONDS
#   make tsan   the multi-channel test under ThreadSanitizer
#   make cross-test
#               build for 64-bit ARM with the cross compiler and run the
#               codec and module tests under qemu-user
#   make clean  remove every build folder
# Each variant builds into a folder of its own (VARIANT_BUILDS).

BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
SAMPLE := data/speech_male_librivox.raw
# The trunk capture of the capture memory benchmark, in MB.
CAPTURE_MB ?= 1024
OUT := out

# The Debian packages are listed once, in packages/ (one file per purpose);
# packages/install installs those of the named lists that are missing.
INSTALL_PACKAGES := packages/install

# Every build variant has a folder of its own and is configured the same
# way: $(call configure-variant,FOLDER,CMAKE OPTIONS,COMPILE FLAGS,LINK FLAGS)
configure-variant = cmake -S . -B $(1) $(2) \
	$(if $(3),"-DCMAKE_C_FLAGS=$(3)" "-DCMAKE_CXX_FLAGS=$(3)") \
	$(if $(4),"-DCMAKE_EXE_LINKER_FLAGS=$(4)" "-DCMAKE_SHARED_LINKER_FLAGS=$(4)" "-DCMAKE_MODULE_LINKER_FLAGS=$(4)")

# The tests again with AddressSanitizer and UndefinedBehaviorSanitizer: any
# out-of-bounds access, overflow or invalid conversion fails the run. The
# reference vectors also prove that another optimisation level gives the
# same bits.
SANITIZE_BUILD ?= build-sanitize
SANITIZE_CMAKE := -DCMAKE_BUILD_TYPE=RelWithDebInfo -DG729A_BUILD_BENCH=OFF
SANITIZE_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer

# ThreadSanitizer over many channels in parallel threads through the host
# and the real module.
TSAN_BUILD ?= build-tsan
TSAN_CMAKE := -DCMAKE_BUILD_TYPE=RelWithDebInfo -DG729A_BUILD_BENCH=OFF -DG729A_BUILD_TOOLS=OFF
TSAN_FLAGS := -fsanitize=thread -fno-omit-frame-pointer

# 64-bit ARM: the codec library, the module, the host and the codec and
# module tests (every reference vector among them, and the check that no
# fused multiply-add reaches the codec) built with Debian's cross compiler
# and run under qemu-user. GoogleTest is built for the target from the
# sources Debian ships. The tools (libsndfile, libsoxr, libpcap) and
# benchmarks are left out.
CROSS_BUILD ?= build-aarch64
CROSS_TOOLCHAIN := $(CURDIR)/cmake/aarch64-linux-gnu.cmake
CROSS_GTEST_SOURCE ?= /usr/src/googletest
CROSS_GTEST := $(abspath $(CROSS_BUILD))/googletest-install
CROSS_CMAKE := -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=$(CROSS_TOOLCHAIN) \
	-DG729A_BUILD_TOOLS=OFF -DG729A_BUILD_BENCH=OFF -DGTest_DIR=$(CROSS_GTEST)/lib/cmake/GTest

# Fuzzing: the targets in fuzz/, built with clang with libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer, each run for FUZZ_SECONDS
# from a copy of its seed corpus (inputs found accumulate in
# $(FUZZ_BUILD)/corpus, crashes land in $(FUZZ_BUILD)/crashes). A crash
# stops the run; its input belongs in fuzz/corpus/TARGET/ once fixed.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 180
FUZZ_TARGETS := decoder_fuzz encoder_fuzz module_fuzz tool_readers_fuzz capture_commands_fuzz
FUZZ_CMAKE := -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	-DG729A_FUZZ=ON -DG729A_BUILD_TESTS=OFF -DG729A_BUILD_BENCH=OFF
FUZZ_FLAGS := -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
FUZZ_LINK_FLAGS := -fsanitize=address,undefined

VARIANT_BUILDS := $(BUILD) $(SANITIZE_BUILD) $(TSAN_BUILD) $(CROSS_BUILD) $(FUZZ_BUILD)

.PHONY: all deps configure build run test sanitize bench install clean cross-deps cross-build cross-test fuzz fuzz-deps tsan

all: build

deps:
	@$(INSTALL_PACKAGES) build

cross-deps:
	@$(INSTALL_PACKAGES) cross

fuzz-deps:
	@$(INSTALL_PACKAGES) build fuzz

configure: deps
	$(call configure-variant,$(BUILD),-DCMAKE_BUILD_TYPE=Release)

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

sanitize: deps
	$(call configure-variant,$(SANITIZE_BUILD),$(SANITIZE_CMAKE),$(SANITIZE_FLAGS),$(SANITIZE_FLAGS))
	cmake --build $(SANITIZE_BUILD) -j$(JOBS)
	cd $(SANITIZE_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j$(JOBS)

tsan: deps
	$(call configure-variant,$(TSAN_BUILD),$(TSAN_CMAKE),$(TSAN_FLAGS),$(TSAN_FLAGS))
	cmake --build $(TSAN_BUILD) -j$(JOBS) --target module_tests
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" $(TSAN_BUILD)/tests/module_tests --gtest_filter='MultiChannel.*'

cross-build: cross-deps
	@if [ ! -f $(CROSS_GTEST)/lib/cmake/GTest/GTestConfig.cmake ]; then \
		cmake -S $(CROSS_GTEST_SOURCE) -B $(CROSS_BUILD)/googletest -DCMAKE_BUILD_TYPE=Release \
			-DCMAKE_TOOLCHAIN_FILE=$(CROSS_TOOLCHAIN) -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX=$(CROSS_GTEST) && \
		cmake --build $(CROSS_BUILD)/googletest -j$(JOBS) && \
		cmake --install $(CROSS_BUILD)/googletest; \
	fi
	$(call configure-variant,$(CROSS_BUILD),$(CROSS_CMAKE))
	cmake --build $(CROSS_BUILD) -j$(JOBS)

cross-test: cross-build
	cd $(CROSS_BUILD) && ctest --output-on-failure -j$(JOBS)

fuzz: fuzz-deps
	$(call configure-variant,$(FUZZ_BUILD),$(FUZZ_CMAKE),$(FUZZ_FLAGS),$(FUZZ_LINK_FLAGS))
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

bench: build
	$(BUILD)/bench/g729a_bench
	$(BUILD)/tests/g729a_block_bench
	python3 bench/capture_memory.py $(BUILD)/tools/g729a $(CAPTURE_MB)
	$(BUILD)/bench/g729a_concealment_bench
	$(BUILD)/bench/g729a_dtx_bench

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(VARIANT_BUILDS) $(OUT)
