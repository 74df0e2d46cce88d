# Everything an operator or developer needs on a fresh Debian machine.
#   make run    build, then load the module into corvane and transcode the
#               bundled speech sample both ways
#   make test   build and run every test
#   make bench  build and run the benchmarks

BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGES := cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev libsndfile1-dev libsoxr-dev
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
SAMPLE := data/speech_male_librivox.raw
OUT := out

SANITIZE_BUILD ?= build-sanitize
SANITIZE_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer

.PHONY: all deps configure build run test sanitize bench install clean

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

bench: build
	$(BUILD)/bench/g729a_bench
	$(BUILD)/tests/g729a_block_bench

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(OUT)
