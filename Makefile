# Entry points. Each target installs missing Debian packages first (fast when nothing is missing).
JOBS ?= $(shell nproc)
BUILD ?= build

.PHONY: deps build run test soak test-asan test-tsan bench deb fuzz clean

deps:
	@tools/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

# The volume control is registered (in the per-user store) before the player starts, so that
# the slider drives it; if that fails, the player says so once and runs without it.
run: build
	-$(BUILD)/bin/quiva-regsvr $(BUILD)/lib/libDalvex.so
	$(BUILD)/bin/quiva

# Every test, the soak test among them (label "soak": minutes of random clicks on the real binary).
test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

# The soak test alone, for SOAK_SECONDS (default 180, at most 780 within its 15-minute limit) in
# the order of SOAK_SEED (default random; a failed run shows its seed).
soak: build
	cd $(BUILD) && QUIVA_SOAK_SECONDS=$(SOAK_SECONDS) QUIVA_SOAK_SEED=$(SOAK_SEED) \
		ctest --output-on-failure -L soak

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQUIVA_SANITIZE=address,undefined >/dev/null
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS) --timeout 900

# The tests of code that crosses threads (labelled "threads") under ThreadSanitizer.
test-tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DQUIVA_SANITIZE=thread >/dev/null
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && ctest --output-on-failure -L threads --timeout 900

# The peers that bench/peers.sh measures quiva against are installed here only.
bench: build
	@tools/install-deps.sh tools/bench-deps.txt
	bench/run.sh $(BUILD)

# The Debian package build-deb/quiva_<version>_<arch>.deb (a Release build), then the test of the
# installed player run on that package unpacked into a temporary root under a private Xvfb, and
# its maintainer scripts run by dpkg on throw-away overlays of /usr, /etc and /var.
deb: deps
	cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
	cmake --build build-deb -j $(JOBS) --target quiva quiva-platform Dalvex quiva-regsvr PackageTest
	cd build-deb && rm -f quiva_*.deb && cpack -G DEB
	cd build-deb && QUIVA_DEB="$$(ls $(CURDIR)/build-deb/quiva_*.deb)" ctest -L package --output-on-failure
	packaging/check-maintainer-scripts.sh build-deb/quiva_*.deb

# Every fuzz target for FUZZ_SECONDS each (clang, libFuzzer, ASan+UBSan); see fuzz/run.sh.
FUZZ_SECONDS ?= 60
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DQUIVA_SANITIZE=address,undefined -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link \
		-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
	cmake --build build-fuzz -j $(JOBS) --target quiva-fuzz
	fuzz/run.sh build-fuzz $(FUZZ_SECONDS)

clean:
	rm -rf build build-asan build-tsan build-fuzz build-deb
