# Thin wrapper around the CMake build in build/.

BUILD_DIR := build

# cmake --build runs make again underneath; one set of directory messages is enough.
MAKEFLAGS += --no-print-directory

.PHONY: all demo check clean

all:
	bash scripts/install-deps.sh
	@# A configure that failed leaves a cache but no build files: configure again.
	@test -f $(BUILD_DIR)/Makefile -o -f $(BUILD_DIR)/build.ninja || \
		cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(BUILD_DIR) -j2

demo: all
	bash scripts/demo.sh

check: all
	bash scripts/check.sh

clean:
	rm -rf $(BUILD_DIR)
