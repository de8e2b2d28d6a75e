# Entry points. Each target first installs the Debian packages it is missing (fast when none is):
# tools/deps.txt for the player, plus tools/deps-<target>.txt for what a target adds.
JOBS ?= $(shell nproc)
BUILD ?= build
MAKEFLAGS += --no-print-directory

INSTALL = tools/install-deps.sh
PLAYER_DEPS = tools/deps.txt
TEST_DEPS = $(PLAYER_DEPS) tools/deps-test.txt
# What `make run` builds: the player, its platform library, the volume control and the tool
# that registers it.
PLAYER_TARGETS = quiva quiva-platform Dalvex quiva-regsvr
# The tests that start no server of their own and are no end-to-end run of the real player.
SERVER_LABELS = ^(x11|wayland|pulse|dbus|e2e|package|soak)$$
# WERROR=ON makes every compiler warning of the player and test build an error (CI sets it).
WERROR ?= OFF

.PHONY: player build run check test test-fonts test-pipewire soak test-asan test-tsan bench deb fuzz \
	format format-check build-clang clean

player:
	@$(INSTALL) $(PLAYER_DEPS)
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUIVA_WERROR=$(WERROR) >/dev/null
	cmake --build $(BUILD) -j $(JOBS) --target $(PLAYER_TARGETS)

build:
	@$(INSTALL) $(TEST_DEPS)
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUIVA_TESTS=ON \
		-DQUIVA_WERROR=$(WERROR) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

# The volume control is registered before the player starts, so that the slider drives it; if
# that fails, the player says so once and runs without it. Both use the build's own store in
# place of the user's, which an installed package's registration must not be shadowed in.
run: export QUIVA_REGISTRY = $(abspath $(BUILD))/registry.reg
run: player
	-$(BUILD)/bin/quiva-regsvr $(BUILD)/lib/libDalvex.so
	$(BUILD)/bin/quiva

# The unit and offscreen widget tests: those that start no server, for the edit-compile-test loop.
check: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE '$(SERVER_LABELS)'

# Every test, the soak test among them (label "soak": minutes of random clicks on the real binary).
test: build
	tools/run-tests.sh $(BUILD) --output-on-failure -j $(JOBS)

# The end-to-end tests but the soak test once more, on the fonts of a machine that has DejaVu
# alone (see tests/fonts-dejavu.conf.in): `make test` runs them on this machine's own fonts, and
# the skin's typeface falls to faces of other metrics on the two.
test-fonts: build
	FONTCONFIG_FILE=$(abspath $(BUILD))/fonts-dejavu.conf \
		tools/run-tests.sh $(BUILD) --output-on-failure -j $(JOBS) -L e2e -LE soak

# The tests that start a sound server once more, on a private PipeWire with its pulse server (as
# most desktops run it) in place of PulseAudio. Not the soak test: minutes of the same player,
# which `make test` runs on PulseAudio. Not MprisEndToEndTest: its 100 ms from a click to the
# signal holds on PulseAudio only, where a pause's fade is not placed a whole graph cycle ahead.
test-pipewire: build
	QUIVA_TEST_SOUND_SERVER=pipewire tools/run-tests.sh $(BUILD) --output-on-failure -j $(JOBS) \
		-L pulse -LE soak -E '^MprisEndToEndTest$$'

# The soak test alone, for SOAK_SECONDS (default 180, at most 780 within its 15-minute limit) in
# the order of SOAK_SEED (default random; a failed run shows its seed).
soak: build
	QUIVA_SOAK_SECONDS=$(SOAK_SECONDS) QUIVA_SOAK_SEED=$(SOAK_SEED) \
		tools/run-tests.sh $(BUILD) --output-on-failure -L soak

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, and the tests of code
# that crosses threads (labelled "threads") under ThreadSanitizer. Every test's time limit is
# stretched by the slowdown its sanitizer brings.
test-asan:
	@$(INSTALL) $(TEST_DEPS)
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQUIVA_TESTS=ON \
		-DQUIVA_SANITIZE=address,undefined -DQUIVA_TIMEOUT_SCALE=3 >/dev/null
	cmake --build build-asan -j $(JOBS)
	tools/run-tests.sh build-asan --output-on-failure -j $(JOBS)

test-tsan:
	@$(INSTALL) $(TEST_DEPS)
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DQUIVA_TESTS=ON \
		-DQUIVA_SANITIZE=thread -DQUIVA_TIMEOUT_SCALE=5 >/dev/null
	cmake --build build-tsan -j $(JOBS)
	tools/run-tests.sh build-tsan --output-on-failure -L threads

# The peers that bench/peers.sh measures quiva against are installed here only.
bench: build
	@$(INSTALL) tools/deps-bench.txt
	bench/run.sh $(BUILD)

# The Debian package build-deb/quiva_<version>_<arch>.deb (a Release build), then the test of the
# installed player run on that package unpacked into a temporary root under a private Xvfb, and
# its maintainer scripts run by dpkg on throw-away overlays of /usr, /etc and /var.
deb:
	@$(INSTALL) $(TEST_DEPS) tools/deps-deb.txt
	cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DQUIVA_TESTS=ON \
		-DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
	cmake --build build-deb -j $(JOBS) --target $(PLAYER_TARGETS) PackageTest
	cd build-deb && rm -f quiva_*.deb && cpack -G DEB
	cd build-deb && QUIVA_DEB="$$(ls $(CURDIR)/build-deb/quiva_*.deb)" ctest -L package --output-on-failure
	packaging/check-maintainer-scripts.sh build-deb/quiva_*.deb

# Every fuzz target for FUZZ_SECONDS each (clang, libFuzzer, ASan+UBSan); see fuzz/run.sh.
FUZZ_SECONDS ?= 60
fuzz:
	@$(INSTALL) $(TEST_DEPS) tools/deps-fuzz.txt
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DQUIVA_SANITIZE=address,undefined -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link \
		-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
	cmake --build build-fuzz -j $(JOBS) --target quiva-fuzz
	fuzz/run.sh build-fuzz $(FUZZ_SECONDS)

# The C++ sources as .clang-format says: `format` rewrites them, `format-check` fails on a
# difference (see tools/format.sh).
format:
	@$(INSTALL) tools/deps-format.txt
	tools/format.sh

format-check:
	@$(INSTALL) tools/deps-format.txt
	tools/format.sh --check

# Every target built by clang, the compiler of `make fuzz`, with its warnings as errors: it warns
# where GCC does not. No optimisation and no debug information, since only the warnings count.
build-clang:
	@$(INSTALL) $(TEST_DEPS) tools/deps-fuzz.txt
	CC=clang CXX=clang++ cmake -S . -B build-clang -DCMAKE_BUILD_TYPE= -DQUIVA_TESTS=ON \
		-DQUIVA_WERROR=ON >/dev/null
	cmake --build build-clang -j $(JOBS)

clean:
	rm -rf build build-asan build-tsan build-fuzz build-deb build-clang
