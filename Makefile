# make run   sets up this machine, builds, and starts the program on the bundled demo.
# make test  sets up this machine, builds with AddressSanitizer and UndefinedBehaviorSanitizer,
#            and runs every test.
# make fuzz  runs every fuzz target for FUZZ_SECONDS (60) seconds.
BUILD_DIR ?= build
TEST_BUILD_DIR ?= build-test
JOBS ?= $(shell nproc)

FUZZ_SECONDS ?= 60

.PHONY: setup build run test fuzz format clean

setup:
	scripts/setup

build: setup
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWFB_TESTS=OFF
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	scripts/run-demo $(BUILD_DIR)

test: setup
	cmake -S . -B $(TEST_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DWFB_SANITIZE=ON
	cmake --build $(TEST_BUILD_DIR) -j $(JOBS)
	cd $(TEST_BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

fuzz: setup
	scripts/fuzz $(FUZZ_SECONDS)

format:
	git ls-files -co --exclude-standard '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(TEST_BUILD_DIR)
