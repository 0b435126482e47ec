# Set-up and everyday commands. Each target installs the Debian packages it needs
# when they are missing (run as root on a fresh machine).

BUILD_TEST    ?= build/test
BUILD_RELEASE ?= build/release
BUILD_BENCH   ?= build/bench
BUILD_PACKAGE ?= build/package
BUILD_FUZZ    ?= build/fuzz
FUZZ_SECONDS  ?= 300
WERROR        ?= ON
JOBS          ?= $(shell nproc)

BUILD_DEPS := cmake ninja-build g++ qt6-base-dev libgl-dev zlib1g-dev libisal-dev libssl-dev libgtest-dev
# squid and apache2-utils (htpasswd): whole runs through a real proxy with Basic authentication.
# dunst, dbus and xvfb: desktop notifications received by a real notification service.
# at-spi2-core and python3-pyatspi, with xvfb and dbus: the window read through the
# accessibility bus.
TEST_DEPS  := libarchive-dev locales-all fonts-dejavu-core python3 python3-sgp4 openssl squid apache2-utils \
	dunst dbus xvfb at-spi2-core python3-pyatspi
BENCH_DEPS := unzip zip gzip curl python3 python3-sgp4 time openssl
DEMO_DEPS  := python3
# dpkg-shlibdeps, which names the libraries the package depends on.
PACKAGE_DEPS := dpkg-dev file gzip
# Debian's, the software centres' and the desktop's checkers of the package and its files.
PACKAGE_TEST_DEPS := lintian appstream desktop-file-utils
FUZZ_DEPS  := clang libfuzzer-14-dev
# The demo's throw-away home and the local service's generated catalogues.
DEMO_DIR      ?= build/demo
SERVICE_CACHE ?= build/local-service

CONFIGURE_TEST = cmake -S . -B $(BUILD_TEST) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON -DQM_TESTS=ON \
	-DQM_WERROR=$(WERROR) -DQM_PACKAGE_DIR=$(abspath $(BUILD_PACKAGE))

.PHONY: all deps test-deps bench-deps package-deps package-test-deps demo-deps fuzz-deps test run demo demo-gui bench fuzz build package package-test clean

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

package-deps: deps
	$(call ensure_packages,$(PACKAGE_DEPS))

package-test-deps: package-deps
	$(call ensure_packages,$(PACKAGE_TEST_DEPS))

demo-deps: deps
	$(call ensure_packages,$(DEMO_DEPS))

fuzz-deps: deps
	$(call ensure_packages,$(FUZZ_DEPS))

build: deps
	cmake -S . -B $(BUILD_RELEASE) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_TESTS=OFF -DQM_WERROR=$(WERROR)
	cmake --build $(BUILD_RELEASE) -j $(JOBS)

# Builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test headless.
test: test-deps
	$(CONFIGURE_TEST)
	cmake --build $(BUILD_TEST) -j $(JOBS)
	cd $(BUILD_TEST) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 300

run: build
	$(BUILD_RELEASE)/src/app/quillmaren $(ARGS)

# The main job on the bundled local service: "quillmaren -update" without a display in a
# throw-away home under $(DEMO_DIR), then what it built and how long each stage took.
demo: demo-deps build
	python3 tools/demo $(BUILD_RELEASE)/src/app/quillmaren $(DEMO_DIR) $(SERVICE_CACHE)

# The window on the same service and home.
demo-gui: demo-deps build
	python3 tools/demo --gui $(BUILD_RELEASE)/src/app/quillmaren $(DEMO_DIR) $(SERVICE_CACHE)

bench: bench-deps
	cmake -S . -B $(BUILD_BENCH) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQM_TESTS=OFF -DQM_BENCH=ON -DQM_WERROR=$(WERROR)
	cmake --build $(BUILD_BENCH) -j $(JOBS)
	bench/run $(BUILD_BENCH)

# The Debian package, from an optimised build without sanitizers: $(BUILD_PACKAGE)/quillmaren_*.deb
package: package-deps
	cmake -S . -B $(BUILD_PACKAGE) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQM_SANITIZE=OFF -DQM_TESTS=OFF -DQM_WERROR=$(WERROR)
	cmake --build $(BUILD_PACKAGE) -j $(JOBS) --target package

# lintian on the package, appstreamcli and desktop-file-validate on its metadata and menu
# entry (any error or warning fails), then the package unpacked into a throw-away root
# and its update run against the local catalogue service. `make test` has that test
# too, skipped while no package is built.
package-test: package test-deps package-test-deps
	@# Its dependencies resolve from the archive (a dry run: nothing is installed).
	apt-get install -s -qq --no-install-recommends ./$(BUILD_PACKAGE)/quillmaren_*.deb >/dev/null
	lintian --fail-on error,warning $(if $(filter 0,$(shell id -u)),--allow-root) $(BUILD_PACKAGE)/quillmaren_*.deb
	rm -rf $(BUILD_PACKAGE)/unpacked && dpkg-deb -x $(BUILD_PACKAGE)/quillmaren_*.deb $(BUILD_PACKAGE)/unpacked
	appstreamcli validate --no-net $(BUILD_PACKAGE)/unpacked/usr/share/metainfo/*.metainfo.xml
	@# It says nothing about an entry that is right, and exits with 0 after a warning.
	@out=$$(desktop-file-validate $(BUILD_PACKAGE)/unpacked/usr/share/applications/*.desktop 2>&1); \
	  echo "$$out"; test -z "$$out"
	$(CONFIGURE_TEST)
	cmake --build $(BUILD_TEST) -j $(JOBS) --target test_package_installed
	cd $(BUILD_TEST) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 -R '^InstalledPackage\.'

# A separate clang build with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer:
# replays the kept corpora in tests/fuzz/corpus, then fuzzes each target FUZZ_SECONDS.
fuzz: fuzz-deps
	cmake -S . -B $(BUILD_FUZZ) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DQM_FUZZ=ON -DQM_TESTS=OFF -DQM_WERROR=$(WERROR)
	cmake --build $(BUILD_FUZZ) -j $(JOBS) --target fuzz_all
	tests/fuzz/run $(BUILD_FUZZ) $(FUZZ_SECONDS)

clean:
	rm -rf build
