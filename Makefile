# Set-up and everyday commands. Each target installs the Debian packages it needs
# when they are missing (run as root on a fresh machine).

BUILD_TEST    ?= build/test
BUILD_RELEASE ?= build/release
BUILD_BENCH   ?= build/bench
BUILD_FUZZ    ?= build/fuzz
FUZZ_SECONDS  ?= 300
WERROR        ?= ON
JOBS          ?= $(shell nproc)

BUILD_DEPS := cmake ninja-build g++ qt6-base-dev libgl-dev zlib1g-dev libgtest-dev
TEST_DEPS  := libarchive-dev locales-all fonts-dejavu-core
BENCH_DEPS := unzip zip gzip curl python3 python3-sgp4 time
FUZZ_DEPS  := clang libfuzzer-14-dev

.PHONY: all deps test-deps bench-deps fuzz-deps test run bench fuzz build clean

all: build

# apt-get only when something is missing, so repeated runs stay quick and offline.
define ensure_packages
	@missing=""; for p in $(1); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	fi
endef

deps:
	$(call ensure_packages,$(BUILD_DEPS))

test-deps: deps
	$(call ensure_packages,$(TEST_DEPS))

bench-deps: deps
	$(call ensure_packages,$(BENCH_DEPS))

fuzz-deps: deps
	$(call ensure_packages,$(FUZZ_DEPS))

build: deps
	cmake -S . -B $(BUILD_RELEASE) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_TESTS=OFF -DQM_WERROR=$(WERROR)
	cmake --build $(BUILD_RELEASE) -j $(JOBS)

# Builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test headless.
test: test-deps
	cmake -S . -B $(BUILD_TEST) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON -DQM_TESTS=ON -DQM_WERROR=$(WERROR)
	cmake --build $(BUILD_TEST) -j $(JOBS)
	cd $(BUILD_TEST) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 300

run: build
	$(BUILD_RELEASE)/src/app/quillmaren $(ARGS)

bench: bench-deps
	cmake -S . -B $(BUILD_BENCH) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQM_TESTS=OFF -DQM_BENCH=ON -DQM_WERROR=$(WERROR)
	cmake --build $(BUILD_BENCH) -j $(JOBS)
	bench/run $(BUILD_BENCH)

# A separate clang build with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer:
# replays the kept corpora in tests/fuzz/corpus, then fuzzes each target FUZZ_SECONDS.
fuzz: fuzz-deps
	cmake -S . -B $(BUILD_FUZZ) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DQM_FUZZ=ON -DQM_TESTS=OFF -DQM_WERROR=$(WERROR)
	cmake --build $(BUILD_FUZZ) -j $(JOBS) --target fuzz_all
	tests/fuzz/run $(BUILD_FUZZ) $(FUZZ_SECONDS)

clean:
	rm -rf build
