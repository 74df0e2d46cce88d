# Everything an operator or developer needs on a fresh Debian machine.
#   make run    build, then load the module into corvane and transcode the
#               bundled speech sample both ways
#   make test   build and run every test
#   make bench  build and run the benchmarks
#   make fuzz   build the fuzz targets with clang and libFuzzer and run each
#               for FUZZ_SECONDS
#   make tsan   the multi-channel test under ThreadSanitizer

BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGES := cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev libsndfile1-dev libsoxr-dev
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
SAMPLE := data/speech_male_librivox.raw
OUT := out

SANITIZE_BUILD ?= build-sanitize
SANITIZE_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer

.PHONY: all deps configure build run test sanitize bench install clean fuzz fuzz-deps tsan

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

run: build
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
		"-DCMAKE_CXX_FLAGS=$(SANITIZE_FLAGS)" "-DCMAKE_EXE_LINKER_FLAGS=$(SANITIZE_FLAGS)" \
		"-DCMAKE_SHARED_LINKER_FLAGS=$(SANITIZE_FLAGS)" "-DCMAKE_MODULE_LINKER_FLAGS=$(SANITIZE_FLAGS)"
	cmake --build $(SANITIZE_BUILD) -j$(JOBS)
	cd $(SANITIZE_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j$(JOBS)

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

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD) $(TSAN_BUILD) $(OUT)
