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

# A primary and a synchronous standby; the tool keeps a change across the
# standby's takeover (needs what make demo needs).
.PHONY: standby-demo
standby-demo: all
	bash scripts/standby-demo.sh

check: all deb
	bash manager/tests/check.sh

clean:
	rm -rf $(BUILD_DIR)

# Installation: make install [PREFIX=/usr/local] [DESTDIR=/staging/root].
# CMake's install manifest lists the installed files without DESTDIR; the
# full paths are kept in $(BUILD_DIR)/installed-files.txt, and make uninstall
# removes exactly those files again.
PREFIX = /usr/local
DESTDIR =

.PHONY: install uninstall

install: all
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"
	awk -v root="$(if $(DESTDIR),$(abspath $(DESTDIR)))" '{ print root $$0 }' \
		$(BUILD_DIR)/install_manifest.txt >$(BUILD_DIR)/installed-files.txt

uninstall:
	bash scripts/uninstall.sh $(BUILD_DIR)/installed-files.txt

# The Debian package, build/deb/param-config_VERSION_ARCH.deb (debhelper).
.PHONY: deb

deb: all
	cmake --build $(BUILD_DIR) --target deb

# ------------------------------------------------------------ proof under stress
# Each runs on its own test bed (Xvfb, twm, a private cluster, the scratch
# graph directory), like check.

.PHONY: memcheck sanitize fuzz bench

# The test suite under valgrind memcheck (a few minutes).
memcheck: all
	bash manager/tests/memcheck.sh

# The test suite built with AddressSanitizer and UndefinedBehaviorSanitizer.
SANITIZE_DIR := $(BUILD_DIR)/sanitize
SANITIZE_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
sanitize: all
	@test -f $(SANITIZE_DIR)/Makefile -o -f $(SANITIZE_DIR)/build.ninja || \
		cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="$(SANITIZE_FLAGS)"
	cmake --build $(SANITIZE_DIR) -j2
	bash manager/tests/sanitize.sh

# libFuzzer on the graph definition rewrite, about a minute (FUZZ_SECONDS).
fuzz:
	bash manager/tests/fuzz.sh

# Figures beside their floors, measured in one run (about two minutes).
bench: all
	cmake --build $(BUILD_DIR) -j2 --target param_config_bench
	bash scripts/bench.sh
