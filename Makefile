# make test: install what is missing, build, run every test.
# make demo: install, build, run the plug-in in the stand-in game and host.
BUILD ?= build
NATIVE_BUILD ?= build-native
JOBS ?= $(shell nproc)

.PHONY: all bootstrap build build-native test demo bench format clean

all: build

bootstrap:
	@tools/bootstrap

build: bootstrap
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

build-native: bootstrap
	cmake -S . -B $(NATIVE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(NATIVE_BUILD) -j $(JOBS)

test: build build-native
	cd $(NATIVE_BUILD) && ctest --output-on-failure -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	@tools/demo $(BUILD)

bench: build
	@tools/bench $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(NATIVE_BUILD)
