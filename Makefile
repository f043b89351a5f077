# Thin wrapper around the CMake build in build/.

BUILD_DIR := build

.PHONY: all demo check clean

all:
	bash scripts/install-deps.sh
	@test -f $(BUILD_DIR)/CMakeCache.txt || cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(BUILD_DIR) -j2

demo: all
	bash scripts/demo.sh

check: all
	bash scripts/check.sh

clean:
	rm -rf $(BUILD_DIR)
