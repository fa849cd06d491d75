# make test: install what is missing, build, run every test.
# make demo: install, build, run the plug-in in the stand-in game and host.
# make package: the release archives, Quelbrand-<version>.zip and
# Quelbrand-<version>-symbols.zip, in $(PACKAGE_DIR).
BUILD ?= build
NATIVE_BUILD ?= build-native
SANITIZE_BUILD ?= build-sanitize
PACKAGE_DIR ?= package
# Seconds each fuzz target runs in `make test`; longer by hand with `make fuzz`.
FUZZ_SECONDS ?= 60
FUZZ_SEED ?= 1
JOBS ?= $(shell nproc)

.PHONY: all bootstrap build build-native build-sanitize test fuzz package demo bench format clean

all: build

bootstrap:
	@tools/bootstrap

CROSS_CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: bootstrap
	$(CROSS_CONFIGURE)
	cmake --build $(BUILD) -j $(JOBS)

build-native: bootstrap
	cmake -S . -B $(NATIVE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(NATIVE_BUILD) -j $(JOBS)

# The pure parts and the checker with AddressSanitizer and
# UndefinedBehaviorSanitizer, and the fuzz targets (clang).
build-sanitize: bootstrap
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELBRAND_SANITIZE=ON -DQUELBRAND_FUZZ=ON \
	  -DQUELBRAND_FUZZ_SECONDS=$(FUZZ_SECONDS) -DQUELBRAND_FUZZ_SEED=$(FUZZ_SEED)
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)

test: build build-native build-sanitize
	cd $(NATIVE_BUILD) && ctest --output-on-failure -j $(JOBS)
	cd $(SANITIZE_BUILD) && ctest --output-on-failure -j $(JOBS)
	# A Windows test that times out is run again, up to twice: under qemu-user
	# an occasional process exit hangs in the emulator (seen once per full run,
	# in the memory install tests).
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --repeat after-timeout:3

fuzz: build-sanitize
	cd $(SANITIZE_BUILD) && ctest --output-on-failure -R '^fuzz_'

# Builds only what the archives hold.
package: bootstrap
	$(CROSS_CONFIGURE)
	cmake --build $(BUILD) -j $(JOBS) --target Quelbrand quelbrand-ddscheck
	@tools/package $(BUILD) $(PACKAGE_DIR)

demo: build
	@tools/demo $(BUILD)

bench: build build-native
	@tools/bench $(BUILD)
	$(NATIVE_BUILD)/ddscheck_bench

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(NATIVE_BUILD) $(SANITIZE_BUILD) $(PACKAGE_DIR)
